#pragma once

#include "DevService.h"
#include "SoftwareAuthenticator.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

// One answer as the client saw it.
struct DevReply
{
    // 0 when no HTTP answer came (the transfer failed).
    int status = 0;
    QByteArray body;
    QJsonObject json;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QString transportError;

    // The value the answer sets for a cookie, if it sets one.
    std::optional<QByteArray> setCookie(const QByteArray &name) const;
};

// A development service running in the test process on a free port, in a temporary data
// directory, on a clock the test moves by hand; and a client that talks to it through the same
// HTTP stack as the share extension.
class DevServiceFixture
{
public:
    explicit DevServiceFixture(DevServiceOptions options = {});

    DevService &service() { return *m_service; }
    QString dataDirectory() const { return m_directory.path(); }
    QString origin() const { return m_service->origin(); }
    QSslConfiguration ssl() const { return m_ssl; }
    void advance(std::chrono::seconds seconds) { m_offset += seconds.count(); }
    QStringList logLines() const;

    // path is relative to the origin ("/api/…") or an absolute URL.
    DevReply request(const QByteArray &method, const QString &path, const QByteArray &body = {},
                     const QList<std::pair<QByteArray, QByteArray>> &headers = {});
    // A cookie-authenticated call as the share extension makes it (Origin, Cookie, JSON).
    DevReply call(const QByteArray &method, const QString &path, const QByteArray &cookieValue,
                  const QJsonObject &body = {});
    DevReply upload(const QString &url, const QByteArray &bytes,
                    const QList<std::pair<QByteArray, QByteArray>> &headers = {});

    // Signs a user in; gives the session cookie value.
    QByteArray signIn(const QString &user = QStringLiteral("dev"));
    // Makes and registers a software passkey for the user of cookieValue.
    SoftwareAuthenticator registerAuthenticator(const QByteArray &cookieValue,
                                                const QString &rpId = QStringLiteral("localhost"));
    QByteArray userHandle(const QByteArray &cookieValue);
    // Opens a sudo session with a fresh passkey ceremony.
    void openSudo(const QByteArray &cookieValue, SoftwareAuthenticator &authenticator);

    // The completion params of "completeSudoPasskeyAuthentication" for options (the begin
    // result), signed by authenticator over client data of the given type and origin.
    static QJsonObject completion(const QJsonObject &options, SoftwareAuthenticator &authenticator,
                                  const QString &type = QStringLiteral("webauthn.get"),
                                  const QString &origin = QStringLiteral("https://localhost"),
                                  std::optional<QByteArray> challenge = std::nullopt);

private:
    QTemporaryDir m_directory;
    std::shared_ptr<std::atomic<qint64>> m_offsetShared = std::make_shared<std::atomic<qint64>>(0);
    std::atomic<qint64> &m_offset = *m_offsetShared;
    std::shared_ptr<std::mutex> m_logMutex = std::make_shared<std::mutex>();
    std::shared_ptr<QStringList> m_log = std::make_shared<QStringList>();
    std::unique_ptr<DevService> m_service;
    QSslConfiguration m_ssl;
    QHash<QByteArray, QByteArray> m_userHandles;
};
