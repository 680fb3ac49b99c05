#include "DestinationCatalog.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

namespace {

struct Face
{
    double width = 480;
    double height = 560;
    double leftEyeX = 176, leftEyeY = 232, leftEyeR = 30;
    double rightEyeX = 304, rightEyeY = 232, rightEyeR = 30;
    double mouthX = 240, mouthY = 372, mouthHalfWidth = 70, mouthSag = 14;
    QString skin = u"#5f7f4a"_s;
    QString sclera = u"#f2eedc"_s;
};

const Face face;

QByteArray drawFace()
{
    QImage image(int(face.width), int(face.height), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(face.skin));
    painter.drawRoundedRect(QRectF(24, 40, face.width - 48, face.height - 64), 180, 200);
    painter.setBrush(QColor(face.sclera));
    painter.drawEllipse(QPointF(face.leftEyeX, face.leftEyeY), face.leftEyeR, face.leftEyeR);
    painter.drawEllipse(QPointF(face.rightEyeX, face.rightEyeY), face.rightEyeR, face.rightEyeR);
    QPainterPath mouth;
    mouth.moveTo(face.mouthX - face.mouthHalfWidth, face.mouthY);
    mouth.quadTo(face.mouthX, face.mouthY + 2 * face.mouthSag, face.mouthX + face.mouthHalfWidth,
                 face.mouthY);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(face.sclera), 10, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(mouth);
    painter.end();

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QJsonObject eye(double x, double y, double r)
{
    return {{u"x"_s, x}, {u"y"_s, y}, {u"r"_s, r}};
}

} // namespace

DestinationCatalog::DestinationCatalog(const QDateTime &now)
{
    const QDateTime base = now.toUTC();
    struct Seed
    {
        const char *id;
        const char *title;
        const char *color;
        qint64 minutesAgo;
    };
    // One thread per palette colour, one with a hex colour.
    static const Seed seeds[] = {
        {"b6f0c1de-4a1e-4f0a-9a55-0c9d7e1f3a01", "Release checklist for 0.4", "blue", 3},
        {"2c8e5a77-91d3-4c52-b0e4-6f1a2d3c4b02", "Fix flaky upload test", "purple", 47},
        {"7d3b9f10-2e6a-4b8c-8d1f-5a0e9c7b6d03", "C++ build flags", "pink", 130},
        {"e41a6c2d-7b9f-4e13-a2c8-3d5f0b1e9a04", "Onboarding copy review", "red", 310},
        {"93c57e0b-d4a2-41f6-bc39-8e7a1f2d5c05", "Über-refactor of the share sheet", "orange",
         1440},
        {"1f0d8b3a-6c5e-4a97-9e21-b4c3d2e1f006", "Design sync notes", "yellow", 2900},
        {"c5a2e9f7-3b1d-4d68-a0f4-7e6b5c9d8a07", "Keyring rotation edge cases", "green", 4400},
        {"58e7d1c6-a9b0-4f32-8c5d-2b1a0f9e7d08", "Passkey step-up", "cyan", 10080},
        {"0a9c3e5b-7d2f-4b16-9f84-c1e0d3b2a509", "Archive: old experiments", "gray", 43200},
        {"f3b8a4d2-1c6e-4e7a-b5d9-0e2f4a6c8b10", "Brand colours", "#ff6a3d", 64800},
    };
    for (qsizetype i = 0; i < qsizetype(std::size(seeds)); ++i) {
        const auto &seed = seeds[i];
        Thread thread;
        thread.id = QString::fromLatin1(seed.id);
        thread.title = QString::fromUtf8(seed.title);
        thread.color = QString::fromLatin1(seed.color);
        // Whole seconds for the one form, milliseconds for the other.
        thread.fractionalSeconds = i % 2 == 0;
        const qint64 seconds = base.toSecsSinceEpoch() - 60 * seed.minutesAgo;
        thread.updatedAt = QDateTime::fromMSecsSinceEpoch(
            seconds * 1000 + (thread.fractionalSeconds ? 250 : 0), Qt::UTC);
        m_threads.append(thread);
    }
    m_avatarImage = drawFace();
}

QList<DestinationCatalog::Thread>
DestinationCatalog::threads(const std::optional<QString> &query) const
{
    if (!query)
        return m_threads;
    QList<Thread> found;
    for (const auto &thread : m_threads) {
        if (thread.title.contains(*query, Qt::CaseInsensitive))
            found.append(thread);
    }
    return found;
}

std::optional<DestinationCatalog::Thread> DestinationCatalog::thread(const QString &id) const
{
    for (const auto &thread : m_threads) {
        if (thread.id == id)
            return thread;
    }
    return std::nullopt;
}

QJsonObject DestinationCatalog::threadJson(const Thread &thread)
{
    const auto date = thread.updatedAt.toUTC().toString(thread.fractionalSeconds ? Qt::ISODateWithMs
                                                                                 : Qt::ISODate);
    return {{u"id"_s, thread.id},
            {u"title"_s, thread.title},
            {u"color"_s, thread.color},
            {u"updatedAt"_s, date}};
}

QString DestinationCatalog::avatarID()
{
    return u"spring"_s;
}

QString DestinationCatalog::avatarVersion()
{
    return u"3"_s;
}

QString DestinationCatalog::avatarImagePath()
{
    return u"/tovi/avatars/%1/image"_s.arg(avatarID());
}

QJsonObject DestinationCatalog::avatarJson(const QString &origin) const
{
    return {
        {u"id"_s, avatarID()},
        {u"imageURL"_s, origin + avatarImagePath() + u"?v="_s + avatarVersion()},
        {u"face"_s,
         QJsonObject{
             {u"width"_s, face.width},
             {u"height"_s, face.height},
             {u"leftEye"_s, eye(face.leftEyeX, face.leftEyeY, face.leftEyeR)},
             {u"rightEye"_s, eye(face.rightEyeX, face.rightEyeY, face.rightEyeR)},
             {u"mouth"_s, QJsonObject{{u"x"_s, face.mouthX},
                                      {u"y"_s, face.mouthY},
                                      {u"halfWidth"_s, face.mouthHalfWidth},
                                      {u"sag"_s, face.mouthSag}}},
             {u"skinColor"_s, face.skin},
             {u"scleraColor"_s, face.sclera},
         }},
    };
}
