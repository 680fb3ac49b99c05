#include "FileCopy.h"
#include "SharedItemIntake.h"
#include "TestImages.h"
#include "host/ExtensionContext.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

// Bytes that no type's magic matches (a run of one byte value looks like a TGA image).
QByteArray unknownBytes()
{
    return QByteArray("\x00\xff\x10\x80\x7f\x03", 6).repeated(20);
}

const QColor background(40, 44, 52);

// The model's fields as the intake leaves them.
class RecordingSink : public SharedItemIntake::Sink
{
public:
    QString messageText;
    std::optional<QString> errorMessage;
    std::optional<QList<SharedFile>> files;
    QHash<QUuid, QImage> previews;
    bool hasSharedItems = false;
    bool loading = true;

    QString message() const override { return messageText; }
    void setMessage(const QString &message) override { messageText = message; }
    void setFiles(const QList<SharedFile> &newFiles) override { files = newFiles; }
    void insertPreview(const QUuid &fileID, const QImage &preview) override
    {
        previews.insert(fileID, preview);
    }
    void setHasSharedItems(bool value) override { hasSharedItems = value; }
    void setErrorMessage(const QString &message) override { errorMessage = message; }
    void setLoading(bool value) override { loading = value; }

    QStringList filenames() const
    {
        QStringList names;
        for (const auto &file : files.value_or(QList<SharedFile>()))
            names.append(file.filename);
        return names;
    }
    QStringList mediaTypes() const
    {
        QStringList types;
        for (const auto &file : files.value_or(QList<SharedFile>()))
            types.append(file.mediaType);
        return types;
    }
};

RecordingSink runIntake(const ExtensionContext *context, const QString &temporaryDirectory,
                        const QString &message = {})
{
    RecordingSink sink;
    sink.messageText = message;
    SharedItemIntake intake(sink, context, temporaryDirectory, background);
    QCoro::waitFor(intake.loadSharedItems());
    return sink;
}

std::unique_ptr<ExtensionContext> contextOf(QList<std::shared_ptr<ItemProvider>> attachments,
                                            const QString &contentText = {})
{
    return std::make_unique<ExtensionContext>(
        QList<ExtensionItem>{ExtensionItem{contentText, std::move(attachments)}});
}

// An attachment that offers bytes of one type under a name, as another program might.
std::shared_ptr<ItemProvider> dataProvider(const std::optional<QString> &name, const QString &type,
                                           const QByteArray &bytes)
{
    auto provider = std::make_shared<ItemProvider>(name);
    provider->registerRepresentation(
        {type, {}, [bytes] { return ItemData::fromBytes(bytes); }, {}});
    return provider;
}

// An attachment that offers nothing but a file URL under a name.
std::shared_ptr<ItemProvider> fileURLProvider(const std::optional<QString> &name,
                                              const QString &path)
{
    auto provider = std::make_shared<ItemProvider>(name);
    const QUrl url = QUrl::fromLocalFile(path);
    provider->registerRepresentation(
        {ContentType::fileURL().identifier(), [url] { return QVariant(url); }, {}, {}});
    return provider;
}

