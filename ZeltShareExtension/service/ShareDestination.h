#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <stdexcept>
#include <variant>

// A recent thread the share can go to.
struct ShareDestinationThread
{
    QString id; // also the seed of the thread's icon
    QString title;
    QString color; // a palette name or "#rrggbb"
    QDateTime updatedAt;

    bool operator==(const ShareDestinationThread &) const = default;

    // All four keys required; updatedAt by destinationDateDecoding.
    static std::optional<ShareDestinationThread> fromJson(const QJsonValue &value);
    // updatedAt by destinationDateEncoding.
    QJsonObject toJson() const;
};

// A remembered destination that cannot be read back.
class DestinationDecodingError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Where a share goes: a thread, or Tovi.
class ShareDestination
{
public:
    struct Tovi
    {
        bool operator==(const Tovi &) const = default;
    };

    ShareDestination(Tovi tovi = {})
        : m_value(tovi)
    {}
    ShareDestination(ShareDestinationThread thread)
        : m_value(std::move(thread))
    {}

    static ShareDestination tovi() { return Tovi{}; }
    bool isTovi() const { return std::holds_alternative<Tovi>(m_value); }
    // Null for Tovi.
    const ShareDestinationThread *thread() const
    {
        return std::get_if<ShareDestinationThread>(&m_value);
    }
    // The thread's id; none for Tovi.
    std::optional<QString> threadID() const;

    bool operator==(const ShareDestination &) const = default;

    // {"tovi":{}} or {"thread":{"_0":{…}}}
    QByteArray toJson() const;
    // Exactly one of "thread" and "tovi"; other keys are ignored. Throws
    // DestinationDecodingError ("Invalid number of keys found, expected one." when there are
    // none or both).
    static ShareDestination fromJson(const QByteArray &json);

private:
    std::variant<Tovi, ShareDestinationThread> m_value;
};

// ISO 8601 extended date-time with a zone designator ("Z", "+hh:mm" or "+hhmm"), with
// fractional seconds or whole seconds. None for a bare date, a number or anything else.
std::optional<QDateTime> destinationDateDecoding(const QJsonValue &value);
// UTC, whole seconds: 2025-03-04T05:06:07Z
QString destinationDateEncoding(const QDateTime &date);
