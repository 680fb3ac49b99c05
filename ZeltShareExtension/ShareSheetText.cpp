#include "ShareSheetText.h"

#include <QCoreApplication>
#include <QLocale>

#include <cmath>
#include <memory>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

using namespace Qt::StringLiterals;

namespace ShareSheetText {

QString fileSymbol(const std::optional<ContentType> &contentType)
{
    if (!contentType)
        return u"doc"_s;
    // In this order: the first match wins.
    const std::pair<ContentType, QString> symbols[] = {
        {ContentType::audio(), u"waveform"_s},     {ContentType::movie(), u"film"_s},
        {ContentType::image(), u"photo"_s},        {ContentType::pdf(), u"doc.richtext"_s},
        {ContentType::archive(), u"doc.zipper"_s}, {ContentType::plainText(), u"doc.text"_s},
    };
    for (const auto &[type, symbol] : symbols) {
        if (contentType->conforms(type))
            return symbol;
    }
    return u"doc"_s;
}

QString fileDetail(const SharedFile &file)
{
    const QString size = QLocale().formattedDataSize(file.sizeBytes, 1, QLocale::DataSizeSIFormat);
    const QString description =
        file.contentType ? file.contentType->localizedDescription() : QString();
    return description.isEmpty() ? size : description + u", "_s + size;
}

namespace {

// The largest whole unit of the distance, counted towards zero, signed.
std::pair<double, URelativeDateTimeUnit> largestUnit(qint64 seconds)
{
    constexpr qint64 minute = 60, hour = 60 * minute, day = 24 * hour, week = 7 * day;
    // Calendar months and years, averaged.
    constexpr qint64 year = 31556952, month = year / 12;
    const qint64 distance = std::abs(seconds);
    const double sign = seconds < 0 ? -1 : 1;
    const std::pair<qint64, URelativeDateTimeUnit> units[] = {
        {year, UDAT_REL_UNIT_YEAR}, {month, UDAT_REL_UNIT_MONTH}, {week, UDAT_REL_UNIT_WEEK},
        {day, UDAT_REL_UNIT_DAY},   {hour, UDAT_REL_UNIT_HOUR},   {minute, UDAT_REL_UNIT_MINUTE},
    };
    for (const auto &[length, unit] : units) {
        if (distance >= length)
            return {sign * double(distance / length), unit};
    }
    return {sign * double(distance), UDAT_REL_UNIT_SECOND};
}

QString relative(qint64 seconds)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale(QLocale().name().toUtf8().constData());
    icu::RelativeDateTimeFormatter formatter(locale, nullptr, UDAT_STYLE_LONG,
                                             UDISPCTX_CAPITALIZATION_NONE, status);
    const auto [offset, unit] = largestUnit(seconds);
    icu::UnicodeString text;
    // The named form where the language has one: "yesterday", "last week", "now".
    formatter.format(offset, unit, text, status);
    if (U_FAILURE(status))
        return {};
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

} // namespace

QString updated(const QDateTime &updatedAt, const QDateTime &now)
{
    return QCoreApplication::translate("ShareDestinationPicker", "Updated %1")
        .arg(relative(now.secsTo(updatedAt)));
}

} // namespace ShareSheetText
