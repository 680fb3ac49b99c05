#include "NativeSharedSession.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkCookie>

using namespace Qt::StringLiterals;

namespace {

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
            if (!element.isObject() || !name.isString() || !value.isString())
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

    // Later cookies of the same name win; cookies that the response expires are ignored,
    // not applied.
    QHash<QString, QString> values;
    for (const auto &[name, field] : headerFields) {
        if (name.compare("set-cookie", Qt::CaseInsensitive) != 0)
            continue;
        for (const auto &cookie : QNetworkCookie::parseCookies(field)) {
            const auto expiry = cookie.expirationDate();
            if (expiry.isValid() && expiry <= now)
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
