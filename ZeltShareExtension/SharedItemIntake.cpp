#include "SharedItemIntake.h"

#include "FileCopy.h"
#include "ImagePreparation.h"
#include "Logging.h"
#include "ProcessShutdown.h"
#include "host/ExtensionContext.h"
#include "host/WorkerThread.h"
#include "service/ServiceError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPalette>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace IntakeText {
QString chooseAFile()
{
    return QCoreApplication::translate("IntakeText", "Choose a file to share.");
}
QString tooManyFiles()
{
    return QCoreApplication::translate("IntakeText", "Share up to 10 files at a time.");
}
QString foldersCannotBeShared()
{
    return QCoreApplication::translate(
        "IntakeText", "Folders cannot be shared with Zelt. Share the files inside instead.");
}
QString isEmpty(const QString &displayName)
{
    return QCoreApplication::translate("IntakeText", "%1 is empty.").arg(displayName);
}
QString cannotBeShared()
{
    return QCoreApplication::translate("IntakeText", "This item cannot be shared with Zelt.");
}
QString couldNotLoad()
{
    return QCoreApplication::translate("IntakeText", "A shared file could not be loaded.");
}
QString notEnoughSpace(const QString &displayName)
{
    return QCoreApplication::translate("IntakeText",
                                       "There is not enough free disk space to share %1.")
        .arg(displayName);
}
QString changedWhileCopied(const QString &displayName)
{
    return QCoreApplication::translate("IntakeText",
                                       "%1 changed while it was copied. Share it again.")
        .arg(displayName);
}
} // namespace IntakeText

namespace {

// How much of a file the type detection looks at.
constexpr qsizetype sniffLength = 16384;

// The first count characters, as a reader counts them (grapheme clusters): an emoji or a
// letter with its accents is never cut in two.
QString leftCharacters(const QString &text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype position = 0;
    for (int taken = 0; taken < count; ++taken) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        position = next;
    }
    return text.left(position);
}

QString withoutLastCharacter(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    const qsizetype previous = finder.toPreviousBoundary();
    return text.left(previous > 0 ? previous : 0);
}

// The extension of a name's last path component: what follows its last ".", unless that "."
// starts the component or ends it.
QString pathExtension(const QString &name)
{
    const qsizetype slash = name.lastIndexOf(u'/');
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= slash + 1 || dot == name.size() - 1)
        return {};
    return name.mid(dot + 1);
}

QString deletingPathExtension(const QString &name)
{
    const QString extension = pathExtension(name);
    return extension.isEmpty() ? name : name.left(name.size() - extension.size() - 1);
}

// A Linux file name holds at most NAME_MAX bytes, fewer than 200 characters outside ASCII may
// take. The base is shortened, a character at a time, until the name with its extension fits.
QString fittedFileName(const QString &name)
{
    if (name.toUtf8().size() <= NAME_MAX)
        return name;
    const QString extension = pathExtension(name);
    const QString suffix = extension.isEmpty() ? QString() : u'.' + extension;
    QString base = extension.isEmpty() ? name : deletingPathExtension(name);
    while (!base.isEmpty() && (base + suffix).toUtf8().size() > NAME_MAX)
        base = withoutLastCharacter(base);
    return base.isEmpty() ? leftCharacters(suffix, 1) : base + suffix;
}

QString jpegName(const std::optional<QString> &base)
{
    return fittedFileName(SharedItemIntake::sanitizedFilename(base).value_or(u"image"_s) +
                          u".jpg"_s);
}

[[noreturn]] void throwErrno(const char *what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int descriptor)
        : m_descriptor(descriptor)
    {}
    ~FileDescriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_descriptor; }
    // Closes now, reporting what close reports (a write error may only show here).
    bool close()
    {
        const int descriptor = std::exchange(m_descriptor, -1);
        return ::close(descriptor) == 0;
    }

private:
    int m_descriptor;
};

// Only a regular file is copied: a folder has a text of its own, and a pipe, a device or a
// socket would block the copy or never end.
void checkRegularFile(const struct stat &status)
{
    if (S_ISDIR(status.st_mode))
        throw ShareError(IntakeText::foldersCannotBeShared());
    if (!S_ISREG(status.st_mode))
        throw ShareError(IntakeText::cannotBeShared());
}

