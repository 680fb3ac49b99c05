#include "SignInCommand.h"

#include "Base64Url.h"
#include "DevCommandLine.h"
#include "DevService.h"
#include "SessionCommand.h"
#include "SoftwareAuthenticator.h"
#include "service/HttpTransfer.h"
#include "service/NativeSharedSession.h"
#include "service/ServiceError.h"
#include "service/ServiceOrigin.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkCookie>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

struct Answer
{
    int status = 0;
    QJsonObject body;
    QUrl url;
    QList<QNetworkReply::RawHeaderPair> headers;
};

// waitFor() alone would never return from a task that throws, so the task hands its exception
// over instead.
QCoro::Task<> capture(HttpTransfer::Request request, std::optional<HttpResponse> &response,
                      std::exception_ptr &error)
{
    try {
        response = co_await HttpTransfer::run(std::move(request));
    } catch (...) {
        error = std::current_exception();
    }
}

// One JSON POST to the service. Throws TransportError when no HTTP answer came.
Answer post(const QUrl &url, const QSslConfiguration &ssl, const QByteArray &cookieHeader,
            const QJsonObject &body)
{
    HttpTransfer::Request request;
    request.request.setUrl(url);
    request.request.setSslConfiguration(ssl);
    request.request.setTransferTimeout(30000);
    request.request.setRawHeader("Content-Type", "application/json");
    request.request.setRawHeader("Accept", "application/json");
    request.request.setRawHeader("User-Agent", HttpTransfer::userAgent());
    request.request.setRawHeader(
        "Origin", ServiceOrigin::originHeaderValue(url).value_or(QString()).toUtf8());
    if (!cookieHeader.isEmpty())
        request.request.setRawHeader("Cookie", cookieHeader);
    request.method = "POST";
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    std::optional<HttpResponse> reply;
    std::exception_ptr error;
    QCoro::waitFor(capture(std::move(request), reply, error));
    if (error)
        std::rethrow_exception(error);
    const auto &response = *reply;
    Answer answer;
    answer.status = response.statusCode.value_or(0);
    answer.body = QJsonDocument::fromJson(response.body).object();
    answer.url = response.url;
    answer.headers = response.headerFields;
    return answer;
}

QString failure(const Answer &answer)
{
    const auto message = answer.body.value(u"message"_s).toString();
    return u"the service answered %1%2"_s.arg(answer.status)
        .arg(message.isEmpty() ? QString() : u": "_s + message);
}

} // namespace

int SignInCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Signs in to a running development service and stores the session."_s);
    parser.addOptions({
        {u"origin"_s, u"The service origin (default: ZeltDevBaseOrigin)."_s, u"url"_s},
        {u"data"_s,
         u"The service's data directory: its ca.pem is trusted and the software passkey is "
         u"kept there (default: the directory of ZeltDevCertificateAuthorities)."_s,
         u"dir"_s},
        {u"user"_s, u"The account to sign in to."_s, u"name"_s, u"dev"_s},
    });
    DevCommandLine::addBundleOption(parser);
    if (!DevCommandLine::parse(parser, arguments))
        return 2;
    const auto configuration = DevCommandLine::bundle(parser);

    const auto originText = parser.isSet(u"origin"_s)
                                ? parser.value(u"origin"_s)
                                : configuration.devBaseOrigin().value_or(QString());
    const QUrl origin(originText, QUrl::StrictMode);
    if (originText.isEmpty() || !origin.isValid() || origin.scheme() != u"https"_s ||
        origin.host().isEmpty()) {
        DevCommandLine::error(
            u"no usable --origin, and the bundle configuration names no ZeltDevBaseOrigin"_s);
        return 2;
    }
    const auto data = parser.isSet(u"data"_s) ? std::optional<QString>(parser.value(u"data"_s))
                                              : DevCommandLine::defaultDataDirectory(configuration);
    if (!data) {
        DevCommandLine::error(
            u"no --data, and the bundle configuration names no ZeltDevCertificateAuthorities"_s);
        return 2;
    }
    const auto authorityFile = QDir(*data).filePath(u"ca.pem"_s);
    const auto authorities = QSslCertificate::fromPath(authorityFile, QSsl::Pem);
    if (authorities.isEmpty()) {
        DevCommandLine::error(
            u"no CA certificate in %1: is the service running?"_s.arg(authorityFile));
        return 1;
    }
    auto ssl = QSslConfiguration::defaultConfiguration();
    ssl.setCaCertificates(QSslConfiguration::systemCaCertificates() + authorities);

    const auto endpoint = [&origin](const QString &path) {
        QUrl url = origin;
        url.setPath(path);
        return url;
    };

    try {
        const auto signIn =
            post(endpoint(u"/api/dev/sign-in"_s), ssl, {}, {{u"user"_s, parser.value(u"user"_s)}});
        if (signIn.status != 200) {
            DevCommandLine::error(u"sign-in failed: "_s + failure(signIn));
            return 1;
        }
        NativeSharedSession session;
        session.baseOrigin = originText;
        session.cookieName = signIn.body.value(u"cookieName"_s).toString();
        session.userID = signIn.body.value(u"userID"_s).toString();
        session.storeID = u"zelt-devservice"_s;
        for (const auto &[name, value] : signIn.headers) {
            if (name.compare("Set-Cookie", Qt::CaseInsensitive) != 0)
                continue;
            for (const auto &cookie : QNetworkCookie::parseCookies(value)) {
                const auto cookieName = QString::fromUtf8(cookie.name());
                if (cookieName == session.cookieName) {
                    session.cookieValue = QString::fromUtf8(cookie.value());
                } else {
                    if (!session.additionalCookies)
                        session.additionalCookies.emplace();
                    session.additionalCookies->append(
                        {cookieName, QString::fromUtf8(cookie.value())});
                }
            }
        }
        if (session.cookieName.isEmpty() || session.cookieValue.isEmpty()) {
            DevCommandLine::error(u"the sign-in answer set no session cookie"_s);
            return 1;
        }

        // The account's passkey: the software authenticator of this data directory.
        const auto rpId = signIn.body.value(u"rpID"_s).toString();
        const auto userHandle = Base64Url::decode(signIn.body.value(u"userHandle"_s).toString());
        const auto authenticatorFile = QDir(*data).filePath(u"authenticator.json"_s);
        auto authenticator = SoftwareAuthenticator::load(authenticatorFile);
        if (!authenticator || authenticator->rpId() != rpId ||
            authenticator->userHandle() != userHandle.value_or(QByteArray())) {
            authenticator = SoftwareAuthenticator::create(rpId, userHandle.value_or(QByteArray()));
            if (!authenticator->save(authenticatorFile)) {
                DevCommandLine::error(u"cannot write %1"_s.arg(authenticatorFile));
                return 1;
            }
        }
        const auto registration =
            post(endpoint(u"/api/dev/passkeys"_s), ssl, session.cookieHeaderValue().toUtf8(),
                 {{u"credentialID"_s, Base64Url::encode(authenticator->credentialId())},
                  {u"publicKey"_s, Base64Url::encode(authenticator->publicKey())},
                  {u"algorithm"_s, -7}});
        if (registration.status != 200) {
            DevCommandLine::error(u"the passkey was not registered: "_s + failure(registration));
            return 1;
        }
        // The registration may already have rotated the cookie.
        if (auto rotated = session.rotated(registration.url, registration.headers))
            session = *rotated;

        if (!SessionCommand::write(configuration, session)) {
            DevCommandLine::error(u"the bundle configuration names no ZeltKeychainAccessGroup"_s);
            return 1;
        }
        std::printf("Signed in to %s as %s; the session is in the %s.\n"
                    "Software passkey for %s: %s\n",
                    qUtf8Printable(originText), qUtf8Printable(*session.userID),
                    qUtf8Printable(DevCommandLine::keychainDescription(configuration)),
                    qUtf8Printable(rpId), qUtf8Printable(authenticatorFile));
    } catch (const TransportError &e) {
        DevCommandLine::error(u"cannot reach %1: %2"_s.arg(originText, e.errorDescription()));
        return 1;
    } catch (const std::exception &e) {
        DevCommandLine::error(QString::fromLocal8Bit(e.what()));
        return 1;
    }
    return 0;
}
