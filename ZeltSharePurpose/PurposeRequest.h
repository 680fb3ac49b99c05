#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the Share menu asks to share: the input data of its plugin type, which it sends as one
// CBOR map. Export (a file manager, a screenshot, a viewer) gives "urls" and "mimeType"; ShareUrl
// (a page) gives "urls" and "title".
struct PurposeRequest
{
    enum class Type { Export, ShareUrl };

    Type type = Type::Export;
    // As sent: file: URLs, web links, data: URIs.
    QStringList urls;
    // ShareUrl's title of the page; empty for Export.
    QString title;

    // The request of a plugin type (the program's --pluginType) from its CBOR map. Throws
    // PurposeError for an unknown type, for bytes that are not one CBOR map, and for a map
    // without a list of URL strings.
    static PurposeRequest fromCbor(const QString &pluginType, const QByteArray &cbor);
};
