#include "ItemProvider.h"

#include "FileCopy.h"
#include "ShareTemporaryDirectory.h"
#include "service/AppIdentifiers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The name a file made from data gets; the copy in the sheet then reads "File" with the type's
// extension, as a file without a name of its own does.
constexpr auto spooledFileName = "File"_L1;

// How much of the data the type detection looks at.
constexpr qsizetype sniffLength = 16384;

// The regular file at path, checked without blocking (a pipe would stall the worker): its
// bytes are then read by whoever needs them.
ItemData regularFileData(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    const int descriptor = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0)
        throw ItemProviderError("the file cannot be opened");
    struct stat status = {};
    const bool regular = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    ::close(descriptor);
    if (!regular)
        throw ItemProviderError("not a regular file");
    return ItemData::fromFile(path);
}

QByteArray readFile(const QString &path)
{
    const ItemData data = regularFileData(path);
    QFile file(data.filePath);
    if (!file.open(QIODevice::ReadOnly))
        throw ItemProviderError("the file cannot be read");
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ItemProviderError("the file cannot be read");
    return bytes;
}

// A private directory for data that has to be a file, removed when the last holder goes. Its
// lock tells the sweep of a later share that this process still uses it.
struct Spool
{
    QTemporaryDir directory;
    std::unique_ptr<ShareTemporaryDirectory::Lock> lock;

    explicit Spool(const QString &pattern)
        : directory(pattern)
    {}
    QString filePath(const QString &name) const { return directory.filePath(name); }
};

std::unique_ptr<Spool> makeSpool()
{
    const auto root = ItemProvider::spoolDirectory();
    if (!root)
        throw UnsafeSpoolError("the cache root is not the user's own");
    auto spool = std::make_unique<Spool>(*root + u"/ZeltShare-spool-XXXXXX"_s);
    if (!spool->directory.isValid())
        throw ItemProviderError("no spool directory");
    spool->lock = ShareTemporaryDirectory::lock(spool->filePath(u".lock"_s));
    return spool;
}

// How much of standard input is written between two looks at the free space.
constexpr qint64 spaceCheckInterval = qint64(16) << 20;

// The text of a UTF-8 file, trimmed, decoded as it is read and given up (none) once it is
// longer than maximumTextItemLength: a long text is shared as a file, and decoding it whole
// first would cost several times its size. Invalid UTF-8 gives its bytes instead, which the
// intake does not take for text either.
QVariant boundedText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ItemProviderError("the file cannot be read");
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text;
    // Kept past the limit only while all of it may still be trailing white space.
    bool droppedTrailingSpace = false;
    char buffer[65536];
    for (;;) {
        const qint64 count = file.read(buffer, sizeof buffer);
        if (count < 0)
            throw ItemProviderError("the file cannot be read");
        if (count == 0)
            break;
        const QString piece = decoder.decode(QByteArrayView(buffer, count));
        if (decoder.hasError())
            return QVariant();
        qsizetype start = 0;
        if (text.isEmpty()) {
            while (start < piece.size() && piece.at(start).isSpace())
                ++start;
        }
        const QStringView rest = QStringView(piece).mid(start);
        qsizetype contentEnd = rest.size();
        while (contentEnd > 0 && rest.at(contentEnd - 1).isSpace())
            --contentEnd;
        if (contentEnd > 0 && droppedTrailingSpace)
            return QVariant();
        text.append(rest);
        qsizetype end = text.size();
        while (end > 0 && text.at(end - 1).isSpace())
            --end;
        if (end > ItemProvider::maximumTextItemLength)
            return QVariant();
        if (text.size() > ItemProvider::maximumTextItemLength) {
            text.truncate(end);
            droppedTrailingSpace = true;
        }
    }
    if (decoder.hasError() || !decoder.isValid())
        return QVariant();
    return QVariant(text.trimmed());
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        file.write(bytes) != bytes.size() || !file.flush())
        throw ItemProviderError("the spool file cannot be written");
}

} // namespace

ItemProvider::ItemProvider(std::optional<QString> suggestedName)
    : m_suggestedName(std::move(suggestedName))
{}

void ItemProvider::registerRepresentation(Representation representation)
{
    m_representations.append(std::move(representation));
}

QStringList ItemProvider::registeredTypeIdentifiers() const
{
    QStringList identifiers;
    for (const auto &representation : m_representations)
        identifiers.append(representation.typeIdentifier);
    return identifiers;
}