// Creates path and the directories above it that are missing, each private to the user.
void makePrivateDirectories(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    qsizetype position = clean.startsWith(u'/') ? 1 : 0;
    for (;;) {
        const qsizetype slash = clean.indexOf(u'/', position);
        const QString partial = slash < 0 ? clean : clean.left(slash);
        const QByteArray encoded = QFile::encodeName(partial);
        if (::mkdir(encoded.constData(), 0700) != 0) {
            struct stat status = {};
            if (errno != EEXIST || ::stat(encoded.constData(), &status) != 0 ||
                !S_ISDIR(status.st_mode))
                throwErrno("mkdir");
        }
        if (slash < 0)
            return;
        position = slash + 1;
    }
}

std::optional<ContentType> firstKnownType(const ItemProvider &attachment,
                                          bool (*accept)(const ContentType &))
{
    for (const QString &identifier : attachment.registeredTypeIdentifiers()) {
        const auto type = ContentType::fromIdentifier(identifier);
        if (type && accept(*type))
            return type;
    }
    return std::nullopt;
}

bool isImageType(const ContentType &type)
{
    return type.conforms(ContentType::image());
}

bool isCopyableType(const ContentType &type)
{
    return !type.conforms(ContentType::url()) && !type.conforms(ContentType::directory());
}

QCoro::Task<std::optional<QVariant>> loadedItem(std::shared_ptr<const ItemProvider> attachment,
                                                QString typeIdentifier)
{
    if (!attachment->hasItemConformingToTypeIdentifier(typeIdentifier))
        co_return std::nullopt;
    try {
        auto loading = attachment->loadItem(typeIdentifier);
        co_return co_await std::move(loading);
    } catch (...) {
        co_return std::nullopt;
    }
}

QCoro::Task<std::optional<PreparedImage>> prepareImage(ItemData data, QColor background,
                                                       int previewSize)
{
    return WorkerThread::run([data = std::move(data), background, previewSize] {
        // A process asked to stop does not go on decoding.
        ImagePreparationLimits limits;
        limits.cancelled = &ProcessShutdown::stopRequested();
        if (limits.cancelled->load())
            return std::optional<PreparedImage>();
        return data.isFile()
                   ? ImagePreparation::preparedImageFromFile(data.filePath, background, previewSize,
                                                             limits)
                   : ImagePreparation::preparedImage(data.bytes, background, previewSize, limits);
    });
}

// Replaces a file of the same name in one step, so that a failed write leaves the earlier
// file (the copy a JPEG is made from) as it was.
QCoro::Task<bool> writeFile(QString path, QByteArray bytes)
{
    return WorkerThread::run([path = std::move(path), bytes = std::move(bytes)] {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        if (file.write(bytes) != bytes.size()) {
            file.cancelWriting();
            return false;
        }
        return file.commit();
    });
}

SharedFile preparedRecord(const QString &path, qint64 size)
{
    SharedFile file;
    file.id = QUuid::createUuid();
    file.fileURL = QUrl::fromLocalFile(path);
    file.filename = QFileInfo(path).fileName();
    file.mediaType = u"image/jpeg"_s;
    file.contentType = ContentType::jpeg();
    file.sizeBytes = size;
    file.isPreparedImage = true;
    return file;
}

} // namespace

SharedItemIntake::SharedItemIntake(Sink &sink, const ExtensionContext *context,
                                   QString temporaryDirectory, QColor background, QObject *parent)
    : QObject(parent)
    , m_sink(sink)
    , m_items(context ? context->inputItems() : QList<ExtensionItem>())
    , m_temporaryDirectory(std::move(temporaryDirectory))
    , m_background(background)
{}

SharedItemIntake::SharedItemIntake(Sink &sink, QList<ExtensionItem> items, int alreadyShared,
                                   QString temporaryDirectory, QColor background, QObject *parent)
    : QObject(parent)
    , m_sink(sink)
    , m_items(std::move(items))
    , m_alreadyShared(alreadyShared)
    , m_temporaryDirectory(std::move(temporaryDirectory))
    , m_background(background)
{}

