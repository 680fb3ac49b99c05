#include "NativeSharedSession.h"

#include <QCryptographicHash>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkCookie>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// The longest cookie value adopted from an answer, as much as a browser keeps. Fifty superseded
// values of this size still leave the item far below what the keychain reads back.
constexpr qsizetype maximumAdoptedValueSize = 4096;

// C0 controls and DEL. Cookies go into the Cookie header as they are, where a line break ends
// the header, and none of these has a place in a cookie.
bool isControlCharacter(char32_t character)
{
    return character < 0x20 || character == 0x7f;
}

bool holdsControlCharacter(QByteArrayView bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char byte) {
        return isControlCharacter(static_cast<unsigned char>(byte));
    });
}

bool holdsControlCharacter(QStringView text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar character) { return isControlCharacter(character.unicode()); });
}

// RFC 6265 domain-match of a cookie's Domain attribute (none: the host alone) against the
// host that set it. A host name matches its own domain and its parents', an address only
// itself.
bool domainMatches(const QString &host, const QString &domainAttribute)
{
    if (domainAttribute.isEmpty())
        return true;
    QString domain = domainAttribute.toLower();
    if (domain.startsWith(u'.'))
        domain.remove(0, 1);
    const QString lowerHost = host.toLower();
    if (lowerHost == domain)
        return true;
    return QHostAddress(lowerHost).isNull() && !domain.isEmpty() &&
           lowerHost.endsWith(u'.' + domain);
}

// A Set-Cookie the rotation may adopt: one the host may set, with a value that can travel in
// a Cookie header and keeps the item small.
bool isAdoptable(const QNetworkCookie &cookie, const QString &host)
{
    return domainMatches(host, cookie.domain()) &&
           cookie.value().size() <= maximumAdoptedValueSize &&
           !holdsControlCharacter(cookie.value());
}

// An optional string: absent and null mean no value; any other type rejects the record.
bool readOptionalString(const QJsonObject &object, QLatin1StringView key,
                        std::optional<QString> &out)
{
    const auto value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

} // namespace

std::optional<NativeSharedSession> NativeSharedSession::fromJson(const QByteArray &data)
{
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const auto object = document.object();

    NativeSharedSession session;
    const auto baseOrigin = object.value(QLatin1StringView("baseOrigin"));
    const auto cookieName = object.value(QLatin1StringView("cookieName"));
    const auto cookieValue = object.value(QLatin1StringView("cookieValue"));
    if (!baseOrigin.isString() || !cookieName.isString() || !cookieValue.isString())
        return std::nullopt;
    session.baseOrigin = baseOrigin.toString();
    session.cookieName = cookieName.toString();
    session.cookieValue = cookieValue.toString();
    if (holdsControlCharacter(session.cookieName) || holdsControlCharacter(session.cookieValue))
        return std::nullopt;

    if (!readOptionalString(object, QLatin1StringView("storeID"), session.storeID) ||
        !readOptionalString(object, QLatin1StringView("userID"), session.userID))
        return std::nullopt;

    const auto additional = object.value(QLatin1StringView("additionalCookies"));
    if (additional.isArray()) {
        QList<NativeSharedSessionCookie> cookies;
        for (const auto &element : additional.toArray()) {
            const auto cookie = element.toObject();
            const auto name = cookie.value(QLatin1StringView("name"));
            const auto value = cookie.value(QLatin1StringView("value"));
            if (!element.isObject() || !name.isString() || !value.isString() ||
                holdsControlCharacter(name.toString()) || holdsControlCharacter(value.toString()))
                return std::nullopt;
            cookies.append({name.toString(), value.toString()});
        }
        session.additionalCookies = cookies;
    } else if (!additional.isUndefined() && !additional.isNull()) {
        return std::nullopt;
    }

    const auto superseded = object.value(QLatin1StringView("supersededCookieValues"));
    if (superseded.isArray()) {
        QStringList values;
        for (const auto &element : superseded.toArray()) {
            if (!element.isString())
                return std::nullopt;
            values.append(element.toString());
        }
        session.supersededCookieValues = values;
    } else if (!superseded.isUndefined() && !superseded.isNull()) {
        return std::nullopt;
    }
    return session;
}