bool ItemProvider::hasItemConformingToTypeIdentifier(const QString &typeIdentifier) const
{
    const auto wanted = ContentType::fromIdentifier(typeIdentifier);
    for (const auto &representation : m_representations) {
        if (representation.typeIdentifier == typeIdentifier)
            return true;
        const auto offered = ContentType::fromIdentifier(representation.typeIdentifier);
        if (wanted && offered && offered->conforms(*wanted))
            return true;
    }
    return false;
}

std::optional<ItemProvider::Representation> ItemProvider::representation(const ContentType &type,
                                                                         bool needsBytes) const
{
    for (const auto &representation : m_representations) {
        const auto offered = ContentType::fromIdentifier(representation.typeIdentifier);
        if (!offered || !offered->conforms(type))
            continue;
        if (needsBytes && !representation.data && !representation.file)
            continue;
        return representation;
    }
    return std::nullopt;
}

QCoro::Task<QVariant> ItemProvider::loadItem(const QString &typeIdentifier) const
{
    std::function<QVariant()> loader;
    const auto wanted = ContentType::fromIdentifier(typeIdentifier);
    for (const auto &representation : m_representations) {
        const auto offered = ContentType::fromIdentifier(representation.typeIdentifier);
        const bool matches = representation.typeIdentifier == typeIdentifier ||
                             (wanted && offered && offered->conforms(*wanted));
        if (matches && representation.item) {
            loader = representation.item;
            break;
        }
    }
    return WorkerThread::run([loader]() -> QVariant {
        if (!loader)
            throw ItemProviderError("no item of the requested type");
        return loader();
    });
}

QCoro::Task<ItemData> ItemProvider::loadDataRepresentation(const ContentType &type) const
{
    const auto found = representation(type, true);
    return WorkerThread::run([found]() -> ItemData {
        if (!found)
            throw ItemProviderError("no data of the requested type");
        if (found->data)
            return found->data();
        // The file may be gone once the handler returns, so its bytes are taken now.
        QByteArray bytes;
        found->file([&bytes](const QString &path) { bytes = readFile(path); });
        return ItemData::fromBytes(std::move(bytes));
    });
}

void ItemProvider::withFile(const Representation &representation, const FileHandler &handler)
{
    if (representation.file) {
        representation.file(handler);
        return;
    }
    const ItemData data = representation.data();
    if (data.isFile()) {
        handler(data.filePath);
        return;
    }
    const auto spool = makeSpool();
    const QString path = spool->filePath(spooledFileName);
    writeFile(path, data.bytes);
    handler(path);
}

std::optional<QString> ItemProvider::spoolDirectory()
{
    const QString directory = ShareTemporaryDirectory::defaultRoot();
    QDir().mkpath(QFileInfo(directory).path());
    if (!ShareTemporaryDirectory::ensurePrivateDirectory(directory))
        return std::nullopt;
    return directory;
}

std::shared_ptr<ItemProvider> ItemProvider::forFile(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QString name = QFileInfo(absolute).fileName();
    // A file handed over as an open descriptor is known by the name of what it stands for.
    if (absolute.startsWith(u"/proc/self/fd/"_s))
        name = QFileInfo(QFileInfo(absolute).symLinkTarget()).fileName();
    auto provider =
        std::make_shared<ItemProvider>(name.isEmpty() ? std::nullopt : std::optional(name));
    const QUrl url = QUrl::fromLocalFile(absolute);
    if (const auto type = ContentType::ofFile(absolute)) {
        provider->registerRepresentation(
            {type->identifier(), [url] { return QVariant(url); },
             [absolute] { return regularFileData(absolute); },
             [absolute](const FileHandler &handler) { handler(absolute); }});
    }
    provider->registerRepresentation(
        {ContentType::fileURL().identifier(), [url] { return QVariant(url); }, {}, {}});
    return provider;
}

std::shared_ptr<ItemProvider> ItemProvider::forURL(const QUrl &url, const QString &written)
{
    auto provider = std::make_shared<ItemProvider>();
    const QString text = written.isEmpty() ? url.toString(QUrl::FullyEncoded) : written;
    provider->registerRepresentation(
        {ContentType::url().identifier(),
         [url, written] { return written.isEmpty() ? QVariant(url) : QVariant(written); },
         [text] { return ItemData::fromBytes(text.toUtf8()); },
         {}});
    provider->registerRepresentation({ContentType::plainText().identifier(),
                                      [text] { return QVariant(text); },
                                      [text] { return ItemData::fromBytes(text.toUtf8()); },
                                      {}});
    return provider;
}

std::shared_ptr<ItemProvider> ItemProvider::forText(const QString &text)
{
    auto provider = std::make_shared<ItemProvider>();
    provider->registerRepresentation({ContentType::plainText().identifier(),
                                      [text] { return QVariant(text); },
                                      [text] { return ItemData::fromBytes(text.toUtf8()); },
                                      {}});
    return provider;
}

