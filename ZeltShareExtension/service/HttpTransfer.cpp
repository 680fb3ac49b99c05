#include "HttpTransfer.h"

#include "EnvironmentProxyFactory.h"
#include "ServiceError.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>

#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;

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
    // Bodies are handed over as sequential devices (see OneTryBody), which Qt can neither
    // rewind nor, with this, copy aside: when a connection breaks under a request, the request
    // fails instead of going out again on a new one.
    request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
}

namespace {

// A request body that can be read once, from the start to the end, and never rewound. Qt sends
// a body again on a new connection when the old one broke (even a PUT whose bytes the server
// may already have), but only when it can reset the device: this one refuses.
class OneTryBody : public QIODevice
{
public:
    explicit OneTryBody(QByteArray bytes, QObject *parent)
        : QIODevice(parent)
        , m_bytes(std::move(bytes))
        , m_size(m_bytes.size())
    {
        QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    OneTryBody(const QString &fileName, QObject *parent)
        : QIODevice(parent)
        , m_file(std::make_unique<QFile>(fileName))
    {
        if (!m_file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            setErrorString(m_file->errorString());
            return;
        }
        m_size = m_file->size();
        QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    qint64 length() const { return m_size; }
    bool isSequential() const override { return true; }
    bool seek(qint64) override { return false; }
    bool reset() override { return false; }
    bool atEnd() const override { return m_read >= m_size && QIODevice::bytesAvailable() == 0; }
    qint64 bytesAvailable() const override
    {
        return (m_size - m_read) + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 wanted = qMin(maxSize, m_size - m_read);
        if (wanted <= 0)
            return m_read >= m_size ? -1 : 0;
        qint64 got = 0;
        if (m_file) {
            got = m_file->read(data, wanted);
            // A file that ends before its size would leave the request waiting for the rest.
            if (got <= 0) {
                setErrorString(got < 0 ? m_file->errorString() : u"The file ended early"_s);
                return -1;
            }
        } else {
            std::memcpy(data, m_bytes.constData() + m_read, size_t(wanted));
            got = wanted;
        }
        m_read += got;
        return got;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    std::unique_ptr<QFile> m_file;
    QByteArray m_bytes;
    qint64 m_size = 0;
    qint64 m_read = 0;
};

// Errors below the content range (network layer and proxy) mean no usable answer arrived,
// even when a status line had been read before the connection broke.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

// Main thread only.
QList<QNetworkReply *> &repliesInFlight()
{
    static QList<QNetworkReply *> replies;
    return replies;
}
QList<QPointer<QNetworkAccessManager>> &managers()
{
    static QList<QPointer<QNetworkAccessManager>> list;
    return list;
}
int liveObjects = 0;
bool abortingAll = false;

void counted(QObject *object)
{
    ++liveObjects;
    QObject::connect(object, &QObject::destroyed, [] { --liveObjects; });
}

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
    QPointer<QNetworkAccessManager> ownManager;
    QPointer<QNetworkReply> reply;
    QList<QMetaObject::Connection> connections;

    TransferObjects() = default;
    TransferObjects(const TransferObjects &) = delete;
    TransferObjects &operator=(const TransferObjects &) = delete;
    ~TransferObjects()
    {
        for (const auto &connection : std::as_const(connections))
            QObject::disconnect(connection);
        if (reply) {
            repliesInFlight().removeOne(reply.data());
            reply->disconnect();
            reply->deleteLater();
        }
        if (ownManager)
            ownManager->deleteLater();
    }

    void start(QNetworkReply *started)
    {
        reply = started;
        counted(started);
        repliesInFlight().append(started);
    }
};

} // namespace

namespace {

QNetworkAccessManager *newManager()
{
    auto *manager = new QNetworkAccessManager;
    counted(manager);
    // The jar is never consulted (cookies are set by hand on each request, and the requests
    // say so), and there is no cache unless one is set.
    manager->setProxyFactory(new EnvironmentProxyFactory);
    manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    return manager;
}

// Qt 6.4 reports a proxy that refused the credentials of its URL (a second 407 on the CONNECT)
// not as a refusal but as a failed exchange with the proxy ("Error communicating with HTTP
// proxy", an unknown network error), without asking for other credentials first.
bool proxyRefusedCredentials(QNetworkAccessManager &manager, const QUrl &url,
                             QNetworkReply::NetworkError error, bool proxyAsked)
{
    const bool proxyError = (error >= QNetworkReply::ProxyConnectionRefusedError &&
                             error <= QNetworkReply::UnknownProxyError) ||
                            error == QNetworkReply::UnknownNetworkError;
    if (!proxyError)
        return false;
    if (proxyAsked)
        return true;
    if (error == QNetworkReply::UnknownNetworkError || error == QNetworkReply::UnknownProxyError) {
        auto *factory = manager.proxyFactory();
        const auto proxies =
            factory ? factory->queryProxy(QNetworkProxyQuery(url)) : QList<QNetworkProxy>();
        return !proxies.isEmpty() && proxies.first().type() == QNetworkProxy::HttpProxy &&
               !proxies.first().user().isEmpty();
    }
    return false;
}

} // namespace

QNetworkAccessManager *HttpTransfer::makeManager()
{
    if (abortingAll)
        return nullptr;
    auto *manager = newManager();
    managers().append(manager);
    return manager;
}

void HttpTransfer::releaseManager(QNetworkAccessManager *manager)
{
    if (!manager)
        return;
    // New calls on it fail at once from now on.
    managers().removeAll(manager);
    // The calls still running on it end as canceled transfers, but only once the owner (being
    // destroyed now) is gone for good, so that their coroutines never find it half-way.
    QMetaObject::invokeMethod(
        manager,
        [manager] {
            const auto replies = repliesInFlight();
            for (auto *reply : replies) {
                if (reply->manager() == manager && repliesInFlight().contains(reply))
                    reply->abort();
            }
            manager->deleteLater();
        },
        Qt::QueuedConnection);
}

QCoro::Task<HttpResponse> HttpTransfer::run(Request request)
{
    if (abortingAll || (request.abort && request.abort->isAborted()))
        throw canceled();
    const bool shared = !request.manager.isNull();
    if (shared && !managers().contains(request.manager))
        throw canceled();

    applyCommonSettings(request.request);
    if (request.followRedirects)
        request.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                     QNetworkRequest::NoLessSafeRedirectPolicy);

