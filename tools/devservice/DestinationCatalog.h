#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// What the destinations answer offers: a fixed set of threads (every palette colour, a hex
// colour, titles with capitals, accents and a plus sign), their search, and Tovi's avatar with
// the face image it points at.
class DestinationCatalog
{
public:
    struct Thread
    {
        QString id;
        QString title;
        QString color;
        QDateTime updatedAt;
        // Written with milliseconds; the others without, so both date forms appear.
        bool fractionalSeconds = false;
    };

    // Thread dates count back from now, newest first.
    explicit DestinationCatalog(const QDateTime &now);

    // All threads newest first, or those whose title holds query (case-insensitive).
    QList<Thread> threads(const std::optional<QString> &query) const;
    std::optional<Thread> thread(const QString &id) const;
    static QJsonObject threadJson(const Thread &thread);

    // The avatar record; its image lives under origin.
    QJsonObject avatarJson(const QString &origin) const;
    static QString avatarID();
    static QString avatarVersion();
    // "/tovi/avatars/<id>/image"
    static QString avatarImagePath();
    // The face image (PNG) drawn to the record's geometry.
    const QByteArray &avatarImage() const { return m_avatarImage; }

private:
    QList<Thread> m_threads;
    QByteArray m_avatarImage;
};
