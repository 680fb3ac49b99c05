#include "HttpTransfer.h"

#include "ServiceError.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>

void RequestAbort::abort()
{
    if (m_aborted)
        return;
    m_aborted = true;
    Q_EMIT aborted();
}

QByteArray HttpTransfer::userAgent()
{
    return QByteArrayLiteral("ZeltShare/" ZELT_VERSION " (Linux)");
}

void HttpTransfer::applyCommonSettings(QNetworkRequest &request)
{
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
}

namespace {

// Errors below the content range (network layer and proxy) mean no usable answer arrived,
// even when a status line had been read before the connection broke.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

// The replies in flight, and the managers not yet deleted. Main thread only.
QList<QNetworkReply *> &repliesInFlight()
{
    static QList<QNetworkReply *> replies;
    return replies;
}
int liveManagers = 0;
bool abortingAll = false;

TransportError canceled()
{
    return TransportError(QNetworkReply::OperationCanceledError,
                          QNetworkReply::tr("Operation canceled"));
}

// The network objects of one transfer. The coroutine resumes inside the reply's own
// finished() emission, where deleting the reply is not allowed, so they go with deleteLater()
// once every connection into the coroutine's frame is cut.
struct TransferObjects
{
    QNetworkAccessManager *manager = new QNetworkAccessManager;
    QNetworkReply *reply = nullptr;
    QList<QMetaObject::Connection> connections;

    TransferObjects()
    {
        ++liveManagers;
        QObject::connect(manager, &QObject::destroyed, [] { --liveManagers; });
    }
    TransferObjects(const TransferObjects &) = delete;
    TransferObjects &operator=(const TransferObjects &) = delete;
    ~TransferObjects()
    {
        for (const auto &connection : std::as_const(connections))
            QObject::disconnect(connection);
        if (reply) {
            repliesInFlight().removeOne(reply);
            reply->disconnect();
        }
        manager->deleteLater();
    }

    void start(QNetworkReply *started)
    {
        reply = started;
        repliesInFlight().append(started);
    }
};

} // namespace

QCoro::Task<HttpResponse> HttpTransfer::run(Request request)
{
    if (abortingAll || (request.abort && request.abort->isAborted()))
        throw canceled();

    applyCommonSettings(request.request);
    if (request.followRedirects)
        request.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                     QNetworkRequest::NoLessSafeRedirectPolicy);

    TransferObjects objects;
    auto &manager = *objects.manager;
    if (request.body.isNull() && request.method == "GET")
        objects.start(manager.get(request.request));
    else
        objects.start(manager.sendCustomRequest(request.request, request.method, request.body));

    HttpResponse response;
    bool abortedByCaller = false;
    const auto ceiling = request.maximumBodySize;
    QNetworkReply *raw = objects.reply;

    // Read as the bytes arrive so that an oversized body is never held whole.
    auto drain = [raw, &response, ceiling] {
        if (response.bodyTooLarge || !raw->isOpen())
            return;
        if (response.body.size() + raw->bytesAvailable() > ceiling) {
            response.bodyTooLarge = true;
            raw->abort();
            return;
        }
        response.body += raw->readAll();
    };
    objects.connections.append(
        QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, [raw, &response, ceiling] {
            const auto length = raw->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > ceiling) {
                response.bodyTooLarge = true;
                raw->abort();
            }
        }));
    objects.connections.append(QObject::connect(raw, &QNetworkReply::readyRead, raw, drain));
    if (request.abort) {
        objects.connections.append(QObject::connect(request.abort.data(), &RequestAbort::aborted,
                                                    raw, [raw, &abortedByCaller] {
                                                        abortedByCaller = true;
                                                        raw->abort();
                                                    }));
    }

    co_await raw;
    if (!response.bodyTooLarge)
        drain();
    const auto status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // The status line and the headers of an answer whose body went past the ceiling still
    // count: the response check reads them (a refused session, a rotated cookie).
    response.url = raw->url();
    response.headerFields = raw->rawHeaderPairs();
    if (response.bodyTooLarge) {
        if (status.isValid())
            response.statusCode = status.toInt();
        co_return response;
    }

    const auto error = raw->error();
    if (error == QNetworkReply::OperationCanceledError && abortingAll)
        throw canceled();
    if (error == QNetworkReply::OperationCanceledError && !abortedByCaller)
        throw TransportError(QNetworkReply::TimeoutError, ServiceText::timedOut());
    if (isTransportFailure(error) || (error != QNetworkReply::NoError && !status.isValid()))
        throw TransportError(error, raw->errorString());

    if (status.isValid())
        response.statusCode = status.toInt();
    co_return response;
}

void HttpTransfer::abortAll()
{
    abortingAll = true;
    // Each abort resumes the coroutine of its transfer, which takes its reply off the list.
    while (!repliesInFlight().isEmpty()) {
        auto *reply = repliesInFlight().takeFirst();
        reply->abort();
    }
}

int HttpTransfer::liveTransfers()
{
    return liveManagers;
}