    TransferObjects objects;
    QNetworkAccessManager *manager = request.manager.data();
    if (!shared) {
        manager = newManager();
        objects.ownManager = manager;
    }

    OneTryBody *body = nullptr;
    if (!request.bodyFile.isNull()) {
        body = new OneTryBody(request.bodyFile, nullptr);
        if (!body->isOpen()) {
            const auto reason = body->errorString();
            delete body;
            throw TransportError(QNetworkReply::UnknownContentError, reason);
        }
    } else if (!request.body.isNull()) {
        body = new OneTryBody(request.body, nullptr);
    }
    if (body)
        request.request.setHeader(QNetworkRequest::ContentLengthHeader, body->length());

    if (!body && request.method == "GET")
        objects.start(manager->get(request.request));
    else
        objects.start(manager->sendCustomRequest(request.request, request.method, body));
    QNetworkReply *raw = objects.reply.data();
    // The reply reads the body until it has finished; it goes with the reply.
    if (body)
        body->setParent(raw);

    HttpResponse response;
    bool abortedByCaller = false;
    const auto ceiling = request.maximumBodySize;

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
    if (request.onUploadProgress) {
        // Qt reports (0, 0) once more when the reply finishes; that is not a count of the body.
        objects.connections.append(
            QObject::connect(raw, &QNetworkReply::uploadProgress, raw,
                             [progress = request.onUploadProgress](qint64 sent, qint64 total) {
                                 if (sent != 0 || total != 0)
                                     progress(sent);
                             }));
    }
    // Qt asks for proxy credentials when the proxy refused the ones of the proxy's URL (or
    // there were none); nothing gives others, and the transfer then fails with a proxy error.
    bool proxyWantedCredentials = false;
    objects.connections.append(
        QObject::connect(manager, &QNetworkAccessManager::proxyAuthenticationRequired, raw,
                         [&proxyWantedCredentials](const QNetworkProxy &, QAuthenticator *) {
                             proxyWantedCredentials = true;
                         }));
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
    const bool managerGone = shared && !managers().contains(request.manager);
    if (error == QNetworkReply::OperationCanceledError && (abortingAll || managerGone))
        throw canceled();
    if (error == QNetworkReply::OperationCanceledError && !abortedByCaller)
        throw TransportError(QNetworkReply::TimeoutError, ServiceText::timedOut());
    if (error == QNetworkReply::ProxyAuthenticationRequiredError ||
        proxyRefusedCredentials(*manager, request.request.url(), error, proxyWantedCredentials))
        throw TransportError(QNetworkReply::ProxyAuthenticationRequiredError,
                             ServiceText::proxyNeedsCredentials());
    // Qt rewinds the body on a 307 or 308 even when the redirect is not followed, and on a
    // connection that broke under the request; the body refuses. With a status, the answer
    // stands; without one, the connection broke.
    if (error == QNetworkReply::ContentReSendError && !status.isValid())
        throw TransportError(QNetworkReply::RemoteHostClosedError,
                             QCoreApplication::translate("QHttp", "Connection closed"));
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
    const auto remaining = managers();
    managers().clear();
    for (const auto &manager : remaining) {
        if (manager)
            manager->deleteLater();
    }
}

int HttpTransfer::liveTransfers()
{
    return liveObjects;
}
