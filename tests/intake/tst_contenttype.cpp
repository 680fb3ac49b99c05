#include "host/ContentType.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

// Bytes that no type's magic matches (a run of one byte value looks like a TGA image).
QByteArray unknownBytes()
{
    return QByteArray("\x00\xff\x10\x80\x7f\x03", 6).repeated(20);
}

ContentType type(const QString &identifier)
{
    const auto found = ContentType::fromIdentifier(identifier);
    if (!found)
        qFatal("unknown type %s", qPrintable(identifier));
    return *found;
}

} // namespace

class TestContentType : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The kinds the intake and the file list ask about.
    void conformance_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("conforms");

        const auto image = ContentType::image().identifier();
        const auto movie = ContentType::movie().identifier();
        const auto audio = ContentType::audio().identifier();
        const auto archive = ContentType::archive().identifier();
        const auto text = ContentType::plainText().identifier();
        const auto data = ContentType::data().identifier();
        const auto directory = ContentType::directory().identifier();
        const auto url = ContentType::url().identifier();
        const auto fileURL = ContentType::fileURL().identifier();
        const auto pdf = ContentType::pdf().identifier();

        QTest::newRow("png is an image") << u"image/png"_s << image << true;
        QTest::newRow("heif is an image") << u"image/heif"_s << image << true;
        QTest::newRow("png is data") << u"image/png"_s << data << true;
        QTest::newRow("png is no text") << u"image/png"_s << text << false;
        QTest::newRow("png is no movie") << u"image/png"_s << movie << false;
        QTest::newRow("mp4 is a movie") << u"video/mp4"_s << movie << true;
        QTest::newRow("quicktime is a movie") << u"video/quicktime"_s << movie << true;
        QTest::newRow("mp4 is no audio") << u"video/mp4"_s << audio << false;
        QTest::newRow("mp3 is audio") << u"audio/mpeg"_s << audio << true;
        QTest::newRow("pdf") << u"application/pdf"_s << pdf << true;
        QTest::newRow("pdf is no archive") << u"application/pdf"_s << archive << false;
        QTest::newRow("zip is an archive") << u"application/zip"_s << archive << true;
        QTest::newRow(".tar.gz is an archive")
            << u"application/x-compressed-tar"_s << archive << true;
        QTest::newRow("C source is text") << u"text/x-csrc"_s << text << true;
        QTest::newRow("JSON is text") << u"application/json"_s << text << true;
        QTest::newRow("folder is no data") << directory << data << false;
        QTest::newRow("folder") << directory << directory << true;
        QTest::newRow("file URL is a URL") << fileURL << url << true;
        QTest::newRow("URL is no file URL") << url << fileURL << false;
        QTest::newRow("URL is data") << url << data << true;
        QTest::newRow("URL is no text") << url << text << false;
        QTest::newRow("the kind is no concrete type") << image << u"image/png"_s << false;
        QTest::newRow("image kind is data") << image << data << true;
    }

    void conformance()
    {
        QFETCH(QString, identifier);
        QFETCH(QString, kind);
        QFETCH(bool, conforms);
        QCOMPARE(type(identifier).conforms(type(kind)), conforms);
    }

    void identifiers()
    {
        QCOMPARE(ContentType::fromIdentifier(u"image/pjpeg"_s), ContentType::jpeg());
        QCOMPARE(ContentType::fromIdentifier(u"x-zelt/url"_s), ContentType::url());
        QVERIFY(!ContentType::fromIdentifier(u"application/x-zelt-unheard-of"_s));
        QVERIFY(!ContentType::fromIdentifier(QString()));
    }

    void filenameExtensions_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("conformingTo");
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::newRow("png") << u"png"_s << u"application/octet-stream"_s
                             << std::optional(u"image/png"_s);
        QTest::newRow("upper case") << u"JPG"_s << u"image/*"_s << std::optional(u"image/jpeg"_s);
        QTest::newRow("mov") << u"mov"_s << u"video/*"_s << std::optional(u"video/quicktime"_s);
        QTest::newRow("not conforming") << u"png"_s << u"video/*"_s << std::optional<QString>();
        QTest::newRow("unknown") << u"zzqx"_s << u"application/octet-stream"_s
                                 << std::optional<QString>();
        QTest::newRow("none") << QString() << u"application/octet-stream"_s
                              << std::optional<QString>();
    }

    void filenameExtensions()
    {
        QFETCH(QString, extension);
        QFETCH(QString, conformingTo);
        QFETCH(std::optional<QString>, expected);
        const auto found = ContentType::fromFilenameExtension(extension, type(conformingTo));
        QCOMPARE(found ? std::optional(found->identifier()) : std::nullopt, expected);
    }

    void preferred()
    {
        QCOMPARE(ContentType::jpeg().preferredFilenameExtension(), std::optional(u"jpg"_s));
        QCOMPARE(ContentType::jpeg().preferredMIMEType(), std::optional(u"image/jpeg"_s));
        QCOMPARE(ContentType::pdf().preferredFilenameExtension(), std::optional(u"pdf"_s));
        QCOMPARE(ContentType::plainText().preferredFilenameExtension(), std::optional(u"txt"_s));
        QCOMPARE(ContentType::image().preferredMIMEType(), std::nullopt);
        QCOMPARE(ContentType::url().preferredFilenameExtension(), std::nullopt);
        QVERIFY(!type(u"image/png"_s).localizedDescription().isEmpty());
        QVERIFY(!ContentType::movie().localizedDescription().isEmpty());
    }

    // By name first, by contents when the name says nothing; a file nothing names has no type.
    void files()
    {
        QTemporaryDir directory;
        const auto write = [&directory](const QString &name, const QByteArray &bytes) {
            QFile file(directory.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        write(u"picture"_s, "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"_ba);
        write(u"report.pdf"_s, "%PDF-1.7\n"_ba);
        write(u"blob.zzqx"_s, unknownBytes());
        QDir(directory.path()).mkdir(u"folder"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(directory.filePath(u"pipe"_s)).constData(), 0600), 0);

        QCOMPARE(ContentType::ofFile(directory.filePath(u"picture"_s)),
                 ContentType::fromIdentifier(u"image/png"_s));
        QCOMPARE(ContentType::ofFile(directory.filePath(u"report.pdf"_s)), ContentType::pdf());
        QCOMPARE(ContentType::ofFile(directory.filePath(u"blob.zzqx"_s)), std::nullopt);
        QCOMPARE(ContentType::ofFile(directory.filePath(u"folder"_s)), ContentType::directory());
        QCOMPARE(ContentType::ofFile(directory.filePath(u"missing"_s)), std::nullopt);
        // A pipe is named without being opened, which would block.
        QCOMPARE(ContentType::ofFile(directory.filePath(u"pipe"_s)),
                 ContentType::fromIdentifier(u"inode/fifo"_s));
    }
};

QTEST_GUILESS_MAIN(TestContentType)
#include "tst_contenttype.moc"