QColor SharedItemIntake::windowBackgroundColor()
{
    return QGuiApplication::palette().color(QPalette::Active, QPalette::Window);
}

QCoro::Task<> SharedItemIntake::loadSharedItems()
{
    if (m_started)
        co_return;
    m_started = true;
    const QPointer<SharedItemIntake> self(this);

    QList<std::shared_ptr<const ItemProvider>> attachments;
    QStringList texts;
    for (const ExtensionItem &item : std::as_const(m_items)) {
        for (const auto &attachment : item.attachments)
            attachments.append(attachment);
        const QString text = item.contentText.trimmed();
        if (!text.isEmpty())
            texts.append(text);
    }

    if (attachments.isEmpty()) {
        if (texts.isEmpty())
            fail(IntakeText::chooseAFile());
        else
            finish({}, texts);
        co_return;
    }
    // Links and texts count as much as files.
    if (m_alreadyShared + attachments.size() > maximumAttachments) {
        fail(IntakeText::tooManyFiles());
        co_return;
    }

    const QColor background = m_background;
    const int previewSize =
        m_alreadyShared + attachments.size() == 1 ? singlePreviewSize : multiplePreviewSize;
    const QString temporaryDirectory = m_temporaryDirectory;
    QList<SharedFile> files;

    try {
        for (qsizetype index = 0; index < attachments.size(); ++index) {
            const std::shared_ptr<const ItemProvider> attachment = attachments.at(index);

            auto reading = sharedText(attachment);
            const auto text = co_await std::move(reading);
            if (!self)
                co_return;
            if (text) {
                texts.append(*text);
                continue;
            }

            const QString directory = temporaryDirectory + u'/' +
                                      QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
            makePrivateDirectories(directory);
            const std::optional<QString> baseName =
                attachment->suggestedName()
                    ? std::optional(deletingPathExtension(*attachment->suggestedName()))
                    : std::nullopt;

            // An image the attachment offers as data is re-encoded straight from that data.
            if (const auto imageType = firstKnownType(*attachment, isImageType)) {
                std::optional<ItemData> data;
                try {
                    auto loading = attachment->loadDataRepresentation(*imageType);
                    data = co_await std::move(loading);
                } catch (...) {
                    // Copied as a file below.
                }
                if (!self)
                    co_return;
                if (data) {
                    auto preparing = prepareImage(*data, background, previewSize);
                    const auto prepared = co_await std::move(preparing);
                    if (!self)
                        co_return;
                    if (prepared) {
                        const QString path = directory + u'/' + jpegName(baseName);
                        auto writing = writeFile(path, prepared->jpegData);
                        const bool written = co_await std::move(writing);
                        if (!self)
                            co_return;
                        if (written) {
                            const SharedFile file = preparedRecord(path, prepared->jpegData.size());
                            m_sink.insertPreview(file.id, prepared->preview);
                            files.append(file);
                            continue;
                        }
                    }
                }
            }

            auto copying = copiedFile(attachment, directory);
            const CopiedFile copied = co_await std::move(copying);
            if (!self)
                co_return;
            const SharedFile file = sharedFile(copied);

            // A file that turns out to be an image is re-encoded from its copy.
            if (file.contentType && file.contentType->conforms(ContentType::image())) {
                const QString copyPath = file.fileURL.toLocalFile();
                auto preparing =
                    prepareImage(ItemData::fromFile(copyPath), background, previewSize);
                const auto prepared = co_await std::move(preparing);
                if (!self)
                    co_return;
                if (prepared) {
                    const QString path =
                        directory + u'/' + jpegName(deletingPathExtension(file.filename));
                    auto writing = writeFile(path, prepared->jpegData);
                    const bool written = co_await std::move(writing);
                    if (!self)
                        co_return;
                    if (written) {
                        if (QDir::cleanPath(path) != QDir::cleanPath(copyPath))
                            QFile::remove(copyPath);
                        const SharedFile preparedFile =
                            preparedRecord(path, prepared->jpegData.size());
                        m_sink.insertPreview(preparedFile.id, prepared->preview);
                        files.append(preparedFile);
                        continue;
                    }
                }
            }
            files.append(file);
        }
    } catch (const ShareError &error) {
        if (self)
            fail(error.errorDescription());
        co_return;
    } catch (const std::exception &error) {
        if (self) {
            qCWarning(lcShareExtension, "A shared item could not be loaded: %s", error.what());
            fail(IntakeText::couldNotLoad());
        }
        co_return;
    } catch (...) {
        if (self)
            fail(IntakeText::couldNotLoad());
        co_return;
    }

    finish(files, texts);
}

