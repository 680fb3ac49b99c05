#include "DevServiceFixture.h"
#include "SheetPrefix.h"
#include "VirtualDisplay.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int slow = 180000;

} // namespace

// The extension in the real browsers, headless, on a page served on 127.0.0.1: the page, its
// link and its image go through the browser's native messaging to the host of the build, which
// starts the real sheet in a window; Ctrl+Return there sends the share to the development
// service, which stores what the page made. The browser closes (and signals its host's process
// group) before the sheet sends, so the sheet also shows that it outlives both.
class TestBrowserShare : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sharesFromBrowser_data()
    {
        QTest::addColumn<QString>("browser");
        QTest::addColumn<QString>("kind");
        for (const auto &browser : {u"chromium"_s, u"firefox"_s}) {
            for (const auto &kind : {u"page"_s, u"link"_s, u"image"_s, u"large image"_s})
                QTest::addRow("%s %s", qPrintable(browser), qPrintable(kind)) << browser << kind;
        }
    }

    void sharesFromBrowser()
    {
        QFETCH(QString, browser);
        QFETCH(QString, kind);

        const auto node = QStandardPaths::findExecutable(u"node"_s);
        const QString executable = browser == u"chromium" ? u"/usr/lib/chromium/chromium"_s
                                                          : u"/usr/lib/firefox-esr/firefox-esr"_s;
        if (node.isEmpty() || !QFileInfo(executable).isExecutable() ||
            !QFileInfo::exists(QStringLiteral(ZELT_BROWSER_TESTS "/node_modules/puppeteer-core")))
            QSKIP("needs node, chromium, firefox-esr and the test's node modules "
                  "(scripts/install-deps installs them)");
        VirtualDisplay display;
        if (display.display().isEmpty())
            QSKIP("needs Xvfb and xdotool (scripts/install-deps installs them)");

        DevServiceFixture service;
        SheetPrefix prefix(service);
        // Chromium's user data where it keeps it by default: $XDG_CONFIG_HOME/chromium.
        const QString chromiumUserData = prefix.path(u"config/chromium"_s);
        prefix.addManifests(prefix.path(u"home"_s), chromiumUserData,
                            QStringLiteral(ZELT_CHROMIUM_EXTENSION_ID),
                            QStringLiteral(ZELT_GECKO_ID));
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(QColor(0x35, 0x84, 0xe4));
        QVERIFY(picture.save(prefix.path(u"picture.png"_s)));
        if (kind == u"large image") {
            // Past the 32 MiB that go as bytes: the image goes by its address.
            QFile large(prefix.path(u"picture.png"_s));
            QVERIFY(large.open(QIODevice::Append));
            QVERIFY(large.resize(32 * 1024 * 1024 + 1));
        }

        const QString title = u"Café Zürich — Überblick"_s;
        const QString selection = u"Grüße aus Zürich\nZweite Zeile — «zitiert»"_s;
        const QString link = u"https://example.com/a%20b?x=1&y=%C3%A9"_s;
        const QJsonObject testCase{
            {u"browser"_s, browser},
            {u"kind"_s, kind == u"large image" ? u"image"_s : kind},
            {u"title"_s, title},
            {u"selection"_s, selection},
            {u"link"_s, link},
            {u"image"_s, prefix.path(u"picture.png"_s)},
            {u"extension"_s, QStringLiteral(ZELT_BROWSER_EXTENSION_DIR)},
            {u"chromiumExtensionId"_s, QStringLiteral(ZELT_CHROMIUM_EXTENSION_ID)},
            {u"work"_s, prefix.path(u"work"_s)},
            {u"chromiumUserData"_s, chromiumUserData},
        };
        QFile caseFile(prefix.path(u"case.json"_s));
        QVERIFY(caseFile.open(QIODevice::WriteOnly));
        caseFile.write(QJsonDocument(testCase).toJson());
        caseFile.close();

        auto environment = prefix.environment();
        environment.insert(u"DISPLAY"_s, display.display());
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        environment.insert(u"ZELT_CHROMIUM"_s, u"/usr/lib/chromium/chromium"_s);
        environment.insert(u"ZELT_FIREFOX"_s, u"/usr/lib/firefox-esr/firefox-esr"_s);
        // Qt Quick's software renderer leaves each Image element's pixmap in a cycle when the
        // window goes (as in the views' suite); the sheet's own leaks are checked in process.
        environment.insert(u"ASAN_OPTIONS"_s,
                           environment.value(u"ASAN_OPTIONS"_s) + u":detect_leaks=0"_s);
        QProcess driver;
        driver.setProcessEnvironment(environment);
        driver.setProcessChannelMode(QProcess::SeparateChannels);
        driver.start(
            node, {QStringLiteral(ZELT_BROWSER_TESTS "/drive-browser.mjs"), caseFile.fileName()});
        QVERIFY(driver.waitForFinished(slow));
        const auto errors = driver.readAllStandardError();
        QVERIFY2(driver.exitCode() == 0, errors.constData());
        const auto result = QJsonDocument::fromJson(driver.readAllStandardOutput()).object();
        QVERIFY2(result.value("answer"_L1).toObject() == (QJsonObject{{u"ok"_s, true}}),
                 QJsonDocument(result).toJson().constData());
        const QString pageUrl = result.value("pageUrl"_L1).toString();
        QCOMPARE(result.value("menus"_L1).toArray(),
                 (QJsonArray{u"page"_s, u"selection"_s, u"link"_s, u"image"_s}));

        QVERIFY(display.sendFromSheet(service, slow));
        const auto shares = prefix.storedShares();
        QCOMPARE(shares.size(), 1);
        const auto stored = shares.first();
        const auto files = stored.value("files"_L1).toArray();
        if (kind == u"page") {
            QCOMPARE(stored.value("message"_L1).toString(),
                     title + u"\n\n> Grüße aus Zürich\n> Zweite Zeile — «zitiert»\n\n"_s + pageUrl);
            QCOMPARE(files.size(), 0);
        } else if (kind == u"link") {
            QCOMPARE(stored.value("message"_L1).toString(), link);
            QCOMPARE(files.size(), 0);
        } else if (kind == u"large image") {
            QCOMPARE(stored.value("message"_L1).toString(),
                     pageUrl.left(pageUrl.lastIndexOf(u'/')) + u"/pictures/cat%20photo.png"_s);
            QCOMPARE(files.size(), 0);
        } else {
            QCOMPARE(stored.value("message"_L1).toString(), QString());
            QCOMPARE(files.size(), 1);
            QCOMPARE(files.first().toObject().value("filename"_L1).toString(), u"cat photo.jpg"_s);
            QCOMPARE(files.first().toObject().value("mediaType"_L1).toString(), u"image/jpeg"_s);
        }
    }
};

QTEST_MAIN(TestBrowserShare)
#include "tst_browsershare.moc"
