#include "DevServiceFixture.h"
#include "SheetPrefix.h"
#include "VirtualDisplay.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int slow = 120000;
// The host's ceiling on one message, in bytes.
constexpr quint32 ceiling = 48u * 1024 * 1024;

QByteArray header(quint32 length)
{
    QByteArray bytes(sizeof length, Qt::Uninitialized);
    std::memcpy(bytes.data(), &length, sizeof length);
    return bytes;
}

QByteArray frame(const QByteArray &json)
{
    return header(quint32(json.size())) + json;
}

QByteArray frame(const QJsonObject &message)
{
    return frame(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

struct Answer
{
    QJsonObject reply;
    // Whatever came on standard output besides the one frame.
    QByteArray rest;
};

// The frames a host wrote: exactly one JSON object is expected.
Answer readAnswer(const QByteArray &output)
{
    if (output.size() < 4)
        return {{}, output};
    quint32 length = 0;
    std::memcpy(&length, output.constData(), sizeof length);
    const QByteArray json = output.mid(4, qsizetype(length));
    return {QJsonDocument::fromJson(json).object(), output.mid(4 + qsizetype(length))};
}

// A prefix with the host and no sheet beside it: a message the host wrongly took would be
// answered with the sheet's failure to start, not with the refusal expected.
class HostWithoutSheet
{
public:
    HostWithoutSheet()
    {
        QDir().mkpath(m_prefix.filePath(u"libexec"_s));
        const auto built =
            QCoreApplication::applicationDirPath() + u"/../libexec/zelt-share-browser-host"_s;
        if (::link(QFile::encodeName(built).constData(),
                   QFile::encodeName(program()).constData()) != 0)
            QFile::copy(built, program());
    }
    QString program() const { return m_prefix.filePath(u"libexec/zelt-share-browser-host"_s); }

private:
    QTemporaryDir m_prefix{QCoreApplication::applicationDirPath() + u"/browser-host-XXXXXX"_s};
};

QString repeated(const QString &line, int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines.append(line.arg(i, 5, 10, QChar(u'0')));
    return lines.join(u'\n');
}

} // namespace

class TestBrowserHost : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Everything the host cannot take is answered with one line, nothing is started, and the
    // host ends with status 1. "keep input open": the host must answer without waiting for more.
    void refusesMessage_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("keepInputOpen");
        QTest::addColumn<QString>("error");

        const auto page = [](const QString &url) {
            return frame(QJsonObject{{u"kind"_s, u"page"_s}, {u"url"_s, url}});
        };
        const auto link = [](const QString &url) {
            return frame(QJsonObject{{u"kind"_s, u"link"_s}, {u"url"_s, url}});
        };
        const auto image = [](const QString &type, const QByteArray &data) {
            return frame(QJsonObject{{u"kind"_s, u"image"_s},
                                     {u"type"_s, type},
                                     {u"data"_s, QString::fromLatin1(data)}});
        };
        const QString notWebPage = u"Only web pages (http or https) can be sent to Zelt."_s;
        const QString notWebLink = u"Only web links (http or https) can be sent to Zelt."_s;

        QTest::newRow("over the ceiling, body never sent")
            << header(ceiling + 1) << true
            << u"The message from the browser is too large: 50331649 bytes, at most 50331648."_s;
        QTest::newRow("largest length")
            << header(0xffffffffu) + "{}" << true
            << u"The message from the browser is too large: 4294967295 bytes, at most 50331648."_s;
        QTest::newRow("body cut short") << header(100) + "{\"kind\":" << false
                                        << u"The message from the browser was cut short."_s;
        QTest::newRow("length cut short") << QByteArray("\x05\x00", 2) << false
                                          << u"The message from the browser was cut short."_s;
        QTest::newRow("malformed JSON")
            << frame("{\"kind\":\"page\",\"url\":") << false
            << u"The message from the browser is not valid JSON: unterminated object."_s;
        QTest::newRow("not UTF-8")
            << frame("{\"kind\":\"page\",\"url\":\"https://a.example/\",\"title\":\"\xff\xfe\"}")
            << false << u"The message from the browser is not valid JSON: invalid UTF8 string."_s;
        QTest::newRow("an array") << frame("[]") << false
                                  << u"The message from the browser is not a JSON object."_s;
        QTest::newRow("no kind") << frame("{\"url\":\"https://a.example/\"}") << false
                                 << u"The message from the browser has no kind."_s;
        QTest::newRow("kind not a string")
            << frame("{\"kind\":1,\"url\":\"https://a.example/\"}") << false
            << u"The message from the browser has no kind."_s;
        QTest::newRow("unknown kind")
            << frame("{\"kind\":\"file\",\"url\":\"file:///etc/passwd\"}") << false
            << u"The browser asked for an unknown kind of share: file."_s;
        QTest::newRow("unknown field")
            << frame("{\"kind\":\"page\",\"url\":\"https://a.example/\",\"path\":\"/etc/passwd\"}")
            << false << u"The message from the browser has an unknown field: path."_s;
        QTest::newRow("field of another kind")
            << frame("{\"kind\":\"link\",\"url\":\"https://a.example/\",\"title\":\"t\"}") << false
            << u"The message from the browser has an unknown field: title."_s;
        QTest::newRow("title a number")
            << frame("{\"kind\":\"page\",\"url\":\"https://a.example/\",\"title\":5}") << false
            << u"The field title of the message from the browser is not a string."_s;
        QTest::newRow("selection null")
            << frame("{\"kind\":\"page\",\"url\":\"https://a.example/\",\"selection\":null}")
            << false << u"The field selection of the message from the browser is not a string."_s;
        QTest::newRow("url an array")
            << frame("{\"kind\":\"page\",\"url\":[\"https://a.example/\"]}") << false
            << u"The field url of the message from the browser is not a string."_s;
        QTest::newRow("no url") << frame("{\"kind\":\"page\",\"title\":\"t\"}") << false
                                << notWebPage;
        QTest::newRow("javascript: page") << page(u"javascript:alert(1)"_s) << false << notWebPage;
        QTest::newRow("file: page") << page(u"file:///etc/passwd"_s) << false << notWebPage;
        QTest::newRow("data: page")
            << page(u"data:text/html,<script>alert(1)</script>"_s) << false << notWebPage;
        QTest::newRow("page without host") << page(u"https:///path"_s) << false << notWebPage;
        QTest::newRow("page with a line break")
            << page(u"https://a.example/\nfile:///etc/passwd"_s) << false << notWebPage;
        QTest::newRow("file: link")
            << link(u"file:///home/ana/.ssh/id_ed25519"_s) << false << notWebLink;
        QTest::newRow("link with a second line")
            << link(u"https://a.example/\r\nfile:///etc/passwd"_s) << false << notWebLink;
        QTest::newRow("data: link")
            << link(u"data:text/plain;base64,aGk="_s) << false << notWebLink;
        QTest::newRow("image of a text type") << image(u"text/html"_s, "PGgxPg==") << false
                                              << u"The image from the browser has no image type."_s;
        QTest::newRow("image type with a parameter")
            << image(u"image/png;name=x.sh"_s, "iVBORw0K") << false
            << u"The image from the browser has no image type."_s;
        QTest::newRow("image without data")
            << frame("{\"kind\":\"image\",\"type\":\"image/png\"}") << false
            << u"The image from the browser is not valid base64 data."_s;
        QTest::newRow("image not base64")
            << image(u"image/png"_s, "iVBO,RW0K") << false
            << u"The image from the browser is not valid base64 data."_s;
        QTest::newRow("image over 32 MiB")
            << image(u"image/png"_s, QByteArray(32 * 1024 * 1024 + 1, 'x').toBase64()) << false
            << u"The image from the browser is larger than 32 MiB."_s;
    }

    void refusesMessage()
    {
        QFETCH(QByteArray, input);
        QFETCH(bool, keepInputOpen);
        QFETCH(QString, error);

        HostWithoutSheet host;
        QProcess process;
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(host.program(), {u"chrome-extension://becgmlblgjmibamanceldldplbfjbpee/"_s});
        QVERIFY(process.waitForStarted());
        process.write(input);
        if (!keepInputOpen)
            process.closeWriteChannel();
        QVERIFY2(process.waitForFinished(slow), "the host waited for more input");
        const auto [reply, rest] = readAnswer(process.readAllStandardOutput());
        QCOMPARE(reply, (QJsonObject{{u"ok"_s, false}, {u"error"_s, error}}));
        QCOMPARE(rest, QByteArray());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
    }

    // A browser that gives up before sending anything gets no answer.
    void closedWithoutMessage()
    {
        HostWithoutSheet host;
        QProcess process;
        process.start(host.program(), {});
        QVERIFY(process.waitForStarted());
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(slow));
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
        QCOMPARE(process.exitCode(), 0);
    }

    // Each kind of message reaches the real sheet, which the host starts in a window and leaves
    // running; the service stores what the sheet sends. The selection is far longer than one
    // command-line argument may be, and arrives whole (the sheet keeps its first 20,000
    // characters).
    void startsTheSheet_data()
    {
        QTest::addColumn<QJsonObject>("message");
        QTest::addColumn<QString>("storedMessage");
        QTest::addColumn<QString>("storedFile");
        QTest::addColumn<VirtualDisplay::Platform>("platform");
        const auto x11 = VirtualDisplay::Platform::X11;

        const QString url = u"https://example.com/caf%C3%A9/notes?x=1&y=2"_s;
        const QString title = u"Café Zürich — Überblick"_s;
        const QString selection =
            repeated(u"Line %1: a long selection, more than any argument can hold."_s, 2300);
        QVERIFY(selection.size() > 140000);
        QString quote = selection.left(20000);
        quote = u"> "_s + quote.replace(u'\n', u"\n> "_s);
        QTest::newRow("page with a long selection")
            << QJsonObject{{u"kind"_s, u"page"_s},
                           {u"url"_s, url},
                           {u"title"_s, title},
                           {u"selection"_s, selection}}
            << title + u"\n\n"_s + quote + u"\n\n"_s + url << QString() << x11;
        QTest::newRow("page without selection")
            << QJsonObject{{u"kind"_s, u"page"_s}, {u"url"_s, url}, {u"title"_s, title}}
            << title + u"\n\n"_s + url << QString() << x11;
        QTest::newRow("link") << QJsonObject{{u"kind"_s, u"link"_s}, {u"url"_s, url}} << url
                              << QString() << x11;
        QTest::newRow("link, on Wayland") << QJsonObject{{u"kind"_s, u"link"_s}, {u"url"_s, url}}
                                          << url << QString() << VirtualDisplay::Platform::Wayland;

        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(QColor(0x35, 0x84, 0xe4));
        QByteArray png;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            picture.save(&buffer, "PNG");
        }
        QTest::newRow("image with a name")
            << QJsonObject{{u"kind"_s, u"image"_s},
                           {u"type"_s, u"image/png"_s},
                           {u"name"_s, u"cat photo.png"_s},
                           {u"data"_s, QString::fromLatin1(png.toBase64())}}
            << QString() << u"cat photo.jpg"_s << x11;
    }

    void startsTheSheet()
    {
        QFETCH(QJsonObject, message);
        QFETCH(QString, storedMessage);
        QFETCH(QString, storedFile);
        QFETCH(VirtualDisplay::Platform, platform);

        if (!VirtualDisplay::toolsInstalled(platform))
            QSKIP("needs Xvfb, xdotool and weston (scripts/install-deps installs them)");
        VirtualDisplay display(platform);
        QVERIFY(display.isReady());
        DevServiceFixture service;
        SheetPrefix prefix(service);
        auto environment = prefix.environment();
        display.addTo(environment);
        // The activation token, for the sheet's window.
        environment.insert(u"XDG_ACTIVATION_TOKEN"_s, u"browser-token-7"_s);
        environment.insert(u"DESKTOP_STARTUP_ID"_s, u"browser-7_TIME77"_s);
        // Qt Quick's software renderer leaves each Image element's pixmap in a cycle when the
        // window goes (as in the views' suite); the sheet's own leaks are checked in process.
        environment.insert(u"ASAN_OPTIONS"_s,
                           environment.value(u"ASAN_OPTIONS"_s) + u":detect_leaks=0"_s);

        QProcess host;
        host.setProcessEnvironment(environment);
        host.start(prefix.hostProgram(),
                   {u"chrome-extension://becgmlblgjmibamanceldldplbfjbpee/"_s});
        QVERIFY(host.waitForStarted());
        host.write(frame(message));
        host.closeWriteChannel();
        QVERIFY(host.waitForFinished(slow));
        const auto [reply, rest] = readAnswer(host.readAllStandardOutput());
        QVERIFY2(reply == (QJsonObject{{u"ok"_s, true}}),
                 QJsonDocument(reply).toJson().constData());
        QCOMPARE(rest, QByteArray());
        QCOMPARE(host.exitCode(), 0);

        const auto sheet = display.waitForSheet(slow);
        QVERIFY(sheet.process > 0);
        QCOMPARE(VirtualDisplay::startedWith(sheet, "XDG_ACTIVATION_TOKEN"),
                 QByteArray("browser-token-7"));
        QCOMPARE(VirtualDisplay::startedWith(sheet, "DESKTOP_STARTUP_ID"),
                 QByteArray("browser-7_TIME77"));
        // Named on the window before it maps.
        if (platform == VirtualDisplay::Platform::X11)
            QTRY_COMPARE_WITH_TIMEOUT(display.startupId(sheet),
                                      u"_NET_STARTUP_ID(UTF8_STRING) = \"browser-7_TIME77\""_s,
                                      slow);
        QVERIFY(display.sendFromSheet(service, slow));
        const auto shares = prefix.storedShares();
        QCOMPARE(shares.size(), 1);
        const auto stored = shares.first();
        QCOMPARE(stored.value("message"_L1).toString(), storedMessage);
        const auto files = stored.value("files"_L1).toArray();
        if (storedFile.isEmpty()) {
            QCOMPARE(files.size(), 0);
        } else {
            QCOMPARE(files.size(), 1);
            QCOMPARE(files.first().toObject().value("filename"_L1).toString(), storedFile);
            QCOMPARE(files.first().toObject().value("mediaType"_L1).toString(), u"image/jpeg"_s);
        }
    }
};

QTEST_MAIN(TestBrowserHost)
#include "tst_browserhost.moc"
