#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QNetworkReply>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

struct NativeSharedSessionCookie
{
    QString name;
    QString value;

    bool operator==(const NativeSharedSessionCookie &) const = default;
};

// The web session the main application leaves in the keychain item for the extension.
// Its JSON form is the item's data; its fingerprint is the item's generic attribute.
struct NativeSharedSession
{
    // Earlier main cookie values kept so the main application can recognise a rotated session.
    static constexpr qsizetype maximumSupersededCookieValues = 50;

    QString baseOrigin;
    QString cookieName;
    QString cookieValue;
    std::optional<QList<NativeSharedSessionCookie>> additionalCookies;
    std::optional<QString> storeID;
    std::optional<QString> userID;
    std::optional<QStringList> supersededCookieValues;

    bool operator==(const NativeSharedSession &) const = default;

    // None when the data is not a JSON object with the three required strings, when an
    // optional key holds something other than null or its type, or when a cookie's name or
    // value holds a control character.
    static std::optional<NativeSharedSession> fromJson(const QByteArray &data);
    // Compact JSON; optional fields without a value are left out.
    QByteArray toJson() const;

    // SHA-256 of "cookieValue\nstoreID\nuserID" (absent parts as empty text): 32 raw bytes.
    QByteArray fingerprint() const;
    // "name=value; name=value": the main cookie, then the additional cookies in order.
    QString cookieHeaderValue() const;

    // The record after a response's Set-Cookie headers, or none when nothing changed. A cookie
    // is adopted only when its Domain attribute domain-matches the response's host and its
    // value is at most 4096 bytes without control characters.
    std::optional<NativeSharedSession>
    rotated(const QUrl &responseUrl, const QList<QNetworkReply::RawHeaderPair> &headerFields,
            const QDateTime &now = QDateTime::currentDateTimeUtc()) const;
};