void SharedItemIntake::finish(const QList<SharedFile> &files, const QStringList &texts)
{
    m_sink.setFiles(files);
    if (m_sink.message().isEmpty())
        m_sink.setMessage(dedupedTexts(texts).join("\n\n"_L1));
    m_sink.setHasSharedItems(true);
    m_sink.setLoading(false);
}

void SharedItemIntake::fail(const QString &errorMessage)
{
    m_sink.setErrorMessage(errorMessage);
    m_sink.setLoading(false);
}

std::optional<QString> SharedItemIntake::sanitizedFilename(const std::optional<QString> &name)
{
    if (!name)
        return std::nullopt;
    QString sanitized = *name;
    sanitized.replace(u'/', u'-').replace(u':', u'-');
    sanitized = sanitized.trimmed();
    qsizetype start = 0;
    qsizetype end = sanitized.size();
    while (start < end && sanitized.at(start) == u'.')
        ++start;
    while (end > start && sanitized.at(end - 1) == u'.')
        --end;
    sanitized = sanitized.mid(start, end - start);
    if (sanitized.isEmpty())
        return std::nullopt;
    return leftCharacters(sanitized, maximumFilenameLength);
}

QString SharedItemIntake::pageText(const SharedPage &page)
{
    QString quote;
    if (!page.selection.isEmpty()) {
        QStringList lines = page.selection.split(u'\n');
        for (QString &line : lines)
            line.prepend("> "_L1);
        quote = lines.join(u'\n');
    }
    QStringList parts;
    if (page.title != page.url)
        parts.append(page.title);
    parts.append(quote);
    parts.append(page.url);
    parts.removeAll(QString());
    return parts.join("\n\n"_L1);
}

namespace {

// Whether part stands in text as a whole: somewhere in it (case-sensitive), with the start or
// the end of text, or white space, on either side. A word is not taken for a letter of
// another one: "a" is not in "https://example.com/a", a link is in the page text it ends.
bool containsAsWhole(const QString &text, const QString &part)
{
    if (part.isEmpty())
        return true;
    for (qsizetype at = text.indexOf(part); at >= 0; at = text.indexOf(part, at + 1)) {
        const qsizetype end = at + part.size();
        const bool boundedBefore = at == 0 || text.at(at - 1).isSpace();
        const bool boundedAfter = end == text.size() || text.at(end).isSpace();
        if (boundedBefore && boundedAfter)
            return true;
    }
    return false;
}

} // namespace

QStringList SharedItemIntake::dedupedTexts(const QStringList &texts)
{
    QStringList kept;
    for (const QString &text : texts) {
        const bool contained = std::any_of(kept.cbegin(), kept.cend(), [&text](const QString &k) {
            return containsAsWhole(k, text);
        });
        if (contained)
            continue;
        kept.removeIf([&text](const QString &k) { return containsAsWhole(text, k); });
        kept.append(text);
    }
    return kept;
}