std::shared_ptr<ItemProvider> ItemProvider::forPage(const QVariantMap &results)
{
    auto provider = std::make_shared<ItemProvider>();
    const QVariantMap propertyList{{QString(pageResultsKey), results}};
    provider->registerRepresentation({ContentType::propertyList().identifier(),
                                      [propertyList] { return QVariant(propertyList); },
                                      {},
                                      {}});
    return provider;
}

std::shared_ptr<ItemProvider> ItemProvider::forDataURI(const DataURI &uri)
{
    const QByteArray bytes = uri.bytes;
    // Only a type a file can have: not one of the abstract kinds or the host's own.
    auto type = ContentType::fromIdentifier(uri.mediaType);
    if (type && (type->identifier().contains(u'*') || type->identifier().startsWith("x-zelt/"_L1) ||
                 type->identifier().startsWith("inode/"_L1)))
        type.reset();
    if (!type)
        type = ContentType::fromFileNameAndData(uri.name,
                                                bytes.first(qMin(bytes.size(), sniffLength)));
    if (!type)
        type = ContentType::data();

    QString name = uri.name;
    if (name.isEmpty()) {
        name = type->conforms(ContentType::image())       ? u"image"_s
               : type->conforms(ContentType::movie())     ? u"movie"_s
               : type->conforms(ContentType::audio())     ? u"audio"_s
               : type->conforms(ContentType::plainText()) ? u"text"_s
                                                          : u"file"_s;
        if (const auto extension = type->preferredFilenameExtension())
            name += u'.' + *extension;
    }
    auto provider = std::make_shared<ItemProvider>(name);
    provider->registerRepresentation({type->identifier(),
                                      [bytes] { return QVariant(bytes); },
                                      [bytes] { return ItemData::fromBytes(bytes); },
                                      {}});
    return provider;
}

std::shared_ptr<ItemProvider> ItemProvider::forData(QIODevice &input)
{
    // Shared by the loaders, so the file lives as long as any copy of them.
    const std::shared_ptr<Spool> spool = makeSpool();
    const QString path = spool->filePath(spooledFileName);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw ItemProviderError("the spool file cannot be created");
    QByteArray firstBytes;
    char buffer[65536];
    qint64 total = 0;
    qint64 sinceSpaceCheck = spaceCheckInterval;
    for (;;) {
        const qint64 count = input.read(buffer, sizeof buffer);
        if (count < 0)
            throw ItemProviderError("the data cannot be read");
        if (count == 0) {
            // A file or a pipe reads nothing only at its end; a socket or a process may have
            // more once it has been waited for.
            if (input.waitForReadyRead(-1))
                continue;
            break;
        }
        if (firstBytes.size() < sniffLength)
            firstBytes.append(buffer,
                              qsizetype(qMin<qint64>(count, sniffLength - firstBytes.size())));
        // The spool stops where a copy would: before the disk is (nearly) full.
        if (sinceSpaceCheck >= spaceCheckInterval) {
            if (!file.flush() || !FileCopy::hasRoomFor(file.handle(), spaceCheckInterval))
                throw NoSpaceError("no room for the spool");
            sinceSpaceCheck = 0;
        }
        if (file.write(buffer, count) != count) {
            if (!FileCopy::hasRoomFor(file.handle(), count))
                throw NoSpaceError("no room for the spool");
            throw ItemProviderError("the spool file cannot be written");
        }
        total += count;
        sinceSpaceCheck += count;
    }
    if (!file.flush()) {
        if (!FileCopy::hasRoomFor(file.handle(), 0))
            throw NoSpaceError("no room for the spool");
        throw ItemProviderError("the spool file cannot be written");
    }
    file.close();
    if (total == 0)
        throw NoDataError("the data is empty");

    auto provider = std::make_shared<ItemProvider>();
    const QUrl url = QUrl::fromLocalFile(path);
    if (const auto type = ContentType::fromFileNameAndData(QString(), firstBytes)) {
        // Text is read as text, and only as far as it can be a message.
        const bool text = type->conforms(ContentType::plainText());
        provider->registerRepresentation(
            {type->identifier(),
             [spool, path, text] { return text ? boundedText(path) : QVariant(readFile(path)); },
             [spool, path] { return regularFileData(path); },
             [spool, path](const FileHandler &handler) { handler(path); }});
    }
    provider->registerRepresentation(
        {ContentType::fileURL().identifier(), [spool, url] { return QVariant(url); }, {}, {}});
    return provider;
}
