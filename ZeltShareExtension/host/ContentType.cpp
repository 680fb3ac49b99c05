#include "ContentType.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr auto imageIdentifier = "image/*"_L1;
constexpr auto movieIdentifier = "video/*"_L1;
constexpr auto audioIdentifier = "audio/*"_L1;
constexpr auto archiveIdentifier = "x-zelt/archive"_L1;
constexpr auto urlIdentifier = "x-zelt/url"_L1;
constexpr auto fileURLIdentifier = "x-zelt/file-url"_L1;
constexpr auto propertyListIdentifier = "x-zelt/property-list"_L1;
constexpr auto dataIdentifier = "application/octet-stream"_L1;
constexpr auto directoryIdentifier = "inode/directory"_L1;

// The database has no common parent of archives; these are the roots that archive formats and
// their compressed variants (a .tar.gz is an application/gzip) descend from.
constexpr std::array archiveRoots{
    "application/zip"_L1,     "application/x-tar"_L1,  "application/gzip"_L1,
    "application/x-bzip"_L1,  "application/x-xz"_L1,   "application/zstd"_L1,
    "application/x-lzma"_L1,  "application/x-lzip"_L1, "application/x-7z-compressed"_L1,
    "application/vnd.rar"_L1, "application/x-cpio"_L1, "application/x-archive"_L1,
};

// A magic rule looks at most this far into a file; the database reads no more either.
constexpr qint64 sniffLength = 16384;

enum class Kind { Concrete, Image, Movie, Audio, Archive, URL, FileURL, PropertyList };

Kind kindOf(const QString &identifier)
{
    if (identifier == imageIdentifier)
        return Kind::Image;
    if (identifier == movieIdentifier)
        return Kind::Movie;
    if (identifier == audioIdentifier)
        return Kind::Audio;
    if (identifier == archiveIdentifier)
        return Kind::Archive;
    if (identifier == urlIdentifier)
        return Kind::URL;
    if (identifier == fileURLIdentifier)
        return Kind::FileURL;
    if (identifier == propertyListIdentifier)
        return Kind::PropertyList;
    return Kind::Concrete;
}

bool hasAncestorInGroup(const QMimeType &type, QLatin1StringView group)
{
    if (type.name().startsWith(group))
        return true;
    const QStringList ancestors = type.allAncestors();
    return std::any_of(ancestors.begin(), ancestors.end(),
                       [group](const QString &name) { return name.startsWith(group); });
}

bool isArchive(const QMimeType &type)
{
    return std::any_of(archiveRoots.begin(), archiveRoots.end(),
                       [&type](QLatin1StringView root) { return type.inherits(root); });
}

std::optional<QString> nonEmpty(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

} // namespace

ContentType ContentType::image()
{
    return ContentType(imageIdentifier);
}
ContentType ContentType::movie()
{
    return ContentType(movieIdentifier);
}
ContentType ContentType::audio()
{
    return ContentType(audioIdentifier);
}
ContentType ContentType::archive()
{
    return ContentType(archiveIdentifier);
}
ContentType ContentType::data()
{
    return ContentType(dataIdentifier);
}
ContentType ContentType::directory()
{
    return ContentType(directoryIdentifier);
}
ContentType ContentType::plainText()
{
    return ContentType(u"text/plain"_s);
}
ContentType ContentType::pdf()
{
    return ContentType(u"application/pdf"_s);
}
ContentType ContentType::jpeg()
{
    return ContentType(u"image/jpeg"_s);
}
ContentType ContentType::url()
{
    return ContentType(urlIdentifier);
}
ContentType ContentType::fileURL()
{
    return ContentType(fileURLIdentifier);
}
ContentType ContentType::propertyList()
{
    return ContentType(propertyListIdentifier);
}

std::optional<ContentType> ContentType::fromIdentifier(const QString &identifier)
{
    if (kindOf(identifier) != Kind::Concrete)
        return ContentType(identifier);
    const QMimeType type = QMimeDatabase().mimeTypeForName(identifier);
    if (!type.isValid())
        return std::nullopt;
    return ContentType(type.name());
}

std::optional<ContentType> ContentType::fromFilenameExtension(const QString &extension,
                                                              const ContentType &conformingTo)
{
    if (extension.isEmpty())
        return std::nullopt;
    const auto candidates = QMimeDatabase().mimeTypesForFileName(u"file."_s + extension);
    for (const QMimeType &candidate : candidates) {
        const ContentType type(candidate.name());
        if (type.conforms(conformingTo))
            return type;
    }
    return std::nullopt;
}

