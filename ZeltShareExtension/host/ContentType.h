#pragma once

#include <QString>

#include <optional>

// The type of a shared item or file, named by an identifier: a MIME type of the shared MIME
// database ("image/png"), one of the abstract kinds that concrete types conform to ("image/*",
// "video/*", "audio/*", "x-zelt/archive"), or one of the host's own item kinds (a link, a
// local file, a page's property list). Only known types can be made; conformance follows the
// MIME database's inheritance. Safe to use from any thread.
class ContentType
{
public:
    // Abstract kinds.
    static ContentType image();     // every image/* type
    static ContentType movie();     // every video/* type
    static ContentType audio();     // every audio/* type
    static ContentType archive();   // zip, tar, 7z, rar and the compressors, and their subtypes
    static ContentType data();      // every file type: application/octet-stream
    static ContentType directory(); // inode/directory
    // Concrete types the intake names.
    static ContentType plainText(); // text/plain, the parent of every text/* type
    static ContentType pdf();
    static ContentType jpeg();
    // The host's item kinds. A file URL is a URL; none of the three has a MIME type.
    static ContentType url();
    static ContentType fileURL();
    static ContentType propertyList();

    // The known type of that identifier (an alias resolves to its canonical MIME type); none for
    // an identifier the database and the host do not know.
    static std::optional<ContentType> fromIdentifier(const QString &identifier);
    // The type whose file name pattern matches "*.<extension>" and that conforms to
    // conformingTo; none when no such type is known or the extension is empty.
    static std::optional<ContentType> fromFilenameExtension(const QString &extension,
                                                            const ContentType &conformingTo);
    // The type of a file with this name and these first bytes (name patterns first, then the
    // contents); none when neither names one.
    static std::optional<ContentType> fromFileNameAndData(const QString &fileName,
                                                          const QByteArray &firstBytes);
    // The type of the file or folder at path, by name and contents; none when it cannot be
    // named. Opens the file only when it is a regular file.
    static std::optional<ContentType> ofFile(const QString &path);

    const QString &identifier() const { return m_identifier; }

    // True when this type is other or one of its subtypes.
    bool conforms(const ContentType &other) const;
    std::optional<QString> preferredMIMEType() const;
    // Without the dot, for example "jpg".
    std::optional<QString> preferredFilenameExtension() const;
    // The database's comment in the user's language, for example "PNG image".
    QString localizedDescription() const;

    bool operator==(const ContentType &) const = default;

private:
    explicit ContentType(QString identifier)
        : m_identifier(std::move(identifier))
    {}

    QString m_identifier;
};
