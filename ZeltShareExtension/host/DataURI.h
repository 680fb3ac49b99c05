#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// A data: URI (RFC 2397), as callers hand over a picture without a file: a screenshot, an image
// from a web page, a drop. "data:" [type/subtype] *(";" attribute "=" value) [";base64"] ","
// data. A "name" (or "filename") parameter, percent-encoded, is the name the data goes by.
struct DataURI
{
    // The media type, lower-case, without its parameters; text/plain when none is given.
    QString mediaType;
    // The name parameter, decoded; empty when there is none.
    QString name;
    QByteArray bytes;

    // More than this, decoded, is refused: it is kept in memory on its way to a file.
    static constexpr qsizetype maximumBytes = 64 * 1024 * 1024;

    enum class Error { Malformed, TooLarge };

    // Whether text starts with the data: scheme (in any letter case).
    static bool hasScheme(QByteArrayView text);
    // The URI decoded, or why not.
    static std::optional<DataURI> parse(QByteArrayView text, Error *error = nullptr);
    // A few characters of a long URI, for an error line.
    static QString shortened(QByteArrayView text);
};
