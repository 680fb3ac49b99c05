#include "ShareDestination.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimeZone>

using namespace Qt::StringLiterals;

std::optional<QDateTime> destinationDateDecoding(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    static const QRegularExpression pattern(
        u"^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})(?:\\.(\\d+))?"
        u"(?:(Z)|([+-])(\\d{2}):?(\\d{2}))$"_s);
    const auto match = pattern.match(value.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const auto number = [&match](int group) { return match.capturedView(group).toInt(); };
    const QDate date(number(1), number(2), number(3));
    int milliseconds = 0;
    if (match.hasCaptured(7))
        milliseconds = match.captured(7).left(3).leftJustified(3, u'0').toInt();
    const QTime time(number(4), number(5), number(6), milliseconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offset = 0;
    if (!match.hasCaptured(8)) {
        const int hours = number(10);
        const int minutes = number(11);
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offset = (hours * 60 + minutes) * 60 * (match.capturedView(9) == u"-" ? -1 : 1);
    }
    const QDateTime utc = QDateTime(date, time, QTimeZone(offset)).toUTC();
    // An offset can carry the first or last day into year 0 or 10000, which the encoding cannot
    // write as four digits: such a date could be read but not remembered and read back.
    if (utc.date().year() < 1 || utc.date().year() > 9999)
        return std::nullopt;
    return utc;
}

QString destinationDateEncoding(const QDateTime &date)
{
    return date.toUTC().toString(u"yyyy-MM-dd'T'HH:mm:ss'Z'"_s);
}

std::optional<ShareDestinationThread> ShareDestinationThread::fromJson(const QJsonValue &value)
{
    const auto object = value.toObject();
    const auto id = object.value("id"_L1);
    const auto title = object.value("title"_L1);
    const auto color = object.value("color"_L1);
    const auto updatedAt = destinationDateDecoding(object.value("updatedAt"_L1));
    if (!value.isObject() || !id.isString() || !title.isString() || !color.isString() || !updatedAt)
        return std::nullopt;
    return ShareDestinationThread{id.toString(), title.toString(), color.toString(), *updatedAt};
}

QJsonObject ShareDestinationThread::toJson() const
{
    return {{"id"_L1, id},
            {"title"_L1, title},
            {"color"_L1, color},
            {"updatedAt"_L1, destinationDateEncoding(updatedAt)}};
}

std::optional<QString> ShareDestination::threadID() const
{
    if (const auto *t = thread())
        return t->id;
    return std::nullopt;
}

QByteArray ShareDestination::toJson() const
{
    QJsonObject object;
    if (const auto *t = thread())
        object.insert("thread"_L1, QJsonObject{{"_0"_L1, t->toJson()}});
    else
        object.insert("tovi"_L1, QJsonObject{});
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

ShareDestination ShareDestination::fromJson(const QByteArray &json)
{
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw DestinationDecodingError("The data is not a JSON object.");
    const auto object = document.object();
    const bool hasThread = object.contains("thread"_L1);
    const bool hasTovi = object.contains("tovi"_L1);
    if (hasThread == hasTovi)
        throw DestinationDecodingError("Invalid number of keys found, expected one.");
    if (hasTovi) {
        if (!object.value("tovi"_L1).isObject())
            throw DestinationDecodingError("The value of \"tovi\" is not an object.");
        return Tovi{};
    }
    const auto payload = object.value("thread"_L1).toObject().value("_0"_L1);
    const auto thread = ShareDestinationThread::fromJson(payload);
    if (!thread)
        throw DestinationDecodingError("The value of \"thread\" is not a thread.");
    return *thread;
}
