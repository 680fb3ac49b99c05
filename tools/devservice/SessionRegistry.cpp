#include "SessionRegistry.h"

#include "Base64Url.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUuid>

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

QByteArray randomBytes(qsizetype count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), int(count)) != 1)
        throw std::runtime_error("no random bytes");
    return bytes;
}

// 32 random bytes as base64url: a cookie value that needs no quoting.
QByteArray newCookieValue()
{
    return Base64Url::encode(randomBytes(32)).toLatin1();
}

bool sameValue(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size() &&
           CRYPTO_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

double toMilliseconds(SessionRegistry::Clock::time_point point)
{
    return double(
        std::chrono::duration_cast<std::chrono::milliseconds>(point.time_since_epoch()).count());
}

SessionRegistry::Clock::time_point fromMilliseconds(double milliseconds)
{
    return SessionRegistry::Clock::time_point(std::chrono::milliseconds(qint64(milliseconds)));
}

} // namespace

SessionRegistry::SessionRegistry(Settings settings)
    : m_settings(std::move(settings))
{
    load();
}

SessionRegistry::SignIn SessionRegistry::signIn(const QString &name, Clock::time_point)
{
    std::lock_guard lock(m_mutex);
    const QString userID = u"user-"_s + name;
    auto &user = m_users[userID];
    if (user.userID.isEmpty()) {
        user.userID = userID;
        user.name = name;
        user.userHandle = randomBytes(16);
    }
    SignIn result;
    result.sessionID = QUuid::createUuid().toString(QUuid::WithoutBraces);
    result.cookieValue = newCookieValue();
    result.user = user;
    Session session;
    session.userID = userID;
    session.cookieValue = result.cookieValue;
    m_sessions.insert(result.sessionID, session);
    save();
    return result;
}

void SessionRegistry::signOut(const QString &sessionID)
{
    std::lock_guard lock(m_mutex);
    if (m_sessions.remove(sessionID) > 0)
        save();
}

SessionRegistry::Authentication SessionRegistry::authenticate(const QByteArray &cookieValue,
                                                              Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    Authentication result;
    if (cookieValue.isEmpty())
        return result;
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        Session &session = it.value();
        if (sameValue(session.cookieValue, cookieValue)) {
            result.status = Authentication::Status::Current;
            result.sessionID = it.key();
            result.userID = session.userID;
            if (m_settings.rotateEvery > 0 &&
                ++session.requestsSinceRotation >= m_settings.rotateEvery) {
                session.requestsSinceRotation = 0;
                session.superseded.removeIf(
                    [now](const Superseded &old) { return old.graceUntil <= now; });
                session.superseded.append({session.cookieValue, now + m_settings.rotationGrace});
                session.cookieValue = newCookieValue();
                result.setCookieValue = session.cookieValue;
                save();
            }
            return result;
        }
        for (const auto &old : std::as_const(session.superseded)) {
            if (sameValue(old.value, cookieValue)) {
                if (now >= old.graceUntil)
                    return result;
                result.status = Authentication::Status::Superseded;
                result.sessionID = it.key();
                result.userID = session.userID;
                result.setCookieValue = session.cookieValue;
                return result;
            }
        }
    }
    return result;
}

std::optional<SessionRegistry::User> SessionRegistry::user(const QString &userID) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_users.constFind(userID);
    if (it == m_users.constEnd())
        return std::nullopt;
    return *it;
}

SessionRegistry::User *SessionRegistry::findUser(const QString &userID)
{
    const auto it = m_users.find(userID);
    return it == m_users.end() ? nullptr : &it.value();
}

bool SessionRegistry::registerCredential(const QString &userID, const PasskeyCredential &credential)
{
    std::lock_guard lock(m_mutex);
    User *owner = findUser(userID);
    if (!owner)
        return false;
    for (const auto &other : std::as_const(m_users)) {
        if (other.userID == userID)
            continue;
        for (const auto &existing : other.credentials) {
            if (existing.id == credential.id)
                return false;
        }
    }
    owner->credentials.removeIf(
        [&credential](const PasskeyCredential &existing) { return existing.id == credential.id; });
    owner->credentials.append(credential);
    save();
    return true;
}

void SessionRegistry::updateSignCount(const QString &userID, const QByteArray &credentialID,
                                      quint32 signCount)
{
    std::lock_guard lock(m_mutex);
    User *owner = findUser(userID);
    if (!owner)
        return;
    for (auto &credential : owner->credentials) {
        if (credential.id == credentialID)
            credential.signCount = signCount;
    }
    save();
}

bool SessionRegistry::isSudoActive(const QString &sessionID, Clock::time_point now) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_sessions.constFind(sessionID);
    return it != m_sessions.constEnd() && now < it->sudoUntil;
}

void SessionRegistry::openSudo(const QString &sessionID, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_sessions.find(sessionID);
    if (it == m_sessions.end())
        return;
    it->sudoUntil = now + m_settings.sudoDuration;
    save();
}

