#include "DataURI.h"

#include <cctype>

using namespace Qt::StringLiterals;

namespace {

constexpr QByteArrayView scheme = "data:";

// RFC 2045's token characters, which a type, subtype and attribute are made of.
bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7f || QByteArrayView("()<>@,;:\\\"/[]?=").contains(c))
            return false;
    }
    return true;
}

// Every "%" starts an escape of two hex digits: Qt's decoding lets a broken one through as
// something else.
bool hasValidEscapes(QByteArrayView text)
{
    for (qsizetype index = text.indexOf('%'); index >= 0; index = text.indexOf('%', index + 1)) {
        if (index + 2 >= text.size() || !isxdigit(static_cast<unsigned char>(text[index + 1])) ||
            !isxdigit(static_cast<unsigned char>(text[index + 2])))
            return false;
    }
    return true;
}

std::optional<DataURI> failed(DataURI::Error *error, DataURI::Error why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

} // namespace

bool DataURI::hasScheme(QByteArrayView text)
{
    return text.size() >= scheme.size() &&
           text.first(scheme.size()).compare(scheme, Qt::CaseInsensitive) == 0;
}

std::optional<DataURI> DataURI::parse(QByteArrayView text, Error *error)
{
    if (!hasScheme(text))
        return failed(error, Error::Malformed);
    const QByteArrayView rest = text.sliced(scheme.size());
    const qsizetype comma = rest.indexOf(',');
    if (comma < 0)
        return failed(error, Error::Malformed);
    const QByteArrayView header = rest.first(comma);
    const QByteArrayView payload = rest.sliced(comma + 1);
    if (!hasValidEscapes(header) || !hasValidEscapes(payload))
        return failed(error, Error::Malformed);
    // Percent-encoding takes three characters for a byte, base64 four for three: past this the
    // data cannot fit, whichever it is.
    if (payload.size() > 3 * maximumBytes)
        return failed(error, Error::TooLarge);

    DataURI uri;
    bool base64 = false;
    qsizetype start = 0;
    for (qsizetype index = 0; start <= header.size(); ++index) {
        qsizetype end = header.indexOf(';', start);
        if (end < 0)
            end = header.size();
        const QByteArrayView part = header.sliced(start, end - start);
        start = end + 1;
        if (index == 0) {
            if (part.isEmpty()) {
                uri.mediaType = u"text/plain"_s;
                continue;
            }
            const qsizetype slash = part.indexOf('/');
            if (slash < 0 || !isToken(part.first(slash)) || !isToken(part.sliced(slash + 1)))
                return failed(error, Error::Malformed);
            uri.mediaType = QString::fromLatin1(part).toLower();
            continue;
        }
        if (part.compare("base64", Qt::CaseInsensitive) == 0 && end == header.size()) {
            base64 = true;
            continue;
        }
        const qsizetype equals = part.indexOf('=');
        if (equals < 0 || !isToken(part.first(equals)))
            return failed(error, Error::Malformed);
        const QByteArrayView attribute = part.first(equals);
        if (attribute.compare("name", Qt::CaseInsensitive) == 0 ||
            attribute.compare("filename", Qt::CaseInsensitive) == 0) {
            uri.name = QString::fromUtf8(
                           QByteArray::fromPercentEncoding(part.sliced(equals + 1).toByteArray()))
                           .trimmed();
        }
    }

    if (base64) {
        // Percent-encoded base64 is base64 still; white space is left out, as browsers do.
        QByteArray characters = QByteArray::fromPercentEncoding(payload.toByteArray());
        characters.removeIf([](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
        auto decoded = QByteArray::fromBase64Encoding(std::move(characters),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return failed(error, Error::Malformed);
        uri.bytes = std::move(*decoded);
    } else {
        uri.bytes = QByteArray::fromPercentEncoding(payload.toByteArray());
    }
    if (uri.bytes.size() > maximumBytes)
        return failed(error, Error::TooLarge);
    return uri;
}

QString DataURI::shortened(QByteArrayView text)
{
    constexpr qsizetype shown = 48;
    if (text.size() <= shown)
        return QString::fromUtf8(text);
    return QString::fromUtf8(text.first(shown)) + u"…"_s;
}