std::optional<SharedPage> SharedItemIntake::pageFromItem(const QVariant &item)
{
    if (item.metaType().id() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariant results = item.toMap().value(QString(ItemProvider::pageResultsKey));
    if (results.metaType().id() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap fields = results.toMap();
    const auto string = [&fields](const QString &key) -> std::optional<QString> {
        const QVariant value = fields.value(key);
        if (value.metaType().id() != QMetaType::QString)
            return std::nullopt;
        return value.toString();
    };
    const auto url = string(u"url"_s);
    if (!url || url->isEmpty())
        return std::nullopt;
    SharedPage page;
    page.title = string(u"title"_s).value_or(QString()).trimmed();
    page.url = *url;
    page.selection = leftCharacters(string(u"selection"_s).value_or(QString()).trimmed(),
                                    maximumSelectionLength);
    return page;
}

std::optional<QUrl> SharedItemIntake::urlFromItem(const QVariant &item)
{
    QUrl url;
    switch (item.metaType().id()) {
    case QMetaType::QUrl:
        url = item.toUrl();
        break;
    case QMetaType::QByteArray:
        url = QUrl::fromEncoded(item.toByteArray(), QUrl::StrictMode);
        break;
    case QMetaType::QString:
        url = QUrl(item.toString(), QUrl::StrictMode);
        break;
    default:
        return std::nullopt;
    }
    if (!url.isValid() || url.isEmpty())
        return std::nullopt;
    return url;
}

std::optional<QString> SharedItemIntake::stringFromItem(const QVariant &item)
{
    switch (item.metaType().id()) {
    case QMetaType::QString:
        return item.toString();
    case QMetaType::QByteArray: {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder(item.toByteArray());
        if (decoder.hasError())
            return std::nullopt;
        return text;
    }
    default:
        return std::nullopt;
    }
}

QCoro::Task<std::optional<QString>>
SharedItemIntake::sharedText(std::shared_ptr<const ItemProvider> attachment)
{
    // An image becomes a file even when it could also be read as text.
    if (attachment->hasItemConformingToTypeIdentifier(ContentType::image().identifier()))
        co_return std::nullopt;

    const QString pageType = ContentType::propertyList().identifier();
    auto loadingPage = loadedItem(attachment, pageType);
    if (const auto item = co_await std::move(loadingPage)) {
        if (const auto page = pageFromItem(*item))
            co_return pageText(*page);
    }

    const QString urlType = ContentType::url().identifier();
    auto loadingURL = loadedItem(attachment, urlType);
    if (const auto item = co_await std::move(loadingURL)) {
        if (const auto url = urlFromItem(*item)) {
            const QString scheme = url->scheme().toLower();
            // A link given as text is sent as it was written: parsing would lower-case its
            // scheme and host and encode its letters, and then no longer match the same link
            // inside a page's text.
            if (scheme == "http"_L1 || scheme == "https"_L1)
                co_return item->metaType().id() == QMetaType::QString
                    ? item->toString().trimmed()
                    : url->toString(QUrl::FullyEncoded);
        }
    }

    // A named item is a file, whatever else it offers.
    if (attachment->suggestedName())
        co_return std::nullopt;

    const QString textType = ContentType::plainText().identifier();
    auto loadingText = loadedItem(attachment, textType);
    if (const auto item = co_await std::move(loadingText)) {
        if (const auto text = stringFromItem(*item)) {
            const QString trimmed = text->trimmed();
            if (!trimmed.isEmpty() && trimmed.size() <= maximumTextLength)
                co_return trimmed;
        }
    }
    co_return std::nullopt;
}

QCoro::Task<CopiedFile> SharedItemIntake::copiedFile(std::shared_ptr<const ItemProvider> attachment,
                                                     QString directory)
{
    const std::optional<QString> preferredName = sanitizedFilename(attachment->suggestedName());
    const QString fileURLType = ContentType::fileURL().identifier();
    const bool hasFileURL = attachment->hasItemConformingToTypeIdentifier(fileURLType);

    if (const auto type = firstKnownType(*attachment, isCopyableType)) {
        // The copy is made while the provider's file exists, on the thread that delivers it.
        auto copy = [directory, preferredName, type = *type](const QString &path) {
            return copyIntoDirectory(path, directory,
                                     preferredName.value_or(QFileInfo(path).fileName()), type);
        };
        try {
            auto copying = attachment->loadFileRepresentation(*type, std::move(copy));
            co_return co_await std::move(copying);
        } catch (const ShareError &) {
            throw;
        } catch (...) {
            if (!hasFileURL)
                throw;
        }
    } else if (!hasFileURL) {
        throw ShareError(IntakeText::cannotBeShared());
    }

    auto loading = attachment->loadItem(fileURLType);
    const QVariant item = co_await std::move(loading);
    const auto url = urlFromItem(item);
    if (!url || !url->isLocalFile())
        throw ItemProviderError("the file URL item is not a local file");
    auto copy = [path = url->toLocalFile(), directory, preferredName] {
        return copyIntoDirectory(path, directory,
                                 preferredName.value_or(QFileInfo(path).fileName()), std::nullopt);
    };
    auto copying = WorkerThread::run(std::move(copy));
    co_return co_await std::move(copying);
}

CopiedFile SharedItemIntake::copyIntoDirectory(const QString &source, const QString &directory,
                                               const QString &displayName,
                                               const std::optional<ContentType> &givenContentType)
{
    const QByteArray encodedSource = QFile::encodeName(source);
    struct stat status = {};
    if (::stat(encodedSource.constData(), &status) != 0)
        throwErrno("stat");
    checkRegularFile(status);
    if (status.st_size <= 0)
        throw ShareError(IntakeText::isEmpty(displayName));

    // Without blocking, and checked again on the open file: what is read is what was checked.
    FileDescriptor input(
        ::open(encodedSource.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (input.get() < 0)
        throwErrno("open");
    if (::fstat(input.get(), &status) != 0)
        throwErrno("fstat");
    checkRegularFile(status);
    // What is copied is the size read now: a file that grows meanwhile is taken up to here.
    const qint64 size = status.st_size;
    if (size <= 0)
        throw ShareError(IntakeText::isEmpty(displayName));

    std::optional<ContentType> contentType = givenContentType;
    if (!contentType) {
        QByteArray firstBytes(sniffLength, Qt::Uninitialized);
        ssize_t count;
        do {
            count = ::pread(input.get(), firstBytes.data(), size_t(sniffLength), 0);
        } while (count < 0 && errno == EINTR);
        firstBytes.resize(count > 0 ? qsizetype(count) : 0);
        contentType = ContentType::fromFileNameAndData(QFileInfo(source).fileName(), firstBytes);
    }
    if (!contentType)
        contentType =
            ContentType::fromFilenameExtension(QFileInfo(source).suffix(), ContentType::data());

    QString name = sanitizedFilename(displayName).value_or(u"File"_s);
    if (pathExtension(name).isEmpty() && contentType) {
        if (const auto extension = contentType->preferredFilenameExtension())
            name += u'.' + *extension;
    }
    name = fittedFileName(name);

    const QString destination = directory + u'/' + name;
    const QByteArray encodedDestination = QFile::encodeName(destination);
    FileDescriptor output(::open(encodedDestination.constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600));
    if (output.get() < 0)
        throwErrno("open");
    qint64 copied = 0;
    try {
        copied = FileCopy::copyContents(input.get(), output.get(), size,
                                        &ProcessShutdown::stopRequested());
        if (!output.close())
            throwErrno("close");
        // A file cut short while it was read would be sent as half of itself.
        if (copied < size)
            throw ShareError(IntakeText::changedWhileCopied(displayName));
    } catch (const std::system_error &error) {
        ::unlink(encodedDestination.constData());
        if (error.code() == std::errc::no_space_on_device)
            throw ShareError(IntakeText::notEnoughSpace(displayName));
        throw;
    } catch (...) {
        ::unlink(encodedDestination.constData());
        throw;
    }
    return CopiedFile{QUrl::fromLocalFile(destination), copied, contentType};
}

SharedFile SharedItemIntake::sharedFile(const CopiedFile &copied)
{
    const QString path = copied.fileURL.toLocalFile();
    std::optional<QString> mediaType;
    if (copied.contentType)
        mediaType = copied.contentType->preferredMIMEType();
    if (!mediaType) {
        if (const auto derived = ContentType::fromFilenameExtension(
                pathExtension(QFileInfo(path).fileName()), ContentType::data()))
            mediaType = derived->preferredMIMEType();
    }

    SharedFile file;
    file.id = QUuid::createUuid();
    file.fileURL = copied.fileURL;
    file.filename = QFileInfo(path).fileName();
    file.mediaType = mediaType.value_or(u"application/octet-stream"_s);
    file.contentType = copied.contentType;
    file.sizeBytes = copied.sizeBytes;
    file.isPreparedImage = false;
    return file;
}
