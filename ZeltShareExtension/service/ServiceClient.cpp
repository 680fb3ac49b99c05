#include "ServiceClient.h"

#include "Logging.h"
#include "ServiceError.h"
#include "SessionHolder.h"
#include "SharedStateNotifier.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void throwHolderGone()
{
    throw TransportError(QNetworkReply::OperationCanceledError,
                         QNetworkReply::tr("Operation canceled"));
}

// The service's error body: "message" (required) and "code" (optional). Anything else is not
// an error body.
struct ErrorResponse
{
    QString message;
    std::optional<QString> code;

    static std::optional<ErrorResponse> decode(const QByteArray &body)
    {
        QJsonParseError error{};
        const auto document = QJsonDocument::fromJson(body, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return std::nullopt;
        const auto object = document.object();
        const auto message = object.value(QLatin1StringView("message"));
        const auto code = object.value(QLatin1StringView("code"));
        if (!message.isString())
            return std::nullopt;
        ErrorResponse decoded{message.toString(), std::nullopt};
        if (code.isString())
            decoded.code = code.toString();
        else if (!code.isUndefined() && !code.isNull())
            return std::nullopt;
        return decoded;
    }
};

} // namespace

QUrl ServiceClient::endpointUrl(const QUrl &baseOrigin, const QString &relativePath)
{
    QUrl url = baseOrigin;
    QString path = url.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    url.setPath(path + relativePath);
    return url;
}

QNetworkRequest ServiceClient::buildRequest(const ServiceEnvironment &environment,
                                            const ServiceRequest &request,
                                            const NativeSharedSession &session)
{
    QUrl url = endpointUrl(environment.baseOrigin(), request.relativePath);
    if (!request.encodedQuery.isNull())
        url.setQuery(request.encodedQuery, QUrl::StrictMode);
    QNetworkRequest networkRequest(url);
    networkRequest.setTransferTimeout(int(request.timeout.count()));
    if (request.acceptJson)
        networkRequest.setRawHeader("Accept", "application/json");
    if (!request.body.isNull() && !request.contentType.isEmpty())
        networkRequest.setRawHeader("Content-Type", request.contentType);
    if (const auto origin = ServiceOrigin::originHeaderValue(environment.baseOrigin()))
        networkRequest.setRawHeader("Origin", origin->toUtf8());
    networkRequest.setRawHeader("Cookie", session.cookieHeaderValue().toUtf8());
    networkRequest.setHeader(QNetworkRequest::UserAgentHeader, HttpTransfer::userAgent());
    networkRequest.setSslConfiguration(environment.sslConfiguration());
    HttpTransfer::applyCommonSettings(networkRequest);
    return networkRequest;
}

QCoro::Task<HttpResponse> ServiceClient::send(QPointer<SessionHolder> holder,
                                              ServiceRequest request)
{
    if (!holder)
        throwHolderGone();
    if (!holder->sharedSession())
        throw ShareError(ServiceText::signInFirst());
    // The session of this moment is the request's: its cookies are sent, and it is the one the
    // response check compares and rotates, whatever happens to the holder meanwhile.
    const NativeSharedSession requestSession = *holder->sharedSession();
    const auto environment = holder->environment();

    HttpTransfer::Request transfer;
    transfer.request = buildRequest(*environment, request, requestSession);
    transfer.method = request.method;
    transfer.body = request.body;
    transfer.abort = request.abort;
    transfer.manager = holder->networkManager();
    if (!transfer.manager)
        throwHolderGone();

    auto response = co_await HttpTransfer::run(std::move(transfer));
    if (!holder)
        throwHolderGone();
    if (!response.statusCode)
        throw ShareError(ServiceText::invalidResponse());
    checkServiceResponse(*holder, response, requestSession);
    co_return response;
}

void ServiceClient::checkServiceResponse(SessionHolder &holder, const HttpResponse &response,
                                         const NativeSharedSession &requestSession)
{
    auto &environment = *holder.environment();
    auto &store = environment.sessionStore();

    // The request owns the item when the item still holds the cookie the request was sent
    // with; only then is the item written back or deleted.
    const auto stored = store.loadStoredSession();
    const bool ownsItem = stored && stored->cookieValue == requestSession.cookieValue;

    const int status = *response.statusCode;
    if ((status >= 300 && status <= 399) || status == 401) {
        // The session is refused, and a cookie the same answer sets belongs to no session worth
        // keeping: writing it back would change the item under the delete below and announce a
        // dead session. The delete compares the item with what the ownership test read, so a
        // session the main application stored since then survives.
        if (ownsItem)
            store.deleteStoredSession(stored);
        throw ShareError(ServiceText::signInFirst());
    }

    if (auto next = requestSession.rotated(response.url, response.headerFields)) {
        holder.setSharedSession(next);
        if (ownsItem) {
            try {
                store.storeRotatedSession(requestSession, *next);
            } catch (const KeychainError &error) {
                qCWarning(lcShareExtension, "rotated session not written back: %s", error.what());
            }
            SharedStateNotifier::post();
        }
    }

    // Past the ceiling only the head was read: enough for the session, not for an answer.
    if (response.bodyTooLarge)
        throw ShareError(ServiceText::invalidResponse());
    if (status >= 200 && status <= 299)
        return;

    const auto error = ErrorResponse::decode(response.body);
    if (!error)
        throw ShareError(ServiceText::couldNotReceive());
    if (status == 403 && error->code == u"SUDO_AUTH_REQUIRED"_s)
        throw PasskeyRequiredError();
    throw ShareError(error->message);
}