QStringList filesIn(const QString &directory)
{
    QStringList found;
    QDirIterator it(directory, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(QDir(directory).relativeFilePath(it.next()));
    return found;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

uint modeOf(const QString &path)
{
    struct stat status = {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 0777;
}

// A 256 KiB tmpfs of the test's own, for a disk that fills up; only root can mount one.
struct SmallFilesystem
{
    QTemporaryDir directory;
    QString error; // why there is none

    SmallFilesystem()
    {
        if (::geteuid() != 0) {
            error = u"needs root to mount a small tmpfs"_s;
        } else if (::mount("zelt-test", QFile::encodeName(directory.path()).constData(), "tmpfs",
                           MS_NOSUID | MS_NODEV, "size=256k,mode=0700") != 0) {
            error = u"cannot mount a tmpfs: "_s + QString::fromLocal8Bit(strerror(errno));
        }
    }
    ~SmallFilesystem()
    {
        if (error.isEmpty())
            ::umount2(QFile::encodeName(directory.path()).constData(), MNT_DETACH);
    }
};

// Kept out of the test class: raw strings holding "//" confuse moc's scanner there.
const QString pageJSON =
    uR"({"url":"https://example.com/a","title":"Example","selection":"one\ntwo"})"_s;
const QString emptyURLPageJSON = uR"({"url":"","title":"Nothing"})"_s;

} // namespace

class TestSharedItemIntake : public QObject
{
    Q_OBJECT

    QTemporaryDir m_cache;
    QTemporaryDir m_files;

    void write(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_files.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
        write(u"a.txt"_s, {});
        write(u"notes.txt"_s, "hello notes\n");
        write(u"document"_s, "%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n");
        write(u"blob.zzqx"_s, unknownBytes());
        write(u"fake.png"_s, "this is text, not a picture\n");
        write(u"name.png"_s, TestImages::encoded(TestImages::quadrants(300, 200), "PNG"));
        write(u"photo.jpg"_s, TestImages::encoded(TestImages::quadrants(1600, 1200), "JPEG", 90));
        write(u"bomb.png"_s, TestImages::bombPNG(16000, 16000));
        QVERIFY(QDir(m_files.path()).mkpath(u"folder/inside"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(m_files.filePath(u"pipe"_s)).constData(), 0600), 0);
        write(u"folder/inside/file.txt"_s, "inside\n");
    }

    void sanitizedFilename_data()
    {
        QTest::addColumn<std::optional<QString>>("name");
        QTest::addColumn<std::optional<QString>>("sanitized");
        QTest::newRow("none") << std::optional<QString>() << std::optional<QString>();
        QTest::newRow("plain") << std::optional(u"report.pdf"_s) << std::optional(u"report.pdf"_s);
        QTest::newRow("slash, colon, full stop")
            << std::optional(u"2024/05: report."_s) << std::optional(u"2024-05- report"_s);
        QTest::newRow("spaces then dots")
            << std::optional(u" \n..name.. \t"_s) << std::optional(u"name"_s);
        QTest::newRow("dots inside stay") << std::optional(u"a..b"_s) << std::optional(u"a..b"_s);
        QTest::newRow("only dots") << std::optional(u" ... "_s) << std::optional<QString>();
        QTest::newRow("empty") << std::optional(QString()) << std::optional<QString>();
        QTest::newRow("200 characters")
            << std::optional(QString(250, u'x')) << std::optional(QString(200, u'x'));
        // An emoji with a skin tone is one character of four UTF-16 units.
        const QString thumb = u"\U0001F44D\U0001F3FD"_s;
        QTest::newRow("characters, not code units")
            << std::optional(thumb.repeated(201)) << std::optional(thumb.repeated(200));
    }

    void sanitizedFilename()
    {
        QFETCH(std::optional<QString>, name);
        QFETCH(std::optional<QString>, sanitized);
        QCOMPARE(SharedItemIntake::sanitizedFilename(name), sanitized);
    }

    void pageText_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QString>("text");
        QTest::newRow("all three") << u"Title"_s << u"https://e.com"_s << u"one\ntwo"_s
                                   << u"Title\n\n> one\n> two\n\nhttps://e.com"_s;
        QTest::newRow("title is the url")
            << u"https://e.com"_s << u"https://e.com"_s << u"q"_s << u"> q\n\nhttps://e.com"_s;
        QTest::newRow("no selection")
            << u"Title"_s << u"https://e.com"_s << QString() << u"Title\n\nhttps://e.com"_s;
        QTest::newRow("empty lines kept")
            << QString() << u"https://e.com"_s << u"a\n\nb"_s << u"> a\n> \n> b\n\nhttps://e.com"_s;
    }

    void pageText()
    {
        QFETCH(QString, title);
        QFETCH(QString, url);
        QFETCH(QString, selection);
        QFETCH(QString, text);
        QCOMPARE(SharedItemIntake::pageText({title, url, selection}), text);
    }

    void dedupedTexts_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("prefix first") << QStringList{u"Have a look"_s, u"Have a look at this"_s}
                                      << QStringList{u"Have a look at this"_s};
        QTest::newRow("longer first") << QStringList{u"Have a look at this"_s, u"Have a look"_s}
                                      << QStringList{u"Have a look at this"_s};
        QTest::newRow("order kept") << QStringList{u"b"_s, u"x"_s, u"a b"_s, u"y"_s}
                                    << QStringList{u"x"_s, u"a b"_s, u"y"_s};
        // Only a text that stands in the longer one as a whole goes: between its ends or
        // white space, not inside a word or a link.
        QTest::newRow("part of a word")
            << QStringList{u"abc"_s, u"abcdef"_s} << QStringList{u"abc"_s, u"abcdef"_s};
        QTest::newRow("letter of a link") << QStringList{u"a"_s, u"https://example.com/a"_s}
                                          << QStringList{u"a"_s, u"https://example.com/a"_s};
        QTest::newRow("link on its own line")
            << QStringList{u"Title\n\nhttps://example.com/a"_s, u"https://example.com/a"_s}
            << QStringList{u"Title\n\nhttps://example.com/a"_s};
        QTest::newRow("case matters")
            << QStringList{u"Hello"_s, u"hello"_s} << QStringList{u"Hello"_s, u"hello"_s};
        QTest::newRow("duplicates") << QStringList{u"a"_s, u"a"_s} << QStringList{u"a"_s};
    }

    void dedupedTexts()
    {
        QFETCH(QStringList, texts);
        QFETCH(QStringList, kept);
        QCOMPARE(SharedItemIntake::dedupedTexts(texts), kept);
    }

    // Whole share requests as the command line makes them, and what the sheet ends up with.
    void shares_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("filenames");
        QTest::addColumn<QStringList>("mediaTypes");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("previews");

        QStringList elevenLinks;
        for (int i = 1; i <= 11; ++i)
            elevenLinks.append(u"https://example.com/%1/"_s.arg(i));
        QStringList tenLinks = elevenLinks.mid(0, 10);

        QTest::newRow("nothing") << QStringList() << IntakeText::chooseAFile() << QStringList()
                                 << QStringList() << QString() << 0;
        QTest::newRow("eleven links") << elevenLinks << IntakeText::tooManyFiles() << QStringList()
                                      << QStringList() << QString() << 0;
        QTest::newRow("ten links") << tenLinks << QString() << QStringList() << QStringList()
                                   << tenLinks.join("\n\n"_L1) << 0;
        QTest::newRow("folder") << QStringList{u"notes.txt"_s, u"folder"_s}
                                << IntakeText::foldersCannotBeShared() << QStringList()
                                << QStringList() << QString() << 0;
        // Neither is a file, nor a folder; copying would block or never end.
        QTest::newRow("pipe") << QStringList{u"pipe"_s} << IntakeText::cannotBeShared()
                              << QStringList() << QStringList() << QString() << 0;
        QTest::newRow("device") << QStringList{u"/dev/zero"_s} << IntakeText::cannotBeShared()
                                << QStringList() << QStringList() << QString() << 0;
        QTest::newRow("empty file") << QStringList{u"a.txt"_s} << u"a.txt is empty."_s
                                    << QStringList() << QStringList() << QString() << 0;
        QTest::newRow("missing file") << QStringList{u"missing.txt"_s} << IntakeText::couldNotLoad()
                                      << QStringList() << QStringList() << QString() << 0;
        QTest::newRow("text file")
            << QStringList{u"notes.txt"_s} << QString() << QStringList{u"notes.txt"_s}
            << QStringList{u"text/plain"_s} << QString() << 0;
        QTest::newRow("known type without extension")
            << QStringList{u"document"_s} << QString() << QStringList{u"document.pdf"_s}
            << QStringList{u"application/pdf"_s} << QString() << 0;
        QTest::newRow("unknown type")
            << QStringList{u"blob.zzqx"_s} << QString() << QStringList{u"blob.zzqx"_s}
            << QStringList{u"application/octet-stream"_s} << QString() << 0;
        QTest::newRow("png becomes jpeg")
            << QStringList{u"name.png"_s} << QString() << QStringList{u"name.jpg"_s}
            << QStringList{u"image/jpeg"_s} << QString() << 1;
        QTest::newRow("not an image after all")
            << QStringList{u"fake.png"_s} << QString() << QStringList{u"fake.png"_s}
            << QStringList{u"image/png"_s} << QString() << 0;
        QTest::newRow("decompression bomb sent as it is")
            << QStringList{u"bomb.png"_s} << QString() << QStringList{u"bomb.png"_s}
            << QStringList{u"image/png"_s} << QString() << 0;
        QTest::newRow("page and the same link")
            << QStringList{u"--page"_s, pageJSON, u"https://example.com/a"_s} << QString()
            << QStringList() << QStringList()
            << u"Example\n\n> one\n> two\n\nhttps://example.com/a"_s << 0;
        QTest::newRow("page with an empty url")
            << QStringList{u"--page"_s, emptyURLPageJSON} << IntakeText::couldNotLoad()
            << QStringList() << QStringList() << QString() << 0;
        // A link is sent as it was written.
        QTest::newRow("upper-case HTTPS link")
            << QStringList{u"HTTPS://EXAMPLE.COM/Path"_s} << QString() << QStringList()
            << QStringList() << u"HTTPS://EXAMPLE.COM/Path"_s << 0;
        QTest::newRow("international link")
            << QStringList{u"https://B\u00fccher.example/Stra\u00dfe"_s} << QString()
            << QStringList() << QStringList() << u"https://B\u00fccher.example/Stra\u00dfe"_s << 0;
        QTest::newRow("mail link as plain text")
            << QStringList{u"mailto:someone@example.com"_s} << QString() << QStringList()
            << QStringList() << u"mailto:someone@example.com"_s << 0;
        QTest::newRow("text trimmed and deduplicated")
            << QStringList{u"--text"_s, u"  hello \n"_s, u"--text"_s, u"hello world"_s} << QString()
            << QStringList() << QStringList() << u"hello world"_s << 0;
        QTest::newRow("text at the limit")
            << QStringList{u"--text"_s, QString(100'000, u'a')} << QString() << QStringList()
            << QStringList() << QString(100'000, u'a') << 0;
        QTest::newRow("text over the limit becomes a file")
            << QStringList{u"--text"_s, QString(100'001, u'a')} << QString()
            << QStringList{u"File.txt"_s} << QStringList{u"text/plain"_s} << QString() << 0;
        QTest::newRow("files and texts in order")
            << QStringList{u"notes.txt"_s, u"--text"_s, u"hi"_s, u"name.png"_s,
                           u"https://example.com/x"_s}
            << QString() << QStringList{u"notes.txt"_s, u"name.jpg"_s}
            << QStringList{u"text/plain"_s, u"image/jpeg"_s} << u"hi\n\nhttps://example.com/x"_s
            << 1;
    }

    void shares()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        QFETCH(QStringList, filenames);
        QFETCH(QStringList, mediaTypes);
        QFETCH(QString, message);
        QFETCH(int, previews);
        QTemporaryDir sheet;

        const auto context = ExtensionContext::fromCommandLine(arguments, nullptr, m_files.path());
        const RecordingSink sink = runIntake(context.get(), sheet.filePath(u"ZeltShare-1"_s));

        QVERIFY(!sink.loading);
        if (!error.isEmpty()) {
            QCOMPARE(sink.errorMessage, std::optional(error));
            QVERIFY(!sink.hasSharedItems);
            QVERIFY(!sink.files);
            QCOMPARE(sink.messageText, QString());
            return;
        }
        QCOMPARE(sink.errorMessage, std::nullopt);
        QVERIFY(sink.hasSharedItems);
        QCOMPARE(sink.filenames(), filenames);
        QCOMPARE(sink.mediaTypes(), mediaTypes);
        QCOMPARE(sink.messageText, message);
        QCOMPARE(sink.previews.size(), previews);

        // Every file is a private copy of the size it claims, alone in its item directory.
        QStringList directories;
        for (const auto &file : *sink.files) {
            const QFileInfo copy(file.fileURL.toLocalFile());
            QCOMPARE(copy.size(), file.sizeBytes);
            QVERIFY(file.sizeBytes > 0);
            QCOMPARE(copy.fileName(), file.filename);
            QCOMPARE(filesIn(copy.absolutePath()), QStringList{file.filename});
            QCOMPARE(modeOf(copy.absolutePath()), 0700u);
            QVERIFY(copy.absolutePath().startsWith(sheet.filePath(u"ZeltShare-1"_s)));
            directories.append(copy.absolutePath());
            QCOMPARE(file.isPreparedImage, file.mediaType == "image/jpeg"_L1);
            QCOMPARE(file.isPreparedImage, sink.previews.contains(file.id));
            // A file sent as it is holds exactly the bytes of its source.
            QString source = m_files.filePath(file.filename);
            if (!QFile::exists(source))
                source = m_files.filePath(QFileInfo(file.filename).completeBaseName());
            if (!file.isPreparedImage && QFile::exists(source))
                QCOMPARE(contents(copy.filePath()), contents(source));
        }
        QCOMPARE(QSet<QString>(directories.begin(), directories.end()).size(), directories.size());
        if (!sink.files->isEmpty())
            QCOMPARE(modeOf(sheet.filePath(u"ZeltShare-1"_s)), 0700u);
    }

    // Content types travel with the files; a prepared image is a JPEG.
    void contentTypes()
    {
        QTemporaryDir sheet;
        const auto context = ExtensionContext::fromCommandLine(
            {u"notes.txt"_s, u"blob.zzqx"_s, u"name.png"_s}, nullptr, m_files.path());
        const RecordingSink sink = runIntake(context.get(), sheet.path());
        QCOMPARE(sink.files->size(), 3);
        QCOMPARE(sink.files->at(0).contentType, ContentType::plainText());
        QCOMPARE(sink.files->at(1).contentType, std::nullopt);
        QCOMPARE(sink.files->at(2).contentType, ContentType::jpeg());
    }

    // Names an attachment suggests, and the ones it gets when it suggests none that is usable.
    void suggestedNames_data()
    {
        QTest::addColumn<std::optional<QString>>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("filename");
        const QString text = u"text/plain"_s;
        const QString png = u"image/png"_s;
        QTest::newRow("report.") << std::optional(u"2024/05: report."_s) << text
                                 << u"2024-05- report.txt"_s;
        QTest::newRow("report. image")
            << std::optional(u"2024/05: report."_s) << png << u"2024-05- report.jpg"_s;
        QTest::newRow("hidden") << std::optional(u".hidden"_s) << text << u"hidden.txt"_s;
        QTest::newRow("only dots") << std::optional(u"..."_s) << text << u"File.txt"_s;
        QTest::newRow("image name") << std::optional(u"name.png"_s) << png << u"name.jpg"_s;
        QTest::newRow("unnamed image") << std::optional<QString>() << png << u"image.jpg"_s;
        QTest::newRow("blank image name") << std::optional(u"  "_s) << png << u"image.jpg"_s;
    }

    void suggestedNames()
    {
        QFETCH(std::optional<QString>, name);
        QFETCH(QString, type);
        QFETCH(QString, filename);
        const QByteArray bytes = type == "image/png"_L1
                                     ? TestImages::encoded(TestImages::quadrants(40, 30), "PNG")
                                     : "some text that is saved as a file\n"_ba;
        QTemporaryDir sheet;
        const auto context = contextOf({dataProvider(name, type, bytes)});
        const RecordingSink sink = runIntake(context.get(), sheet.path());
        QCOMPARE(sink.errorMessage, std::nullopt);
        QCOMPARE(sink.filenames(), QStringList{filename});
    }

    // A name of 200 characters outside ASCII is longer than a Linux file name may be; it is
    // shortened until it fits, keeping its extension.
    void longNames()
    {
        QTemporaryDir sheet;
        const QString name = QString(200, u'\u6F22') + u".txt"_s;
        const auto context = contextOf({dataProvider(name, u"text/plain"_s, "text\n")});
        const RecordingSink sink = runIntake(context.get(), sheet.path());
        QCOMPARE(sink.errorMessage, std::nullopt);
        const QString filename = sink.files->first().filename;
        QVERIFY(filename.toUtf8().size() <= 255);
        QVERIFY(filename.endsWith(".txt"_L1));
        QVERIFY(filename.startsWith(QString(80, u'\u6F22')));
    }

    // One attachment gets the large preview, several the small one.
    void previewSizes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("longerSide");
        QTest::newRow("one image") << QStringList{u"photo.jpg"_s} << 1200;
        QTest::newRow("two images") << QStringList{u"photo.jpg"_s, u"name.png"_s} << 144;
        QTest::newRow("an image and a link")
            << QStringList{u"photo.jpg"_s, u"https://example.com"_s} << 144;
    }

    void previewSizes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, longerSide);
        QTemporaryDir sheet;
        const auto context = ExtensionContext::fromCommandLine(arguments, nullptr, m_files.path());
        const RecordingSink sink = runIntake(context.get(), sheet.path());
        const QImage preview = sink.previews.value(sink.files->first().id);
        QCOMPARE(qMax(preview.width(), preview.height()), longerSide);
    }

    // An image found only once copied (no image type offered) is re-encoded from the copy: the
    // copy goes when the JPEG has another name and is replaced when it has the same one.
    void imagesFoundInCopies_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("suggestedName");
        QTest::addColumn<QString>("filename");
        QTest::newRow("png replaced") << u"name.png"_s << u"shot.png"_s << u"shot.jpg"_s;
        QTest::newRow("jpeg overwritten in place")
            << u"photo.jpg"_s << u"photo.jpg"_s << u"photo.jpg"_s;
    }

    void imagesFoundInCopies()
    {
        QFETCH(QString, source);
        QFETCH(QString, suggestedName);
        QFETCH(QString, filename);
        QTemporaryDir sheet;
        const auto context = contextOf({fileURLProvider(suggestedName, m_files.filePath(source))});
        const RecordingSink sink = runIntake(context.get(), sheet.path());
        QCOMPARE(sink.errorMessage, std::nullopt);
        QCOMPARE(sink.filenames(), QStringList{filename});
        const SharedFile &file = sink.files->first();
        QVERIFY(file.isPreparedImage);
        QVERIFY(sink.previews.contains(file.id));
        QCOMPARE(filesIn(sheet.path()),
                 QStringList{QDir(sheet.path()).relativeFilePath(file.fileURL.toLocalFile())});
        QFile jpeg(file.fileURL.toLocalFile());
        QVERIFY(jpeg.open(QIODevice::ReadOnly));
        const QByteArray bytes = jpeg.readAll();
        QCOMPARE(bytes.size(), file.sizeBytes);
        QCOMPARE(TestImages::jpegQuality(bytes), 86);
    }

    // When the image data cannot be loaded, the attachment is copied as a file and prepared
    // from the copy.
    void imageDataUnavailable()
    {
        QTemporaryDir sheet;
        auto provider = std::make_shared<ItemProvider>(u"name.png"_s);
        const QString path = m_files.filePath(u"name.png"_s);
        provider->registerRepresentation(
            {u"image/png"_s,
             {},
             []() -> ItemData { throw ItemProviderError("gone"); },
             [path](const ItemProvider::FileHandler &handler) { handler(path); }});
        const auto context = contextOf({provider});
        const RecordingSink sink = runIntake(context.get(), sheet.path());
        QCOMPARE(sink.filenames(), QStringList{u"name.jpg"_s});
        QCOMPARE(sink.previews.size(), 1);
    }

    void unsharableAttachment()
    {
        QTemporaryDir sheet;
        auto provider = std::make_shared<ItemProvider>(u"thing"_s);
        provider->registerRepresentation(
            {u"application/x-zelt-unheard-of"_s, {}, [] { return ItemData::fromBytes("x"); }, {}});
        const auto context = contextOf({provider});
        const RecordingSink sink = runIntake(context.get(), sheet.path());
        QCOMPARE(sink.errorMessage, std::optional(IntakeText::cannotBeShared()));
    }

    // The item's own text counts as shared text; a message the user already typed stays.
    void contentText_data()
    {
        QTest::addColumn<QString>("contentText");
        QTest::addColumn<QString>("existingMessage");
        QTest::addColumn<QString>("message");
        QTest::newRow("trimmed") << u"  shared words \n"_s << QString() << u"shared words"_s;
        QTest::newRow("existing message kept")
            << u"shared words"_s << u"typed first"_s << u"typed first"_s;
        QTest::newRow("blank text") << u" \n "_s << QString() << QString();
    }

    void contentText()
    {
        QFETCH(QString, contentText);
        QFETCH(QString, existingMessage);
        QFETCH(QString, message);
        QTemporaryDir sheet;
        const auto context = contextOf({}, contentText);
        const RecordingSink sink = runIntake(context.get(), sheet.path(), existingMessage);
        QCOMPARE(sink.messageText, message);
        if (contentText.trimmed().isEmpty()) {
            QCOMPARE(sink.errorMessage, std::optional(IntakeText::chooseAFile()));
        } else {
            QVERIFY(sink.hasSharedItems);
            QCOMPARE(sink.files, std::optional(QList<SharedFile>()));
        }
    }

    void withoutContext()
    {
        QTemporaryDir sheet;
        const RecordingSink sink = runIntake(nullptr, sheet.path());
        QCOMPARE(sink.errorMessage, std::optional(IntakeText::chooseAFile()));
        QVERIFY(!sink.loading);
    }

    // A failure stops the intake: previews made before it stay, files are never set.
    void failureAfterAnImage()
    {
        QTemporaryDir sheet;
        const auto context =
            ExtensionContext::fromCommandLine({u"name.png"_s, u"a.txt"_s}, nullptr, m_files.path());
        const RecordingSink sink = runIntake(context.get(), sheet.path(), u"typed"_s);
        QCOMPARE(sink.errorMessage, std::optional(u"a.txt is empty."_s));
        QCOMPARE(sink.previews.size(), 1);
        QVERIFY(!sink.files);
        QVERIFY(!sink.hasSharedItems);
        QCOMPARE(sink.messageText, u"typed"_s);
    }

    // The disk would fill up if a file were copied in: the intake stops with the line that says
    // so, the half-made copy (or prepared JPEG) is gone, the copies made before it are whole,
    // and the originals are as they were. The sheet's directory lies on a small tmpfs of its own,
    // which only root can mount.
    void diskFullWhileCopying_data()
    {
        QTest::addColumn<QString>("large");
        QTest::newRow("file") << u"large.bin"_s;
        QTest::newRow("image re-encoded first") << u"noise.png"_s;
    }

    void diskFullWhileCopying()
    {
        QFETCH(QString, large);
        SmallFilesystem small;
        if (!small.error.isEmpty())
            QSKIP(qPrintable(small.error));
        write(u"large.bin"_s, unknownBytes().repeated(16 * 1024));
        write(u"noise.png"_s, TestImages::noiseImage(1200, 900));
        const QByteArray original = contents(m_files.filePath(large));
        QVERIFY(original.size() > 1024 * 1024);

        const QString sheet = small.directory.filePath(u"ZeltShare-1"_s);
        const auto context =
            ExtensionContext::fromCommandLine({u"notes.txt"_s, large}, nullptr, m_files.path());
        const RecordingSink sink = runIntake(context.get(), sheet);

        QCOMPARE(sink.errorMessage, std::optional(IntakeText::notEnoughSpace(large)));
        QVERIFY(!sink.loading);
        QVERIFY(!sink.hasSharedItems);
        QVERIFY(!sink.files);
        QVERIFY(sink.previews.isEmpty());
        const QStringList left = filesIn(sheet);
        QCOMPARE(left.size(), 1);
        QVERIFY(left.first().endsWith(u"/notes.txt"_s));
        QCOMPARE(contents(sheet + u'/' + left.first()), "hello notes\n"_ba);
        QCOMPARE(contents(m_files.filePath(large)), original);
        QCOMPARE(contents(m_files.filePath(u"notes.txt"_s)), "hello notes\n"_ba);
    }

    // Standard input is spooled to disk before the intake sees it; when the disk fills up the
    // share stops before it starts, and the half-written spool is gone.
    void diskFullWhileSpoolingStandardInput()
    {
        SmallFilesystem small;
        if (!small.error.isEmpty())
            QSKIP(qPrintable(small.error));
        const QByteArray cache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(small.directory.path()));
        const auto restore = qScopeGuard([&cache] { qputenv("XDG_CACHE_HOME", cache); });
        QByteArray input = unknownBytes().repeated(16 * 1024);
        QBuffer buffer(&input);
        buffer.open(QIODevice::ReadOnly);
        try {
            ExtensionContext::fromCommandLine({u"-"_s}, &buffer, m_files.path());
            QFAIL("a spool that did not fit was taken");
        } catch (const CommandLineError &error) {
            QCOMPARE(error.message(),
                     u"There is not enough free disk space to share the standard input."_s);
            QCOMPARE(error.kind(), CommandLineError::Kind::Input);
        }
        QCOMPARE(filesIn(small.directory.path()), QStringList());
    }

    void standardInput_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("filenames");
        QTest::addColumn<QString>("message");
        QTest::addColumn<std::optional<QString>>("error");
        QTest::newRow("png") << TestImages::encoded(TestImages::quadrants(40, 30), "PNG")
                             << QStringList{u"image.jpg"_s} << QString()
                             << std::optional<QString>();
        QTest::newRow("text") << " piped words \n"_ba << QStringList() << u"piped words"_s
                              << std::optional<QString>();
        QTest::newRow("binary") << unknownBytes() << QStringList{u"File"_s} << QString()
                                << std::optional<QString>();
        // Longer than a message can be: shared as the file it is.
        QTest::newRow("text past the limit")
            << QByteArray(100'001, 'w') << QStringList{u"File.txt"_s} << QString()
            << std::optional<QString>();
        QTest::newRow("text with a long tail of blanks")
            << QByteArray("words") + QByteArray(300'000, ' ') << QStringList() << u"words"_s
            << std::optional<QString>();
        QTest::newRow("nothing") << QByteArray() << QStringList() << QString()
                                 << std::optional(
                                        u"Nothing was shared: the standard input is empty."_s);
    }

    void standardInput()
    {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, filenames);
        QFETCH(QString, message);
        QFETCH(std::optional<QString>, error);
        QBuffer buffer(&input);
        buffer.open(QIODevice::ReadOnly);
        QTemporaryDir sheet;
        std::unique_ptr<ExtensionContext> context;
        try {
            context = ExtensionContext::fromCommandLine({u"-"_s}, &buffer, m_files.path());
        } catch (const CommandLineError &refused) {
            QCOMPARE(std::optional(refused.message()), error);
            return;
        }
        const RecordingSink sink = runIntake(context.get(), sheet.path());
        QCOMPARE(sink.errorMessage, error);
        QCOMPARE(sink.filenames(), filenames);
        QCOMPARE(sink.messageText, message);
    }

    // A copy takes the size read before it began: a source that grew since is cut there, one
    // that shrank gives fewer bytes (the intake then says it changed), holes stay holes, and
    // a stop request ends it.
    void fileCopy_data()
    {
        QTest::addColumn<qint64>("sourceSize");
        QTest::addColumn<qint64>("holeSize"); // in front of the data
        QTest::addColumn<qint64>("askedSize");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<qint64>("copied"); // -1: stopped
        QTest::newRow("whole") << qint64(3 << 20) << qint64(0) << qint64(3 << 20) << false
                               << qint64(3 << 20);
        QTest::newRow("grew since")
            << qint64(3 << 20) << qint64(0) << qint64(1 << 20) << false << qint64(1 << 20);
        QTest::newRow("shrank since")
            << qint64(1 << 20) << qint64(0) << qint64(3 << 20) << false << qint64(1 << 20);
        QTest::newRow("sparse") << qint64(64 << 10) << qint64(256 << 20) << qint64(-1) << false
                                << qint64((256 << 20) + (64 << 10));
        QTest::newRow("stop requested")
            << qint64(3 << 20) << qint64(0) << qint64(3 << 20) << true << qint64(-1);
    }

    void fileCopy()
    {
        QFETCH(qint64, sourceSize);
        QFETCH(qint64, holeSize);
        QFETCH(qint64, askedSize);
        QFETCH(bool, stop);
        QFETCH(qint64, copied);
        QTemporaryDir directory;
        QFile source(directory.filePath(u"source"_s));
        QVERIFY(source.open(QIODevice::ReadWrite));
        QVERIFY(source.seek(holeSize));
        QByteArray data(sourceSize, Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char('a' + i % 23);
        QCOMPARE(source.write(data), sourceSize);
        QVERIFY(source.flush());
        if (askedSize < 0)
            askedSize = holeSize + sourceSize;
        QFile destination(directory.filePath(u"copy"_s));
        QVERIFY(destination.open(QIODevice::ReadWrite));
        const std::atomic<bool> stopFlag{stop};
        try {
            QCOMPARE(
                FileCopy::copyContents(source.handle(), destination.handle(), askedSize, &stopFlag),
                copied);
            QVERIFY(copied >= 0);
        } catch (const std::system_error &error) {
            QCOMPARE(copied, qint64(-1));
            QCOMPARE(error.code(), std::errc::operation_canceled);
            return;
        }
        QCOMPARE(destination.size(), copied);
        QVERIFY(destination.seek(holeSize));
        QCOMPARE(destination.readAll(), data.left(copied - holeSize));
        if (holeSize > 0) {
            struct stat status = {};
            QCOMPARE(::fstat(destination.handle(), &status), 0);
            QVERIFY2(qint64(status.st_blocks) * 512 < holeSize / 2,
                     qPrintable(QString::number(status.st_blocks)));
        }
    }

    // An intake destroyed while it waits for a worker stops without touching the sink.
    void destroyedWhileLoading()
    {
        QTemporaryDir sheet;
        const auto context = ExtensionContext::fromCommandLine({u"photo.jpg"_s, u"name.png"_s},
                                                               nullptr, m_files.path());
        RecordingSink sink;
        auto intake =
            std::make_unique<SharedItemIntake>(sink, context.get(), sheet.path(), background);
        auto task = intake->loadSharedItems();
        intake.reset();
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(50);
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QVERIFY(sink.loading);
        QVERIFY(!sink.files);
        QVERIFY(!sink.errorMessage);
        QVERIFY(sink.previews.isEmpty());
    }
};

QTEST_MAIN(TestSharedItemIntake)
#include "tst_shareditemintake.moc"
