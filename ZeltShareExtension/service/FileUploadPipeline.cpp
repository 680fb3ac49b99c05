#include "FileUploadPipeline.h"

#include "AppIdentifiers.h"
#include "HttpTransfer.h"
#include "ServiceClient.h"
#include "ServiceError.h"
#include "SessionHolder.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void throwHolderGone()
{
    throw TransportError(QNetworkReply::OperationCanceledError,
                         QNetworkReply::tr("Operation canceled"));
}

// The copy is always a local file; anything else is a path that cannot be opened.
QString localPath(const SharedFile &file)
{
    return file.fileURL.isLocalFile() ? file.fileURL.toLocalFile() : QString();
}

} // namespace

QByteArray FileUploadPipeline::reasonText(UploadReason reason)
{
    switch (reason) {
    case UploadReason::CustomDomain:
        return "custom-domain";
    case UploadReason::DirectNetworkError:
        return "direct-network-error";
    case UploadReason::DirectHttpError:
        break;
    }
    return "direct-http-error";
}

bool FileUploadPipeline::usesProxyOnly(const QUrl &baseOrigin)
{
    const auto host = baseOrigin.host().toLower();
    for (const auto suffix : AppIdentifiers::allowedHostSuffixes) {
        if (host.endsWith(suffix))
            return true;
    }
    return false;
}

QCoro::Task<QByteArray> FileUploadPipeline::postNativeShare(QPointer<SessionHolder> holder,
                                                            QByteArray body)
{
    if (!holder || !holder->sharedSession())
        throw ShareError(ServiceText::signInFirst());
    ServiceRequest request;
    request.method = "POST";
    request.relativePath = u"api/tovi/native-share"_s;
    request.body = std::move(body);
    request.contentType = "application/json";
    request.timeout = holder->environment()->timeouts().nativeShare;
    const auto response = co_await ServiceClient::send(holder, std::move(request));
    co_return response.body;
}

QByteArray FileUploadPipeline::prepareUploadBody(const SharedFile &file,
                                                 const std::optional<QString> &threadID)
{
    QJsonObject body{{"action"_L1, u"prepare-upload"_s},
                     {"file"_L1, QJsonObject{{"filename"_L1, file.filename},
                                             {"mediaType"_L1, file.mediaType},
                                             {"sizeBytes"_L1, file.sizeBytes}}}};
    if (threadID)
        body.insert("threadID"_L1, *threadID);
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QCoro::Task<FileUploadPipeline::PreparedUpload>
FileUploadPipeline::prepareUpload(QPointer<SessionHolder> holder, SharedFile file,
                                  std::optional<QString> threadID)
{
    const auto answer = co_await postNativeShare(holder, prepareUploadBody(file, threadID));
    const auto object = QJsonDocument::fromJson(answer).object();
    const auto uploadID = object.value("uploadID"_L1);
    const auto uploadURL = object.value("uploadURL"_L1);
    if (!uploadID.isString() || !uploadURL.isString())
        throw ShareError(ServiceText::invalidResponse());
    const QUrl url(uploadURL.toString(), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        throw ShareError(ServiceText::invalidResponse());
    co_return PreparedUpload{uploadID.toString(), url};
}

namespace {

// One PUT of the file on the holder's network manager; the answer's body is not kept.
QCoro::Task<HttpResponse> put(QPointer<SessionHolder> holder, QNetworkRequest request,
                              QString filePath, std::function<void(qint64)> onProgress)
{
    if (!holder)
        throwHolderGone();
    HttpTransfer::Request transfer;
    transfer.request = std::move(request);
    transfer.method = "PUT";
    transfer.bodyFile = filePath.isNull() ? u""_s : filePath;
    transfer.onUploadProgress = std::move(onProgress);
    transfer.maximumBodySize = 64 * 1024;
    transfer.manager = holder->networkManager();
    if (!transfer.manager)
        throwHolderGone();
    auto response = co_await HttpTransfer::run(std::move(transfer));
    // Only the status and the headers count: a body past the ceiling is no failure here.
    response.body.clear();
    response.bodyTooLarge = false;
    co_return response;
}

} // namespace

QCoro::Task<> FileUploadPipeline::uploadFile(QPointer<SessionHolder> holder, SharedFile file,
                                             QUrl uploadURL, std::function<void(qint64)> onProgress)
{
    if (!holder)
        throwHolderGone();
    const auto environment = holder->environment();

    UploadReason reason = UploadReason::CustomDomain;
    std::optional<int> directStatus;
    if (!usesProxyOnly(holder->baseOrigin())) {
        // The storage URL carries its own authorisation: no cookie, no origin, no Accept.
        QNetworkRequest request(uploadURL);
        request.setTransferTimeout(int(environment->timeouts().upload.count()));
        request.setHeader(QNetworkRequest::ContentTypeHeader, file.mediaType.toUtf8());
        request.setHeader(QNetworkRequest::UserAgentHeader, HttpTransfer::userAgent());
        request.setSslConfiguration(environment->sslConfiguration());
        try {
            auto uploading = put(holder, request, localPath(file), onProgress);
            const auto response = co_await std::move(uploading);
            if (!response.statusCode) {
                reason = UploadReason::DirectNetworkError;
            } else if (*response.statusCode >= 200 && *response.statusCode <= 299) {
                co_return;
            } else {
                reason = UploadReason::DirectHttpError;
                directStatus = *response.statusCode;
            }
        } catch (const TransportError &) {
            reason = UploadReason::DirectNetworkError;
        }
        if (!holder)
            throwHolderGone();
    }

    if (!holder->sharedSession())
        throw ShareError(ServiceText::signInFirst());
    const NativeSharedSession requestSession = *holder->sharedSession();

    ServiceRequest proxy;
    proxy.method = "PUT";
    proxy.relativePath = u"api/attachments/upload-proxy"_s;
    proxy.acceptJson = false;
    proxy.timeout = environment->timeouts().upload;
    auto request = ServiceClient::buildRequest(*environment, proxy, requestSession);
    // The body is the file, which the transfer streams.
    request.setRawHeader("Content-Type", file.mediaType.toUtf8());
    request.setRawHeader("x-zelt-upload-url", uploadURL.toEncoded());
    request.setRawHeader("x-zelt-upload-reason", reasonText(reason));
    if (directStatus)
        request.setRawHeader("x-zelt-direct-upload-status", QByteArray::number(*directStatus));

    auto uploading = put(holder, request, localPath(file), onProgress);
    // The proxy's answer body is not read: only its status and cookies count.
    const auto response = co_await std::move(uploading);
    if (!holder)
        throwHolderGone();
    if (!response.statusCode)
        throw ShareError(ServiceText::invalidUploadResponse());
    ServiceClient::checkServiceResponse(*holder, response, requestSession);
}
