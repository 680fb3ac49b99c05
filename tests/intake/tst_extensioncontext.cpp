#include "TaskResult.h"
#include "host/DataURI.h"
#include "host/ExtensionContext.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(CommandLineError::Kind)

namespace {

// Bytes that no type's magic matches (a run of one byte value looks like a TGA image).
QByteArray unknownBytes()
{
    return QByteArray("\x00\xff\x10\x80\x7f\x03", 6).repeated(20);
}

// An attachment as the test reads it: "name|type,type,…" ("-" for no name).
QString describe(const ItemProvider &provider)
{
    return provider.suggestedName().value_or(u"-"_s) + u'|' +
           provider.registeredTypeIdentifiers().join(u',');
}

// Kept out of the test class: raw strings holding "//" confuse moc's scanner there.
const QString pageJSON = uR"({"url":"https://example.com/a","title":"A","selection":"x"})"_s;
const QByteArray uriList =
    "# links and a picture\r\nhttps://example.com/a\r\n"
    "file://%1/notes.txt\n\n"
    "data:image/png;name=cat%20photo.png;base64,iVBORw0KGgoAAAANSUhEUgAAAA"
    "EAAAABCAYAAAAfFcSJAAAADUlEQVR4nGNgYPgPAAEDAQCvVPBGAAAAAElFTkSuQmCC\r\n"_ba;
// A data: URI whose data is one byte more than is taken.
QByteArray oversizedDataURI()
{
    return "data:;base64,"_ba + QByteArray("AAAA").repeated(DataURI::maximumBytes / 3 + 1);
}

} // namespace

class TestExtensionContext : public QObject
{
    Q_OBJECT

