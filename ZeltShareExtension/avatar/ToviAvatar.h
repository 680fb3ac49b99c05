#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUrl>

#include <optional>

// Tovi's face as the service describes it: an image and where the face sits in it.
// Coordinates are image pixels, origin top left, y downwards.
struct ToviAvatarFace
{
    struct Eye
    {
        double x = 0;
        double y = 0;
        double r = 0;

        bool operator==(const Eye &) const = default;
    };

    struct Mouth
    {
        double x = 0;
        double y = 0;
        double halfWidth = 0;
        std::optional<double> sag;

        bool operator==(const Mouth &) const = default;
    };

    double width = 0;
    double height = 0;
    Eye leftEye; // the eye on the viewer's left
    Eye rightEye;
    Mouth mouth;
    QString skinColor;   // "#rrggbb"
    QString scleraColor; // "#rrggbb"

    bool operator==(const ToviAvatarFace &) const = default;
};

struct ToviAvatar
{
    QString id;
    QUrl imageURL;
    ToviAvatarFace face;

    bool operator==(const ToviAvatar &) const = default;

    // The avatar shown until the service names another, drawn from the built-in image.
    static const ToviAvatar &classic();

    // Every listed key is required (but "sag") and must have its type; unknown keys are ignored.
    static std::optional<ToviAvatar> fromJson(const QJsonValue &value);
    QJsonObject toJson() const;

    // 1 to 64 characters of a-z, 0-9 and "-", not starting with "-": one safe path component.
    static bool isValidCacheName(const QString &name);
    // "<id>-<v>" (the first "v" query item of the image URL, when not empty) or "<id>"; none when
    // that is not a valid cache name.
    std::optional<QString> cacheName() const;
};