std::optional<ContentType> ContentType::fromFileNameAndData(const QString &fileName,
                                                            const QByteArray &firstBytes)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFileNameAndData(fileName, firstBytes);
    // The database answers application/octet-stream when it knows nothing about the file.
    if (!type.isValid() || type.isDefault())
        return std::nullopt;
    return ContentType(type.name());
}

std::optional<ContentType> ContentType::ofFile(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat status = {};
    if (::stat(encoded.constData(), &status) != 0)
        return std::nullopt;
    if (S_ISDIR(status.st_mode))
        return directory();
    if (S_ISFIFO(status.st_mode))
        return fromIdentifier(u"inode/fifo"_s);
    if (S_ISCHR(status.st_mode))
        return fromIdentifier(u"inode/chardevice"_s);
    if (S_ISBLK(status.st_mode))
        return fromIdentifier(u"inode/blockdevice"_s);
    if (S_ISSOCK(status.st_mode))
        return fromIdentifier(u"inode/socket"_s);

    // Non-blocking, so that a file replaced by a pipe since the check cannot stall the caller.
    QByteArray firstBytes;
    const int descriptor = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor >= 0) {
        struct stat opened = {};
        if (::fstat(descriptor, &opened) == 0 && S_ISREG(opened.st_mode)) {
            firstBytes.resize(sniffLength);
            ssize_t count;
            do {
                count = ::read(descriptor, firstBytes.data(), size_t(sniffLength));
            } while (count < 0 && errno == EINTR);
            firstBytes.resize(count > 0 ? qsizetype(count) : 0);
        }
        ::close(descriptor);
    }
    return fromFileNameAndData(QFileInfo(path).fileName(), firstBytes);
}

bool ContentType::conforms(const ContentType &other) const
{
    if (m_identifier == other.m_identifier)
        return true;
    const Kind mine = kindOf(m_identifier);
    switch (kindOf(other.m_identifier)) {
    case Kind::URL:
        return mine == Kind::FileURL;
    case Kind::FileURL:
    case Kind::PropertyList:
        return false;
    case Kind::Image:
        return mine == Kind::Concrete &&
               hasAncestorInGroup(QMimeDatabase().mimeTypeForName(m_identifier), "image/"_L1);
    case Kind::Movie:
        return mine == Kind::Concrete &&
               hasAncestorInGroup(QMimeDatabase().mimeTypeForName(m_identifier), "video/"_L1);
    case Kind::Audio:
        return mine == Kind::Concrete &&
               hasAncestorInGroup(QMimeDatabase().mimeTypeForName(m_identifier), "audio/"_L1);
    case Kind::Archive:
        return mine == Kind::Concrete && isArchive(QMimeDatabase().mimeTypeForName(m_identifier));
    case Kind::Concrete:
        break;
    }
    // Everything that is a sequence of bytes is data: every file type, and the abstract and
    // host kinds; folders, devices and the other inode types are not.
    if (other.m_identifier == dataIdentifier)
        return mine != Kind::Concrete || !m_identifier.startsWith("inode/"_L1);
    if (mine != Kind::Concrete)
        return false;
    return QMimeDatabase().mimeTypeForName(m_identifier).inherits(other.m_identifier);
}

std::optional<QString> ContentType::preferredMIMEType() const
{
    if (kindOf(m_identifier) != Kind::Concrete)
        return std::nullopt;
    return m_identifier;
}

std::optional<QString> ContentType::preferredFilenameExtension() const
{
    if (kindOf(m_identifier) != Kind::Concrete)
        return std::nullopt;
    return nonEmpty(QMimeDatabase().mimeTypeForName(m_identifier).preferredSuffix());
}

QString ContentType::localizedDescription() const
{
    switch (kindOf(m_identifier)) {
    case Kind::Image:
        return QCoreApplication::translate("ContentType", "Image");
    case Kind::Movie:
        return QCoreApplication::translate("ContentType", "Movie");
    case Kind::Audio:
        return QCoreApplication::translate("ContentType", "Audio");
    case Kind::Archive:
        return QCoreApplication::translate("ContentType", "Archive");
    case Kind::URL:
        return QCoreApplication::translate("ContentType", "Link");
    case Kind::FileURL:
        return QCoreApplication::translate("ContentType", "File");
    case Kind::PropertyList:
        return QCoreApplication::translate("ContentType", "Web page");
    case Kind::Concrete:
        break;
    }
    return QMimeDatabase().mimeTypeForName(m_identifier).comment();
}
