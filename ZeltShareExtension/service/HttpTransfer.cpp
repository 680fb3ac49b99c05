#include "HttpTransfer.h"

#include "ServiceError.h"

#include <QCoroNetworkReply>
#include <QFile>
#include <QNetworkAccessManager>

#include <memory>

void RequestAbort::abort()
{
    if (m_aborted)
        return;
    m_aborted = true;
    Q_EMIT aborted();
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

} // namespace

QCoro::Task<HttpResponse> HttpTransfer::run(Request request)
{
    if (request.abort && request.abort->isAborted())
        throw TransportError(QNetworkReply::OperationCanceledError,
                             QNetworkReply::tr("Operation canceled"));

    applyCommonSettings(request.request);

    std::unique_ptr<QFile> bodyFile;
    if (!request.bodyFile.isEmpty()) {
        bodyFile = std::make_unique<QFile>(request.bodyFile);
        if (!bodyFile->open(QIODevice::ReadOnly))
            throw TransportError(QNetworkReply::UnknownContentError, bodyFile->errorString());
    }

    QNetworkAccessManager manager;
    manager.setAutoDeleteReplies(false);
    std::unique_ptr<QNetworkReply> reply(
        bodyFile ? manager.sendCustomRequest(request.request, request.method, bodyFile.get())
        : request.body.isNull() && request.method == "GET"
            ? manager.get(request.request)
            : manager.sendCustomRequest(request.request, request.method, request.body));

    HttpResponse response;
    bool abortedByCaller = false;
    const auto ceiling = request.maximumBodySize;
    QNetworkReply *raw = reply.get();

    // Read as the bytes arrive so that an oversized body is never held whole.
    auto drain = [raw, &response, ceiling] {
        if (response.bodyTooLarge)
            return;
        if (response.body.size() + raw->bytesAvailable() > ceiling) {
            response.bodyTooLarge = true;
            raw->abort();
            return;
        }
        response.body += raw->readAll();
    };
    QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, [raw, &response, ceiling] {
        const auto length = raw->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > ceiling) {
            response.bodyTooLarge = true;
            raw->abort();
        }
    });
    QObject::connect(raw, &QNetworkReply::readyRead, raw, drain);
    if (request.uploadProgress)
        QObject::connect(raw, &QNetworkReply::uploadProgress, raw, request.uploadProgress);
    if (request.abort) {
        QObject::connect(request.abort.data(), &RequestAbort::aborted, raw,
                         [raw, &abortedByCaller] {
                             abortedByCaller = true;
                             raw->abort();
                         });
    }

    co_await raw;

    if (!response.bodyTooLarge)
        drain();
    const auto status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (response.bodyTooLarge) {
        if (status.isValid())
            response.statusCode = status.toInt();
        co_return response;
    }

    const auto error = raw->error();
    if (error == QNetworkReply::OperationCanceledError && !abortedByCaller)
        throw TransportError(QNetworkReply::TimeoutError, ServiceText::timedOut());
    if (isTransportFailure(error) || (error != QNetworkReply::NoError && !status.isValid()))
        throw TransportError(error, raw->errorString());

    if (status.isValid())
        response.statusCode = status.toInt();
    response.url = raw->url();
    response.headerFields = raw->rawHeaderPairs();
    co_return response;
}