SessionRegistry::PasskeyAttempt SessionRegistry::beginPasskeyAttempt(const QString &sessionID,
                                                                     Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    PasskeyAttempt attempt;
    attempt.attemptID = QUuid::createUuid().toString(QUuid::WithoutBraces);
    attempt.challenge = randomBytes(32);
    attempt.expiresAt = now + m_settings.passkeyAttemptLifetime;
    const auto it = m_sessions.find(sessionID);
    if (it != m_sessions.end()) {
        it->attempts.removeIf([now](QHash<QString, PasskeyAttempt>::iterator entry) {
            return entry->expiresAt <= now;
        });
        it->attempts.insert(attempt.attemptID, attempt);
    }
    return attempt;
}

std::optional<SessionRegistry::PasskeyAttempt>
SessionRegistry::takePasskeyAttempt(const QString &sessionID, const QString &attemptID,
                                    Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_sessions.find(sessionID);
    if (it == m_sessions.end())
        return std::nullopt;
    const auto attempt = it->attempts.take(attemptID);
    if (attempt.attemptID.isEmpty() || now >= attempt.expiresAt)
        return std::nullopt;
    return attempt;
}

void SessionRegistry::load()
{
    QFile file(m_settings.stateFile);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const auto state = QJsonDocument::fromJson(file.readAll()).object();
    for (const auto &entry : state.value(u"users"_s).toArray()) {
        const auto object = entry.toObject();
        User user;
        user.userID = object.value(u"userID"_s).toString();
        user.name = object.value(u"name"_s).toString();
        user.userHandle =
            Base64Url::decode(object.value(u"userHandle"_s).toString()).value_or(QByteArray());
        for (const auto &item : object.value(u"credentials"_s).toArray()) {
            const auto fields = item.toObject();
            PasskeyCredential credential;
            credential.id =
                Base64Url::decode(fields.value(u"id"_s).toString()).value_or(QByteArray());
            credential.publicKey =
                Base64Url::decode(fields.value(u"publicKey"_s).toString()).value_or(QByteArray());
            credential.signCount = quint32(fields.value(u"signCount"_s).toDouble());
            if (!credential.id.isEmpty() && !credential.publicKey.isEmpty())
                user.credentials.append(credential);
        }
        if (!user.userID.isEmpty() && !user.userHandle.isEmpty())
            m_users.insert(user.userID, user);
    }
    for (const auto &entry : state.value(u"sessions"_s).toArray()) {
        const auto object = entry.toObject();
        Session session;
        const auto sessionID = object.value(u"sessionID"_s).toString();
        session.userID = object.value(u"userID"_s).toString();
        session.cookieValue = object.value(u"cookieValue"_s).toString().toLatin1();
        session.sudoUntil = fromMilliseconds(object.value(u"sudoUntil"_s).toDouble());
        for (const auto &item : object.value(u"superseded"_s).toArray()) {
            const auto fields = item.toObject();
            session.superseded.append({fields.value(u"value"_s).toString().toLatin1(),
                                       fromMilliseconds(fields.value(u"graceUntil"_s).toDouble())});
        }
        if (!sessionID.isEmpty() && m_users.contains(session.userID) &&
            !session.cookieValue.isEmpty())
            m_sessions.insert(sessionID, session);
    }
}

void SessionRegistry::save() const
{
    if (m_settings.stateFile.isEmpty())
        return;
    QJsonArray users;
    for (const auto &user : m_users) {
        QJsonArray credentials;
        for (const auto &credential : user.credentials)
            credentials.append(
                QJsonObject{{u"id"_s, Base64Url::encode(credential.id)},
                            {u"publicKey"_s, Base64Url::encode(credential.publicKey)},
                            {u"signCount"_s, double(credential.signCount)}});
        users.append(QJsonObject{{u"userID"_s, user.userID},
                                 {u"name"_s, user.name},
                                 {u"userHandle"_s, Base64Url::encode(user.userHandle)},
                                 {u"credentials"_s, credentials}});
    }
    QJsonArray sessions;
    for (auto it = m_sessions.constBegin(); it != m_sessions.constEnd(); ++it) {
        QJsonArray superseded;
        for (const auto &old : it->superseded)
            superseded.append(QJsonObject{{u"value"_s, QString::fromLatin1(old.value)},
                                          {u"graceUntil"_s, toMilliseconds(old.graceUntil)}});
        sessions.append(QJsonObject{{u"sessionID"_s, it.key()},
                                    {u"userID"_s, it->userID},
                                    {u"cookieValue"_s, QString::fromLatin1(it->cookieValue)},
                                    {u"superseded"_s, superseded},
                                    {u"sudoUntil"_s, toMilliseconds(it->sudoUntil)}});
    }
    // Best effort: a failed write only costs the sessions at the next start.
    QSaveFile file(m_settings.stateFile);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(QJsonObject{{u"users"_s, users}, {u"sessions"_s, sessions}})
                   .toJson(QJsonDocument::Compact));
    file.commit();
}