    QTemporaryDir m_cache;
    QTemporaryDir m_files;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
        QFile text(m_files.filePath(u"notes.txt"_s));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("hello\n");
        text.close();
        QFile colon(m_files.filePath(u"a:b.txt"_s));
        QVERIFY(colon.open(QIODevice::WriteOnly));
        colon.write("colon\n");
        colon.close();
        QVERIFY(QDir(m_files.path()).mkdir(u"folder"_s));
    }

    // One item, one attachment per operand, in order.
    void operands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("attachments");

        QTest::newRow("nothing") << QStringList() << QStringList();
        QTest::newRow("relative path") << QStringList{u"notes.txt"_s}
                                       << QStringList{u"notes.txt|text/plain,x-zelt/file-url"_s};
        QTest::newRow("file URI") << QStringList{u"file://%1/notes.txt"_s}
                                  << QStringList{u"notes.txt|text/plain,x-zelt/file-url"_s};
        QTest::newRow("existing file that looks like a URI")
            << QStringList{u"a:b.txt"_s} << QStringList{u"a:b.txt|text/plain,x-zelt/file-url"_s};
        QTest::newRow("folder") << QStringList{u"folder"_s}
                                << QStringList{u"folder|inode/directory,x-zelt/file-url"_s};
        QTest::newRow("missing file")
            << QStringList{u"missing.bin"_s} << QStringList{u"missing.bin|x-zelt/file-url"_s};
        QTest::newRow("links") << QStringList{u"https://example.com/a?b=c"_s,
                                              u"mailto:someone@example.com"_s}
                               << QStringList{u"-|x-zelt/url,text/plain"_s,
                                              u"-|x-zelt/url,text/plain"_s};
        QTest::newRow("text and page")
            << QStringList{u"--text"_s, u"hello"_s, u"--page=%2"_s, u"--text=-x"_s}
            << QStringList{u"-|text/plain"_s, u"-|x-zelt/property-list"_s, u"-|text/plain"_s};
        QTest::newRow("after --") << QStringList{u"--"_s, u"--text"_s}
                                  << QStringList{u"--text|x-zelt/file-url"_s};
        // Data is a file of its type, named by the URI or else by its kind.
        QTest::newRow("data: URIs")
            << QStringList{u"data:,a%20note"_s, u"data:image/png;base64,iVBORw0KGgo="_s,
                           u"data:application/pdf;name=r%C3%A9sum%C3%A9.pdf,%25PDF-1.4"_s,
                           u"data:x-zelt/url,https://example.com"_s,
                           u"data:image/*;base64,iVBORw0KGgo="_s}
            << QStringList{u"text.txt|text/plain"_s, u"image.png|image/png"_s,
                           u"résumé.pdf|application/pdf"_s, u"text.txt|text/plain"_s,
                           u"image.png|image/png"_s};
    }

    void operands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, attachments);
        for (QString &argument : arguments)
            argument = argument.replace(u"%1"_s, m_files.path()).replace(u"%2"_s, pageJSON);

        const auto context = ExtensionContext::fromCommandLine(arguments, nullptr, m_files.path());
        QCOMPARE(context->inputItems().size(), 1);
        QStringList described;
        for (const auto &attachment : context->inputItems().first().attachments)
            described.append(describe(*attachment));
        QCOMPARE(described, attachments);
    }

    void errors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<CommandLineError::Kind>("kind");
        const auto usage = CommandLineError::Kind::Usage;
        QTest::newRow("unknown option") << QStringList{u"--headles"_s} << "x"_ba << usage;
        QTest::newRow("short option") << QStringList{u"-x"_s} << "x"_ba << usage;
        QTest::newRow("text without value") << QStringList{u"--text"_s} << "x"_ba << usage;
        QTest::newRow("page without value") << QStringList{u"a"_s, u"--page"_s} << "x"_ba << usage;
        QTest::newRow("page not JSON") << QStringList{u"--page"_s, u"{url:"_s} << "x"_ba << usage;
        QTest::newRow("page not an object")
            << QStringList{u"--page"_s, u"[1]"_s} << "x"_ba << usage;
        QTest::newRow("stdin twice") << QStringList{u"-"_s, u"-"_s} << "x"_ba << usage;
        QTest::newRow("stdin for the page and the data")
            << QStringList{u"--page"_s, u"-"_s, u"-"_s} << pageJSON.toUtf8() << usage;
        QTest::newRow("stdin for the links and the page")
            << QStringList{u"--uri-list=-"_s, u"--page=-"_s} << "https://a.example"_ba << usage;
        QTest::newRow("uri-list of the command line")
            << QStringList{u"--uri-list"_s, u"https://example.com"_s} << "x"_ba << usage;
        QTest::newRow("data: URI without a comma")
            << QStringList{u"data:image/png;base64"_s} << "x"_ba << usage;
        QTest::newRow("data: URI not base64")
            << QStringList{u"data:image/png;base64,iVBO*w0K"_s} << "x"_ba << usage;
        QTest::newRow("data: URI with a type without subtype")
            << QStringList{u"data:image;base64,iVBORw0K"_s} << "x"_ba << usage;
        QTest::newRow("data: URI with a bare parameter")
            << QStringList{u"data:image/png;charset;base64,iVBORw0K"_s} << "x"_ba << usage;
        // Nothing to share is not a wrong command line, and neither is what standard input holds.
        const auto input = CommandLineError::Kind::Input;
        QTest::newRow("stdin empty") << QStringList{u"-"_s} << QByteArray() << input;
        QTest::newRow("page of stdin not JSON")
            << QStringList{u"--page"_s, u"-"_s} << "{url:"_ba << input;
        QTest::newRow("links of stdin none")
            << QStringList{u"--uri-list"_s, u"-"_s} << "# nothing\r\n\r\n"_ba << input;
        QTest::newRow("links of stdin not links")
            << QStringList{u"--uri-list"_s, u"-"_s} << "https://a.example\nnotes.txt\n"_ba << input;
        QTest::newRow("links of stdin a malformed data: URI")
            << QStringList{u"--uri-list"_s, u"-"_s} << "data:image/png;base64,%%%\n"_ba << input;
    }

    void errors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(CommandLineError::Kind, kind);
        QBuffer buffer(&input);
        buffer.open(QIODevice::ReadOnly);
        try {
            ExtensionContext::fromCommandLine(arguments, &buffer, m_files.path());
            QFAIL("no error");
        } catch (const CommandLineError &error) {
            QVERIFY(!error.message().isEmpty());
            QCOMPARE(error.kind(), kind);
        }
    }

    // The links' items are what the intake converts; the page's is the property list.
    void items()
    {
        const auto context = ExtensionContext::fromCommandLine(
            {u"https://example.com/x"_s, u"--page"_s, pageJSON, u"notes.txt"_s}, nullptr,
            m_files.path());
        const auto &attachments = context->inputItems().first().attachments;

        const auto link = TaskResult<QVariant>::wait(attachments[0]->loadItem(u"x-zelt/url"_s));
        QCOMPARE(link.value->toUrl(), QUrl(u"https://example.com/x"_s));
        const auto page =
            TaskResult<QVariant>::wait(attachments[1]->loadItem(u"x-zelt/property-list"_s));
        const QVariantMap results =
            page.value->toMap().value(QString(ItemProvider::pageResultsKey)).toMap();
        QCOMPARE(results.value(u"url"_s).toString(), u"https://example.com/a"_s);
        const auto file = TaskResult<QVariant>::wait(attachments[2]->loadItem(u"x-zelt/url"_s));
        QCOMPARE(file.value->toUrl(), QUrl::fromLocalFile(m_files.filePath(u"notes.txt"_s)));
        const auto data = TaskResult<ItemData>::wait(
            attachments[2]->loadDataRepresentation(ContentType::plainText()));
        QCOMPARE(data.value->filePath, m_files.filePath(u"notes.txt"_s));

        const auto none = TaskResult<QVariant>::wait(attachments[2]->loadItem(u"image/png"_s));
        QVERIFY(none.error);
    }

    // Data on the standard input is kept in a private file, typed by its contents; text is
    // also offered as text.
    void standardInput_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("attachment");
        QTest::newRow("png") << "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\1"_ba
                             << u"-|image/png,x-zelt/file-url"_s;
        QTest::newRow("text") << "just some words\n"_ba << u"-|text/plain,x-zelt/file-url"_s;
        QTest::newRow("unknown") << unknownBytes() << u"-|x-zelt/file-url"_s;
    }

    void standardInput()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, attachment);
        QBuffer buffer(&input);
        buffer.open(QIODevice::ReadOnly);

        auto context = ExtensionContext::fromCommandLine({u"-"_s}, &buffer, m_files.path());
        std::shared_ptr<ItemProvider> provider = context->inputItems().first().attachments.first();
        QCOMPARE(describe(*provider), attachment);

        const auto url = TaskResult<QVariant>::wait(provider->loadItem(u"x-zelt/file-url"_s));
        const QString spooled = url.value->toUrl().toLocalFile();
        QVERIFY(spooled.startsWith(m_cache.path()));
        QCOMPARE(QFileInfo(spooled).fileName(), u"File"_s);
        QFile file(spooled);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), input);
        struct stat status = {};
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(spooled).absolutePath()).constData(), &status),
                 0);
        QCOMPARE(status.st_mode & 0777, 0700u);

        // The private file goes with the provider.
        context.reset();
        const std::weak_ptr<ItemProvider> weak = provider;
        QVERIFY(QFile::exists(spooled));
        provider.reset();
        QVERIFY(weak.expired());
        QVERIFY(!QFile::exists(spooled));
    }

    // A page record or a list of links on standard input, as the browser host and the Share menu
    // hand them over: the same attachments as on the command line.
    void standardInputOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("attachments");
        QTest::newRow("page") << QStringList{u"--page"_s, u"-"_s, u"--text=x"_s}
                              << pageJSON.toUtf8()
                              << QStringList{u"-|x-zelt/property-list"_s, u"-|text/plain"_s};
        QTest::newRow("long page")
            << QStringList{u"--page=-"_s}
            << (uR"({"url":"https://example.com","title":"Ünïcode","selection":")"_s +
                QString(140'000, u'\u00e9') + u"\"}"_s)
                   .toUtf8()
            << QStringList{u"-|x-zelt/property-list"_s};
        QTest::newRow("links") << QStringList{u"--uri-list"_s, u"-"_s} << uriList
                               << QStringList{u"-|x-zelt/url,text/plain"_s,
                                              u"notes.txt|text/plain,x-zelt/file-url"_s,
                                              u"cat photo.png|image/png"_s};
    }

    void standardInputOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QStringList, attachments);
        input.replace("%1", QFile::encodeName(m_files.path()));
        QBuffer buffer(&input);
        buffer.open(QIODevice::ReadOnly);

        const auto context = ExtensionContext::fromCommandLine(arguments, &buffer, m_files.path());
        QStringList described;
        for (const auto &attachment : context->inputItems().first().attachments)
            described.append(describe(*attachment));
        QCOMPARE(described, attachments);
        if (qstrcmp(QTest::currentDataTag(), "long page") == 0) {
            const auto page = TaskResult<QVariant>::wait(
                context->inputItems().first().attachments.first()->loadItem(
                    u"x-zelt/property-list"_s));
            const QVariantMap results =
                page.value->toMap().value(QString(ItemProvider::pageResultsKey)).toMap();
            QCOMPARE(results.value(u"selection"_s).toString().size(), 140'000);
            QCOMPARE(results.value(u"title"_s).toString(), u"Ünïcode"_s);
        }
    }

    // What a data: URI holds, decoded.
    void dataURIs_data()
    {
        QTest::addColumn<QByteArray>("uri");
        QTest::addColumn<QString>("mediaType");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("plain") << "data:,A%20brief%20note"_ba << u"text/plain"_s << QString()
                               << "A brief note"_ba;
        QTest::newRow("parameters") << "data:Text/Plain;charset=utf-8;Name=n%C3%B6te.txt,hi"_ba
                                    << u"text/plain"_s << u"nöte.txt"_s << "hi"_ba;
        QTest::newRow("base64 in capitals")
            << "DATA:IMAGE/PNG;BASE64,aGVsbG8="_ba << u"image/png"_s << QString() << "hello"_ba;
        QTest::newRow("base64 broken across lines and encoded")
            << "data:image/gif;filename=a.gif;base64,aGVs%0D%0AbG8%2B"_ba << u"image/gif"_s
            << u"a.gif"_s << "hello>"_ba;
        QTest::newRow("empty") << "data:,"_ba << u"text/plain"_s << QString() << QByteArray();
    }

    void dataURIs()
    {
        QFETCH(QByteArray, uri);
        QFETCH(QString, mediaType);
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const auto parsed = DataURI::parse(uri);
        QVERIFY(parsed);
        QCOMPARE(parsed->mediaType, mediaType);
        QCOMPARE(parsed->name, name);
        QCOMPARE(parsed->bytes, bytes);
    }

    // Too much data is refused before it is decoded into memory, with a line that says what to do.
    void oversizedData()
    {
        QByteArray list = oversizedDataURI();
        DataURI::Error error = DataURI::Error::Malformed;
        QVERIFY(!DataURI::parse(list, &error));
        QCOMPARE(error, DataURI::Error::TooLarge);

        QBuffer buffer(&list);
        buffer.open(QIODevice::ReadOnly);
        try {
            ExtensionContext::fromCommandLine({u"--uri-list"_s, u"-"_s}, &buffer, m_files.path());
            QFAIL("no error");
        } catch (const CommandLineError &failure) {
            QCOMPARE(failure.kind(), CommandLineError::Kind::Input);
            QVERIFY2(failure.message().startsWith(u"data:;base64,AAAA"_s) &&
                         failure.message().contains(u"save it as a file"_s),
                     qPrintable(failure.message()));
        }
    }

    // A paste or a drop: links (files among them), else an image as encoded, else text.
    void mimeData_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("attachments");
        QTest::newRow("files and links")
            << u"urls"_s
            << QStringList{u"-|x-zelt/url,text/plain"_s, u"notes.txt|text/plain,x-zelt/file-url"_s,
                           u"cat photo.png|image/png"_s};
        QTest::newRow("encoded image") << u"png"_s << QStringList{u"image.png|image/png"_s};
        QTest::newRow("image only as pixels")
            << u"pixels"_s << QStringList{u"image.png|image/png"_s};
        QTest::newRow("text") << u"text"_s << QStringList{u"-|text/plain"_s};
        QTest::newRow("blank text") << u"blank"_s << QStringList();
    }

    void mimeData()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, attachments);
        QMimeData data;
        QImage pixels(4, 3, QImage::Format_ARGB32);
        pixels.fill(Qt::red);
        if (kind == u"urls"_s) {
            const QByteArray list =
                QByteArray(uriList).replace("%1", QFile::encodeName(m_files.path()));
            QList<QUrl> urls;
            for (const QByteArray &line : list.split('\n')) {
                if (!line.trimmed().isEmpty() && !line.startsWith('#'))
                    urls.append(QUrl::fromEncoded(line.trimmed()));
            }
            data.setUrls(urls);
            // Browsers give the links as text too; the links win.
            data.setText(u"ignored"_s);
        } else if (kind == u"png"_s) {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            pixels.save(&buffer, "PNG");
            data.setData(u"image/png"_s, png);
            data.setText(u"a caption"_s);
        } else if (kind == u"pixels"_s) {
            data.setImageData(pixels);
        } else {
            data.setText(kind == u"text"_s ? u"pasted words"_s : u"  \n"_s);
        }
        QCOMPARE(ExtensionContext::mimeDataHoldsItems(data, true), !attachments.isEmpty());
        QCOMPARE(ExtensionContext::mimeDataHoldsItems(data, false),
                 kind != u"text"_s && kind != u"blank"_s);

        const ExtensionItem item = ExtensionContext::itemFromMimeData(data);
        QStringList described;
        for (const auto &attachment : item.attachments)
            described.append(describe(*attachment));
        QCOMPARE(described, attachments);
        if (kind == u"pixels"_s) {
            const auto bytes = TaskResult<ItemData>::wait(
                item.attachments.first()->loadDataRepresentation(ContentType::image()));
            QCOMPARE(QImage::fromData(bytes.value->bytes).size(), QSize(4, 3));
        }
    }

    // The standard input as the program gets it: a pipe whose writer is slower than the reader.
    void standardInputPipe()
    {
        int ends[2];
        QCOMPARE(::pipe(ends), 0);
        const QByteArray data = QByteArray("first part, ") + QByteArray(200'000, 'x');
        std::thread writer([&data, end = ends[1]] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            qsizetype written = 0;
            while (written < data.size()) {
                const auto count =
                    ::write(end, data.constData() + written, size_t(data.size() - written));
                if (count <= 0)
                    break;
                written += count;
            }
            ::close(end);
        });
        QFile input;
        QVERIFY(input.open(ends[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        const auto context = ExtensionContext::fromCommandLine({u"-"_s}, &input, m_files.path());
        writer.join();

        const auto provider = context->inputItems().first().attachments.first();
        QCOMPARE(describe(*provider), u"-|text/plain,x-zelt/file-url"_s);
        const auto spooled =
            TaskResult<ItemData>::wait(provider->loadDataRepresentation(ContentType::plainText()));
        QFile file(spooled.value->filePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), data);
        // Longer than any message: offered as no text, so it is shared as the file it is.
        const auto item = TaskResult<QVariant>::wait(provider->loadItem(u"text/plain"_s));
        QVERIFY(!item.value->isValid());
    }

    void completeRequest()
    {
        ExtensionContext context({});
        QSignalSpy completed(&context, &ExtensionContext::requestCompleted);
        context.completeRequest();
        context.completeRequest();
        QCOMPARE(completed.size(), 1);
        QVERIFY(context.isCompleted());
    }
};

QTEST_GUILESS_MAIN(TestExtensionContext)
#include "tst_extensioncontext.moc"