QByteArray NativeSharedSession::toJson() const
{
    QJsonObject object{{QLatin1StringView("baseOrigin"), baseOrigin},
                       {QLatin1StringView("cookieName"), cookieName},
                       {QLatin1StringView("cookieValue"), cookieValue}};
    if (additionalCookies) {
        QJsonArray cookies;
        for (const auto &cookie : *additionalCookies)
            cookies.append(QJsonObject{{QLatin1StringView("name"), cookie.name},
                                       {QLatin1StringView("value"), cookie.value}});
        object.insert(QLatin1StringView("additionalCookies"), cookies);
    }
    if (storeID)
        object.insert(QLatin1StringView("storeID"), *storeID);
    if (userID)
        object.insert(QLatin1StringView("userID"), *userID);
    if (supersededCookieValues)
        object.insert(QLatin1StringView("supersededCookieValues"),
                      QJsonArray::fromStringList(*supersededCookieValues));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray NativeSharedSession::fingerprint() const
{
    const QString text =
        cookieValue + u'\n' + storeID.value_or(QString()) + u'\n' + userID.value_or(QString());
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256);
}

QString NativeSharedSession::cookieHeaderValue() const
{
    QString header = cookieName + u'=' + cookieValue;
    for (const auto &cookie : additionalCookies.value_or(QList<NativeSharedSessionCookie>{}))
        header += u"; "_s + cookie.name + u'=' + cookie.value;
    return header;
}

std::optional<NativeSharedSession>
NativeSharedSession::rotated(const QUrl &responseUrl,
                             const QList<QNetworkReply::RawHeaderPair> &headerFields,
                             const QDateTime &now) const
{
    if (responseUrl.isEmpty())
        return std::nullopt;

    // Later cookies of the same name win; cookies that the response expires, and those that
    // cannot be this host's session, are ignored, not applied.
    const QString host = responseUrl.host();
    QHash<QString, QString> values;
    for (const auto &[name, field] : headerFields) {
        if (name.compare("set-cookie", Qt::CaseInsensitive) != 0)
            continue;
        for (const auto &cookie : QNetworkCookie::parseCookies(field)) {
            const auto expiry = cookie.expirationDate();
            if ((expiry.isValid() && expiry <= now) || !isAdoptable(cookie, host))
                continue;
            values.insert(QString::fromUtf8(cookie.name()), QString::fromUtf8(cookie.value()));
        }
    }

    const QString newValue = values.value(cookieName, cookieValue);
    QList<NativeSharedSessionCookie> newAdditional =
        additionalCookies.value_or(QList<NativeSharedSessionCookie>{});
    bool additionalChanged = false;
    for (auto &cookie : newAdditional) {
        const auto it = values.constFind(cookie.name);
        if (it != values.cend() && *it != cookie.value) {
            cookie.value = *it;
            additionalChanged = true;
        }
    }
    if (newValue == cookieValue && !additionalChanged)
        return std::nullopt;

    QStringList superseded = supersededCookieValues.value_or(QStringList{});
    if (newValue != cookieValue) {
        superseded.append(cookieValue);
        if (superseded.size() > maximumSupersededCookieValues)
            superseded.remove(0, superseded.size() - maximumSupersededCookieValues);
    }

    NativeSharedSession next;
    next.baseOrigin = baseOrigin;
    next.cookieName = cookieName;
    next.cookieValue = newValue;
    if (!newAdditional.isEmpty())
        next.additionalCookies = newAdditional;
    next.storeID = storeID;
    next.userID = userID;
    if (!superseded.isEmpty())
        next.supersededCookieValues = superseded;
    return next;
}
