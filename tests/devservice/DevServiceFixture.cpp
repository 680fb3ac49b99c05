#include "DevServiceFixture.h"

#include "Base64Url.h"
#include "TaskResult.h"
#include "service/HttpTransfer.h"
#include "service/ServiceError.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QNetworkCookie>
#include <QSslCertificate>

using namespace Qt::StringLiterals;

std::optional<QByteArray> DevReply::setCookie(const QByteArray &name) const
{
    std::optional<QByteArray> value;
    for (const auto &[header, text] : headers) {
        if (header.compare("Set-Cookie", Qt::CaseInsensitive) != 0)
            continue;
        for (const auto &cookie : QNetworkCookie::parseCookies(text)) {
            if (cookie.name() == name)
                value = cookie.value();
        }
    }
    return value;
}

DevServiceFixture::DevServiceFixture(DevServiceOptions options)
{
    const auto start = DevServiceOptions::Clock::now();
    options.dataDirectory = m_directory.path();
    options.port = 0;
    options.clock = [start, offset = m_offsetShared] {
        return start + std::chrono::seconds(offset->load());
    };
    options.log = [mutex = m_logMutex, log = m_log](const QString &line) {
        std::lock_guard lock(*mutex);
        log->append(line);
    };
    m_service = std::make_unique<DevService>(options);
    m_service->start();
    m_ssl = QSslConfiguration::defaultConfiguration();
    m_ssl.setCaCertificates(QSslCertificate::fromPath(m_service->certificateAuthorityFile()));
}

QStringList DevServiceFixture::logLines() const
{
    std::lock_guard lock(*m_logMutex);
    return *m_log;
}

DevReply DevServiceFixture::request(const QByteArray &method, const QString &path,
                                    const QByteArray &body,
                                    const QList<std::pair<QByteArray, QByteArray>> &headers)
{
    HttpTransfer::Request request;
    const QUrl url(path.startsWith(u"https:"_s) ? path : origin() + path, QUrl::StrictMode);
    request.request.setUrl(url);
    request.request.setSslConfiguration(m_ssl);
    request.request.setTransferTimeout(20000);
    for (const auto &[name, value] : headers)
        request.request.setRawHeader(name, value);
    request.method = method;
    if (method != "GET")
        request.body = body.isNull() ? QByteArray("") : body;
    auto result = TaskResult<HttpResponse>::wait(HttpTransfer::run(std::move(request)));
    // The call's network objects go now, and with them its connection, as they do in the share
    // extension when the call returns to the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    DevReply reply;
    if (result.error) {
        reply.transportError = userFacingMessage(result.error);
        return reply;
    }
    reply.status = result.value->statusCode.value_or(0);
    reply.body = result.value->body;
    reply.json = QJsonDocument::fromJson(reply.body).object();
    for (const auto &[name, value] : result.value->headerFields)
        reply.headers.append({name, value});
    return reply;
}

DevReply DevServiceFixture::call(const QByteArray &method, const QString &path,
                                 const QByteArray &cookieValue, const QJsonObject &body)
{
    QList<std::pair<QByteArray, QByteArray>> headers{{"Origin", origin().toUtf8()},
                                                     {"Accept", "application/json"}};
    if (!cookieValue.isNull())
        headers.append(std::pair<QByteArray, QByteArray>("Cookie", "zelt_session=" + cookieValue +
                                                                       "; zelt_device=d"));
    QByteArray data;
    if (method != "GET") {
        headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "application/json"));
        data = QJsonDocument(body).toJson(QJsonDocument::Compact);
    }
    return request(method, path, data, headers);
}

DevReply DevServiceFixture::upload(const QString &url, const QByteArray &bytes,
                                   const QList<std::pair<QByteArray, QByteArray>> &headers)
{
    auto all = headers;
    all.append(std::pair<QByteArray, QByteArray>("Content-Type", "application/octet-stream"));
    return request("PUT", url, bytes, all);
}

QByteArray DevServiceFixture::signIn(const QString &user)
{
    const auto reply = request("POST", u"/api/dev/sign-in"_s,
                               QJsonDocument(QJsonObject{{u"user"_s, user}}).toJson(),
                               {{"Content-Type", "application/json"}});
    const auto cookie = reply.setCookie("zelt_session").value_or(QByteArray());
    m_userHandles.insert(
        cookie,
        Base64Url::decode(reply.json.value(u"userHandle"_s).toString()).value_or(QByteArray()));
    return cookie;
}

QByteArray DevServiceFixture::userHandle(const QByteArray &cookieValue)
{
    return m_userHandles.value(cookieValue);
}

SoftwareAuthenticator DevServiceFixture::registerAuthenticator(const QByteArray &cookieValue,
                                                               const QString &rpId)
{
    auto authenticator = SoftwareAuthenticator::create(rpId, userHandle(cookieValue));
    call("POST", u"/api/dev/passkeys"_s, cookieValue,
         {{u"credentialID"_s, Base64Url::encode(authenticator.credentialId())},
          {u"publicKey"_s, Base64Url::encode(authenticator.publicKey())},
          {u"algorithm"_s, -7}});
    return authenticator;
}

QJsonObject DevServiceFixture::completion(const QJsonObject &options,
                                          SoftwareAuthenticator &authenticator, const QString &type,
                                          const QString &origin,
                                          std::optional<QByteArray> challenge)
{
    const auto challengeText =
        challenge ? Base64Url::encode(*challenge) : options.value(u"challenge"_s).toString();
    // Built as a browser builds it.
    const QByteArray clientData = R"({"type":")" + type.toUtf8() + R"(","challenge":")" +
                                  challengeText.toUtf8() + R"(","origin":")" + origin.toUtf8() +
                                  R"(","crossOrigin":false})";
    const auto assertion = authenticator.sign(
        QCryptographicHash::hash(clientData, QCryptographicHash::Sha256), authenticator.rpId());
    const auto id = Base64Url::encode(authenticator.credentialId());
    return {
        {u"passkeyAttemptID"_s, options.value(u"passkeyAttemptID"_s)},
        {u"response"_s,
         QJsonObject{
             {u"id"_s, id},
             {u"rawId"_s, id},
             {u"type"_s, u"public-key"_s},
             {u"response"_s,
              QJsonObject{{u"clientDataJSON"_s, Base64Url::encode(clientData)},
                          {u"authenticatorData"_s, Base64Url::encode(assertion->authenticatorData)},
                          {u"signature"_s, Base64Url::encode(assertion->signature)},
                          {u"userHandle"_s, Base64Url::encode(authenticator.userHandle())}}},
             {u"clientExtensionResults"_s, QJsonObject{}},
             {u"authenticatorAttachment"_s, u"cross-platform"_s}}}};
}

void DevServiceFixture::openSudo(const QByteArray &cookieValue,
                                 SoftwareAuthenticator &authenticator)
{
    const auto begin =
        call("POST", u"/api/internal/app"_s, cookieValue,
             {{u"method"_s, u"beginSudoPasskeyAuthentication"_s}, {u"params"_s, QJsonObject{}}});
    const auto options = begin.json.value(u"result"_s).toObject();
    call("POST", u"/api/internal/app"_s, cookieValue,
         {{u"method"_s, u"completeSudoPasskeyAuthentication"_s},
          {u"params"_s, completion(options, authenticator)}});
}
