#include "ServiceFixture.h"
#include "ShareSheetText.h"
#include "ShareViewController.h"
#include "TaskResult.h"
#include "Translations.h"
#include "service/ServiceError.h"
#include "service/UserDefaults.h"

#include <QAccessible>
#include <QClipboard>
#include <QCoroTimer>
#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QPalette>
#include <QQuickItem>
#include <QQuickStyle>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Zelt_SharePlugin)

using namespace Qt::StringLiterals;

namespace {

// The model with its delivery state open to the test, so that every state of the sheet can be
// shown without a service that pauses half-way.
class StagedModel : public ShareComposeModel
{
public:
    using ShareComposeModel::setErrorMessage;
    using ShareComposeModel::setIsSending;
    using ShareComposeModel::setSent;
    using ShareComposeModel::setUploadProgress;
    using ShareComposeModel::ShareComposeModel;
};

struct Item
{
    QString name;
    QString type; // a content type identifier; empty: none
    bool image = false;
};

QCoro::Task<> deliver(QPointer<ShareComposeModel> model, QString directory, QList<Item> items)
{
    QList<SharedFile> files;
    QHash<QUuid, QImage> previews;
    for (const auto &item : items) {
        QDir().mkpath(directory + u"/ITEM-"_s + item.name);
        SharedFile file;
        file.id = QUuid::createUuid();
        file.fileURL = QUrl::fromLocalFile(directory + u"/ITEM-"_s + item.name + u'/' + item.name);
        file.filename = item.name;
        file.contentType = ContentType::fromIdentifier(item.type);
        file.mediaType = u"application/octet-stream"_s;
        file.sizeBytes = 1'234'567;
        if (item.image) {
            file.isPreparedImage = true;
            file.mediaType = u"image/jpeg"_s;
            QImage preview(480, 320, QImage::Format_RGB32);
            QPainter painter(&preview);
            QLinearGradient sky(0, 0, 0, 320);
            sky.setColorAt(0, QColor(0x4a, 0x90, 0xd9));
            sky.setColorAt(1, QColor(0xf5, 0xc1, 0x6c));
            painter.fillRect(preview.rect(), sky);
            painter.setBrush(QColor(0x2e, 0x5e, 0x3a));
            painter.setPen(Qt::NoPen);
            painter.drawEllipse(QPointF(240, 420), 360, 180);
            painter.end();
            previews.insert(file.id, preview);
        }
        QFile(file.fileURL.toLocalFile()).open(QIODevice::WriteOnly);
        files.append(file);
    }
    co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    if (!model)
        co_return;
    model->setFiles(files);
    for (auto it = previews.cbegin(); it != previews.cend(); ++it)
        model->insertPreview(it.key(), it.value());
    model->finishLoading(!files.isEmpty(), std::nullopt);
}

QByteArray destinations(bool toviAvailable, int threads)
{
    QByteArray list;
    const auto updated = QDateTime::currentDateTimeUtc().addSecs(-3 * 3600);
    for (int i = 0; i < threads; ++i) {
        list += (i ? "," : "") + QByteArray(R"({"id":"t)") + QByteArray::number(i + 1) +
                R"(","title":"Thread number )" + QByteArray::number(i + 1) +
                R"(","color":"blue","updatedAt":")" + destinationDateEncoding(updated).toLatin1() +
                R"("})";
    }
    return R"({"toviAvailable":)" + QByteArray(toviAvailable ? "true" : "false") +
           R"(,"passkeyRequired":false,"threads":[)" + list + "]}";
}

constexpr int slow = 30000;

QQuickItem *find(QQuickItem *root, const QString &name)
{
    if (!root)
        return nullptr;
    if (root->objectName() == name)
        return root;
    for (auto *child : root->childItems()) {
        if (auto *found = find(child, name))
            return found;
    }
    return nullptr;
}

QList<QQuickItem *> findAll(QQuickItem *root, const QString &name)
{
    QList<QQuickItem *> found;
    if (!root)
        return found;
    if (root->objectName() == name)
        found.append(root);
    for (auto *child : root->childItems())
        found += findAll(child, name);
    return found;
}

void typeText(QWindow *window, const char *text)
{
    for (; *text; ++text)
        QTest::keyClick(window, *text);
}

// Shown on screen: visible itself and in every ancestor.
bool shown(QQuickItem *item)
{
    return item && item->isVisible() && item->opacity() > 0;
}

// Every text 40 % longer, as long translations are: the layout must give them room.
class LengtheningTranslator : public QTranslator
{
public:
    QString translate(const char *, const char *source, const char *, int) const override
    {
        const QString text = QString::fromUtf8(source);
        const auto extra = (text.size() * 2 + 4) / 5;
        return text + QString(extra, u'ẍ');
    }
    bool isEmpty() const override { return false; }
};

// The texts on screen that do not fit: elided, cut off at their last line, running past their
// own box, or past the window. Named by object name (or class) and text.
QStringList clippedTexts(QQuickItem *item, QQuickItem *window)
{
    QStringList clipped;
    if (!shown(item))
        return clipped;
    const QString text = item->property("text").toString();
    if (item->inherits("QQuickText") && !text.isEmpty()) {
        const QRectF box = item->mapRectToItem(window, QRectF(0, 0, item->width(), item->height()));
        const qreal contentWidth = item->property("contentWidth").toReal();
        const qreal contentHeight = item->property("contentHeight").toReal();
        const QString name = item->objectName().isEmpty()
                                 ? QString::fromLatin1(item->metaObject()->className())
                                 : item->objectName();
        if (item->property("truncated").toBool() || contentWidth > item->width() + 1 ||
            contentHeight > item->height() + 1 || box.left() < -0.5 ||
            box.right() > window->width() + 0.5 || box.bottom() > window->height() + 0.5)
            clipped.append(name + u": "_s + text);
    }
    for (auto *child : item->childItems())
        clipped += clippedTexts(child, window);
    return clipped;
}

// One sheet over a staged model and the test server.
struct Sheet
{
    ServiceFixture fixture;
    ShareViewController controller;
    StagedModel *model = nullptr;

    Sheet(QList<Item> items, bool signedIn = true, QByteArray answer = destinations(true, 2),
          bool dark = false, DisplayServer::WindowFrame frame = DisplayServer::WindowFrame::System)
    {
        controller.setColorScheme(dark ? ShareViewController::ColorScheme::Dark
                                       : ShareViewController::ColorScheme::Light);
        controller.setWindowFrame(frame);
        if (signedIn) {
            auto session = ServiceFixture::session();
            session.baseOrigin = fixture.server().origin().toString();
            fixture.keychain().store(session.fingerprint(), session.toJson());
        }
        fixture.server().setHandler([answer](const RecordedRequest &request) {
            if (request.target.contains("q=none"))
                return ScriptedResponse::json(200, destinations(true, 0));
            if (request.target.contains("q=one"))
                return ScriptedResponse::json(200, destinations(true, 1));
            return ScriptedResponse::json(200, answer);
        });
        // Nothing shared: the intake of a request without items.
        ShareComposeModel::ItemLoader loader = ShareComposeModel::intakeLoader(nullptr);
        if (!items.isEmpty()) {
            loader = [items](QPointer<ShareComposeModel> target, QString directory) {
                return deliver(target, directory, items);
            };
        }
        auto staged = std::make_unique<StagedModel>(fixture.holder()->environment(), loader);
        model = staged.get();
        controller.viewDidLoad(std::move(staged));
        controller.show();
        controller.window()->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(controller.window()));
    }

    QQuickItem *item(const QString &name) const
    {
        return find(controller.window()->contentItem(), name);
    }
    QString text(const QString &name) const
    {
        auto *found = item(name);
        return found ? found->property("text").toString() : u"<missing %1>"_s.arg(name);
    }
    // The picker pushed, or popped, and still.
    bool showsPicker(bool picker) const
    {
        auto *stack = item(u"stack"_s);
        return stack && !stack->property("busy").toBool() &&
               stack->property("depth").toInt() == (picker ? 2 : 1);
    }
    bool settled() const
    {
        return !model->isLoading() && (!model->signedIn() || model->destinationsLoaded());
    }
    void screenshot(const QString &name) const
    {
        // Past the spinners' fade-in and the stack's transitions.
        QTest::qWait(300);
        const QImage image = controller.window()->grabWindow();
        QVERIFY(!image.isNull());
        image.save(QStringLiteral(ZELT_REVIEW_DIR) + u'/' + name + u".png"_s);
    }
};

} // namespace

Q_DECLARE_METATYPE(DisplayServer::WindowFrame)

class TestShareViews : public QObject
{
    Q_OBJECT

    static void schemes()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        QQuickStyle::setStyle(u"Fusion"_s);
    }
    void init()
    {
        UserDefaults::standard()->remove(QLatin1StringView(ShareComposeModel::lastDestinationKey));
    }

    // When a thread was updated, in words, by the largest whole unit.
    void updatedText_data()
    {
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<QString>("text");
        QTest::newRow("just now") << qint64(0) << u"Updated now"_s;
        QTest::newRow("seconds") << qint64(30) << u"Updated 30 seconds ago"_s;
        QTest::newRow("hours") << qint64(3 * 3600 + 59 * 60) << u"Updated 3 hours ago"_s;
        QTest::newRow("yesterday") << qint64(26 * 3600) << u"Updated yesterday"_s;
        QTest::newRow("last week") << qint64(8 * 86400) << u"Updated last week"_s;
        QTest::newRow("months") << qint64(70 * 86400) << u"Updated 2 months ago"_s;
        QTest::newRow("last year") << qint64(400 * 86400) << u"Updated last year"_s;
        QTest::newRow("in the future") << qint64(-2 * 86400) << u"Updated in 2 days"_s;
    }

    void updatedText()
    {
        QFETCH(qint64, secondsAgo);
        QFETCH(QString, text);
        const auto now = QDateTime(QDate(2026, 6, 15), QTime(12, 0), Qt::UTC);
        QCOMPARE(ShareSheetText::updated(now.addSecs(-secondsAgo), now), text);
    }

    // Transparent parts of shared images become the colour of the sheet that shows them: a dark
    // sheet sets its own palette, not the application's.
    void imagesFlattenOntoTheSheet_data() { schemes(); }
    void imagesFlattenOntoTheSheet()
    {
        QFETCH(bool, dark);
        Sheet sheet({}, true, destinations(true, 2), dark);
        QCOMPARE(sheet.model->windowBackground(),
                 dark ? QColor(0x24, 0x24, 0x26)
                      : QGuiApplication::palette().color(QPalette::Active, QPalette::Window));
    }

    void windowAndLoading()
    {
        Sheet sheet({{u"notes.txt"_s, u"text/plain"_s}});
        QCOMPARE(sheet.controller.window()->title(), u"Send to Zelt"_s);
        QCOMPARE(sheet.controller.window()->size(), ShareViewController::preferredContentSize);
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        sheet.model->setLoading(true);
        QTRY_VERIFY(shown(sheet.item(u"loadingIndicator"_s)));
        QCOMPARE(sheet.text(u"loadingLabel"_s), u"Loading"_s);
        for (const auto &hidden : {u"destinationRow"_s, u"messageField"_s, u"fileList"_s})
            QVERIFY2(!shown(sheet.item(hidden)), qPrintable(hidden));
        sheet.screenshot(u"loading"_s);
    }

    // The title once: in the toolbar, unless the compositor's title bar shows it; a window that
    // nothing frames has no decorations drawn by Qt (which would show it a second time), and its
    // toolbar stands in for the title bar, with Cancel to close it.
    void windowFrames_data()
    {
        QTest::addColumn<DisplayServer::WindowFrame>("frame");
        QTest::addColumn<bool>("toolbarTitle");
        QTest::addColumn<bool>("frameless");
        QTest::newRow("the window system's") << DisplayServer::WindowFrame::System << true << false;
        QTest::newRow("the compositor's title bar")
            << DisplayServer::WindowFrame::ServerDecorated << false << false;
        QTest::newRow("none") << DisplayServer::WindowFrame::Sheet << true << true;
    }

    void windowFrames()
    {
        QFETCH(DisplayServer::WindowFrame, frame);
        QFETCH(bool, toolbarTitle);
        QFETCH(bool, frameless);
        Sheet sheet({{u"notes.txt"_s, u"text/plain"_s}}, true, destinations(true, 2), false, frame);
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        QCOMPARE(shown(sheet.item(u"toolbarTitle"_s)), toolbarTitle);
        QCOMPARE(sheet.controller.window()->flags().testFlag(Qt::FramelessWindowHint), frameless);
        QVERIFY(shown(sheet.item(u"cancelButton"_s)));
        QVERIFY(shown(sheet.item(u"sendButton"_s)));
    }

    // The states of the sheet, each in the light and the dark scheme.
    void states_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("dark");
        for (const auto &state : {u"signed-out"_s, u"one-image"_s, u"three-files"_s, u"sending"_s,
                                  u"sent"_s, u"error"_s, u"tovi-unavailable"_s}) {
            QTest::newRow(qPrintable(state + u"-light"_s)) << state << false;
            QTest::newRow(qPrintable(state + u"-dark"_s)) << state << true;
        }
    }

    void states()
    {
        QFETCH(QString, state);
        QFETCH(bool, dark);
        const QList<Item> threeFiles = {Item{u"quarterly report.pdf"_s, u"application/pdf"_s},
                                        Item{u"recording.m4a"_s, u"audio/mp4"_s},
                                        Item{u"unknown.bin"_s, QString()}};
        QList<Item> items = {Item{u"photo.jpg"_s, u"image/jpeg"_s, true}};
        if (state == u"signed-out")
            items = {Item{u"quarterly report.pdf"_s, u"application/pdf"_s}};
        else if (state == u"three-files" || state == u"sending")
            items = threeFiles;
        Sheet sheet(
            items, state != u"signed-out",
            destinations(state != u"tovi-unavailable", state == u"tovi-unavailable" ? 0 : 2), dark);
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        auto *send = sheet.item(u"sendButton"_s);
        QVERIFY(!shown(sheet.item(u"loadingIndicator"_s)));

        if (state == u"signed-out") {
            QVERIFY(shown(sheet.item(u"signInCard"_s)));
            QCOMPARE(sheet.text(u"signInTitle"_s), u"Sign In to Zelt"_s);
            QCOMPARE(sheet.text(u"signInBody"_s),
                     u"Open Zelt and sign in, then share this file again."_s);
            QVERIFY(shown(sheet.item(u"fileList"_s)));
            QVERIFY(!shown(sheet.item(u"destinationRow"_s)));
            QVERIFY(!shown(sheet.item(u"messageField"_s)));
            QVERIFY(!shown(send)); // only Cancel in the toolbar
            QVERIFY(shown(sheet.item(u"cancelButton"_s)));
        } else if (state == u"one-image") {
            auto *preview = sheet.item(u"singleImagePreview"_s);
            QVERIFY(shown(preview));
            QVERIFY(!shown(sheet.item(u"fileList"_s)));
            QCOMPARE(preview->height(), 280);
            QVERIFY(send->isEnabled());
            QCOMPARE(sheet.text(u"destinationName"_s), u"Tovi"_s);
            // A preview smaller than the sheet is scaled up to the width, to at most 280 tall,
            // not shown at its own size.
            const QUuid id = sheet.model->files().first().id;
            sheet.model->insertPreview(id, sheet.model->previews().value(id).scaled(80, 60));
            QTest::qWait(20);
            QCOMPARE(preview->height(), 280);
            sheet.model->insertPreview(id, sheet.model->previews().value(id).scaled(100, 20));
            QTRY_COMPARE(preview->height(), preview->width() / 5);
        } else if (state == u"three-files") {
            QVERIFY(shown(sheet.item(u"fileList"_s)));
            QCOMPARE(findAll(sheet.item(u"fileList"_s), u"fileRow"_s).size(), 3);
            int dividers = 0;
            for (auto *divider : findAll(sheet.item(u"fileList"_s), u"fileDivider"_s))
                dividers += divider->isVisible();
            QCOMPARE(dividers, 2);
            const auto symbols = findAll(sheet.item(u"fileList"_s), u"fileSymbol"_s);
            QCOMPARE(symbols.size(), 3);
            QCOMPARE(symbols[0]->property("name").toString(), u"doc.richtext"_s);
            QCOMPARE(symbols[1]->property("name").toString(), u"waveform"_s);
            QCOMPARE(symbols[2]->property("name").toString(), u"doc"_s);
            const auto details = findAll(sheet.item(u"fileList"_s), u"fileDetail"_s);
            QCOMPARE(details[2]->property("text").toString(), u"1.2 MB"_s);
            QVERIFY(details[0]->property("text").toString().endsWith(u", 1.2 MB"_s));
        } else if (state == u"sending") {
            auto *message = sheet.item(u"messageArea"_s);
            const auto enabledText = message->property("color").value<QColor>();
            sheet.model->setIsSending(true);
            // The message field shows that it is disabled.
            QTRY_VERIFY(message->property("color").value<QColor>() != enabledText);
            sheet.model->setUploadProgress(0.426);
            QTRY_COMPARE(sheet.text(u"uploadProgressLabel"_s), u"Uploading 42%"_s);
            QVERIFY(shown(sheet.item(u"uploadProgress"_s)));
            QVERIFY(shown(sheet.item(u"sendingIndicator"_s)));
            QVERIFY(!shown(send));
            QVERIFY(!sheet.item(u"destinationRow"_s)->isEnabled());
            QVERIFY(!sheet.item(u"messageField"_s)->isEnabled());
            for (const auto &[progress, label] :
                 {std::pair(1.0, u"Uploading 100%"_s), std::pair(0.999, u"Uploading 99%"_s),
                  std::pair(0.426, u"Uploading 42%"_s)}) {
                sheet.model->setUploadProgress(progress);
                QCOMPARE(sheet.text(u"uploadProgressLabel"_s), label);
            }
        } else if (state == u"sent") {
            sheet.model->setSent(true);
            QTRY_VERIFY(shown(sheet.item(u"sentLabel"_s)));
            QVERIFY(!shown(send));
            QVERIFY(!shown(sheet.item(u"sendingIndicator"_s)));
        } else if (state == u"error") {
            sheet.model->setErrorMessage(u"The request timed out."_s);
            QTRY_VERIFY(shown(sheet.item(u"errorText"_s)));
            QCOMPARE(sheet.text(u"errorText"_s), u"The request timed out."_s);
            QVERIFY(shown(sheet.item(u"destinationRow"_s)));
        } else if (state == u"tovi-unavailable") {
            QCOMPARE(sheet.text(u"destinationName"_s), u"Tovi"_s);
            QVERIFY(shown(send));
            QVERIFY(!send->isEnabled());
            // A disabled Send looks it: its label is not in the enabled Cancel's colour.
            const auto labelColor = [](QQuickItem *button) {
                return button->property("contentItem").value<QQuickItem *>()->property("color");
            };
            QVERIFY(labelColor(send).isValid());
            QVERIFY(labelColor(send) != labelColor(sheet.item(u"cancelButton"_s)));
        }
        if (state != u"signed-out" && state != u"sending" && state != u"sent")
            QVERIFY(!shown(sheet.item(u"uploadProgress"_s)));
        sheet.screenshot(state + (dark ? u"-dark"_s : u"-light"_s));
    }

    // The sheet in each language, and with every text 40 % longer: nothing is cut off in any
    // state, and each language has its screenshots in the review folder.
    void languages_data()
    {
        QTest::addColumn<QString>("language");
        for (const auto &language :
             {u"de"_s, u"fr"_s, u"es"_s, u"pt_BR"_s, u"it"_s, u"ja"_s, u"zh_CN"_s, u"longer"_s})
            QTest::newRow(qPrintable(language)) << language;
    }

    void languages()
    {
        QFETCH(QString, language);
        LengtheningTranslator longer;
        if (language == u"longer") {
            Translations::install(QProcessEnvironment());
            QCoreApplication::installTranslator(&longer);
        } else {
            QProcessEnvironment environment;
            environment.insert(u"LANG"_s, language + u".UTF-8"_s);
            QCOMPARE(Translations::install(environment), language);
        }
        const auto english = qScopeGuard([&longer] {
            QCoreApplication::removeTranslator(&longer);
            Translations::install(QProcessEnvironment());
        });
        const auto check = [&language](const Sheet &sheet, const QString &state) {
            // Settled first: the screenshot waits for the transitions.
            sheet.screenshot(u"language-"_s + language + u'-' + state);
            auto *content = sheet.controller.window()->contentItem();
            const auto clipped = clippedTexts(content, content);
            QVERIFY2(clipped.isEmpty(), qPrintable(state + u": "_s + clipped.join(u" | "_s)));
        };
        const QList<Item> files = {Item{u"quarterly report.pdf"_s, u"application/pdf"_s},
                                   Item{u"recording.m4a"_s, u"audio/mp4"_s},
                                   Item{u"photo.jpg"_s, u"image/jpeg"_s, true}};
        {
            Sheet sheet(files);
            QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
            check(sheet, u"compose"_s);
            sheet.model->setIsSending(true);
            sheet.model->setUploadProgress(0.42);
            check(sheet, u"sending"_s);
            sheet.model->setIsSending(false);
            sheet.model->setErrorMessage(ServiceText::proxyNeedsCredentials());
            QTRY_VERIFY(shown(sheet.item(u"errorText"_s)));
            check(sheet, u"error"_s);
            sheet.model->setErrorMessage(QString());
            sheet.model->setSent(true);
            QTRY_VERIFY(shown(sheet.item(u"sentLabel"_s)));
            check(sheet, u"sent"_s);
        }
        {
            Sheet sheet(files);
            QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
            QMetaObject::invokeMethod(sheet.item(u"destinationRow"_s), "clicked");
            QTRY_VERIFY(sheet.showsPicker(true));
            QTRY_COMPARE(findAll(sheet.item(u"destinationList"_s), u"pickerRow"_s).size(), 3);
            check(sheet, u"picker"_s);
            typeText(sheet.controller.window(), "none");
            QTRY_VERIFY_WITH_TIMEOUT(shown(sheet.item(u"noMatch"_s)), slow);
            check(sheet, u"picker-no-match"_s);
        }
        {
            Sheet sheet({{u"quarterly report.pdf"_s, u"application/pdf"_s}}, false);
            QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
            check(sheet, u"signed-out"_s);
        }
        {
            Sheet sheet(files);
            QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
            auto *presenter = sheet.controller.presenter();
            presenter->show(SecurityKeyPresenter::Step::TouchKey);
            QTRY_VERIFY(shown(sheet.item(u"passkeyPanel"_s)));
            check(sheet, u"passkey-touch"_s);
            auto pin = presenter->requestPin(2, true);
            QTRY_VERIFY(shown(sheet.item(u"pinField"_s)));
            check(sheet, u"passkey-pin"_s);
            QTest::keyClick(sheet.controller.window(), Qt::Key_Escape);
            TaskResult<std::optional<QString>>::wait(std::move(pin));
            presenter->close();
        }
    }

    void destinationHintNamesWhatIsShared_data()
    {
        QTest::addColumn<QList<Item>>("items");
        QTest::addColumn<QString>("hint");
        QTest::newRow("one image") << QList<Item>{{u"a.jpg"_s, u"image/jpeg"_s, true}}
                                   << u"Chooses where to send this image"_s;
        QTest::newRow("one file") << QList<Item>{{u"a.pdf"_s, u"application/pdf"_s}}
                                  << u"Chooses where to send this file"_s;
        QTest::newRow("two files")
            << QList<Item>{{u"a.pdf"_s, u"application/pdf"_s}, {u"b.jpg"_s, u"image/jpeg"_s, true}}
            << u"Chooses where to send these files"_s;
    }

    void destinationHintNamesWhatIsShared()
    {
        QFETCH(QList<Item>, items);
        QFETCH(QString, hint);
        Sheet sheet(items);
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        auto *row = sheet.item(u"destinationRow"_s);
        auto *accessible = QAccessible::queryAccessibleInterface(row);
        QVERIFY(accessible);
        QTRY_COMPARE(accessible->text(QAccessible::Description), hint);
        QCOMPARE(accessible->text(QAccessible::Name), u"To Tovi"_s);
    }

    // The picker: pushed from the destination row, searched, chosen from, and popped; in each
    // scheme, for its screenshots.
    void pickerChoosesAThread_data() { schemes(); }
    void pickerChoosesAThread()
    {
        QFETCH(bool, dark);
        const QString scheme = dark ? u"-dark"_s : u"-light"_s;
        Sheet sheet({{u"a.pdf"_s, u"application/pdf"_s}}, true, destinations(true, 2), dark);
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        QMetaObject::invokeMethod(sheet.item(u"destinationRow"_s), "clicked");
        QTRY_VERIFY(sheet.showsPicker(true));
        QTRY_COMPARE(findAll(sheet.item(u"destinationList"_s), u"pickerRow"_s).size(), 3);
        QVERIFY(shown(sheet.item(u"recentThreadsHeader"_s)));
        const auto subtitles = findAll(sheet.item(u"destinationList"_s), u"rowSubtitle"_s);
        QCOMPARE(subtitles[0]->property("text").toString(),
                 u"Finds the right thread or starts one"_s);
        QCOMPARE(subtitles[1]->property("text").toString(), u"Updated 3 hours ago"_s);
        const auto marks = findAll(sheet.item(u"destinationList"_s), u"selectedMark"_s);
        QVERIFY(marks[0]->isVisible() && !marks[1]->isVisible());
        sheet.screenshot(u"picker"_s + scheme);

        // A search without results shows the query; the keyboard then picks from the results.
        auto *search = sheet.item(u"searchField"_s);
        QTRY_VERIFY(search->hasActiveFocus());
        typeText(sheet.controller.window(), "none");
        QTRY_VERIFY_WITH_TIMEOUT(shown(sheet.item(u"noMatch"_s)), slow);
        QCOMPARE(sheet.text(u"noMatch"_s), u"No threads match “none”"_s);
        sheet.screenshot(u"picker-no-match"_s + scheme);
        search->setProperty("text", u"Thread"_s);
        QTRY_COMPARE_WITH_TIMEOUT(findAll(sheet.item(u"destinationList"_s), u"pickerRow"_s).size(),
                                  2, slow);
        QVERIFY(!sheet.item(u"recentThreadsHeader"_s));
        QTest::keyClick(sheet.controller.window(), Qt::Key_Down);
        QTest::keyClick(sheet.controller.window(), Qt::Key_Down);
        QTest::keyClick(sheet.controller.window(), Qt::Key_Return);

        QTRY_VERIFY(sheet.showsPicker(false));
        QCOMPARE(sheet.model->destination().threadID(), std::optional(u"t2"_s));
        QCOMPARE(sheet.model->searchQuery(), QString());
        QCOMPARE(sheet.text(u"destinationName"_s), u"Thread number 2"_s);
    }

    void pickerSections_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("header");
        QTest::newRow("Tovi and two threads") << destinations(true, 2) << 3 << true;
        QTest::newRow("no Tovi, no threads") << destinations(false, 0) << 0 << false;
        QTest::newRow("Tovi only") << destinations(true, 0) << 1 << false;
        QTest::newRow("failed") << QByteArray("not json") << 1 << true;
    }

    void pickerSections()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, rows);
        QFETCH(bool, header);
        Sheet sheet({{u"a.pdf"_s, u"application/pdf"_s}}, true, answer);
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        QMetaObject::invokeMethod(sheet.item(u"destinationRow"_s), "clicked");
        QTRY_VERIFY(shown(sheet.item(u"destinationList"_s)));
        QTest::qWait(50);
        QCOMPARE(findAll(sheet.item(u"destinationList"_s), u"pickerRow"_s).size(), rows);
        QCOMPARE(sheet.item(u"recentThreadsHeader"_s) != nullptr, header);
        QCOMPARE(sheet.item(u"destinationsError"_s) != nullptr,
                 !sheet.model->destinationsErrorText().isEmpty());
    }

    void keyboard()
    {
        Sheet sheet({{u"a.pdf"_s, u"application/pdf"_s}});
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        QSignalSpy finished(&sheet.controller, &ShareViewController::finished);
        // Escape pops the picker first, then cancels the share.
        QMetaObject::invokeMethod(sheet.item(u"destinationRow"_s), "clicked");
        QTRY_VERIFY(shown(sheet.item(u"destinationList"_s)));
        QTest::keyClick(sheet.controller.window(), Qt::Key_Escape);
        QTRY_VERIFY(shown(sheet.item(u"destinationRow"_s)));
        QCOMPARE(finished.size(), 0);
        QTest::keyClick(sheet.controller.window(), Qt::Key_Escape);
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!sheet.controller.window()->isVisible());
        QVERIFY(!QFileInfo::exists(sheet.model->temporaryDirectory()));
    }

    // A share by keyboard alone: the message field has the focus at once, Tab shows where it
    // is on every stop, Return presses the focused control, and the picker's rows are reached
    // with the arrows.
    void keyboardOnly()
    {
        Sheet sheet({{u"a.pdf"_s, u"application/pdf"_s}});
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        auto *window = sheet.controller.window();
        auto *area = sheet.item(u"messageArea"_s);
        QTRY_VERIFY(area->hasActiveFocus());
        typeText(window, "hi");
        QCOMPARE(sheet.model->message(), u"hi"_s);

        const auto ringShown = [&](const QString &name) {
            auto *control = sheet.item(name);
            return control && control->hasActiveFocus() && shown(find(control, u"focusRing"_s));
        };
        QTest::keyClick(window, Qt::Key_Tab);
        QTRY_VERIFY(ringShown(u"cancelButton"_s));
        QTest::keyClick(window, Qt::Key_Tab);
        QTRY_VERIFY(ringShown(u"sendButton"_s));
        QTest::keyClick(window, Qt::Key_Tab);
        auto *destination = sheet.item(u"destinationRow"_s);
        QTRY_VERIFY(destination->hasActiveFocus());
        QVERIFY(destination->property("visualFocus").toBool());

        QTest::keyClick(window, Qt::Key_Return);
        QTRY_VERIFY(sheet.showsPicker(true));
        QTRY_VERIFY(sheet.item(u"searchField"_s)->hasActiveFocus());
        QTest::keyClick(window, Qt::Key_Down);
        const auto rows = findAll(sheet.item(u"destinationList"_s), u"pickerRow"_s);
        QCOMPARE(rows.size(), 3);
        QTRY_VERIFY(rows[0]->hasActiveFocus());
        QVERIFY(rows[0]->property("highlighted").toBool());
        QTest::keyClick(window, Qt::Key_Down);
        QTRY_VERIFY(rows[1]->hasActiveFocus());
        QVERIFY(!rows[0]->property("highlighted").toBool());
        QTest::keyClick(window, Qt::Key_Return);
        QTRY_VERIFY(sheet.showsPicker(false));
        QCOMPARE(sheet.model->destinationRow().value(u"id"_s).toString(), u"t1"_s);

        // Return in the search field picks the only thread found.
        QMetaObject::invokeMethod(sheet.item(u"destinationRow"_s), "clicked");
        QTRY_VERIFY(sheet.showsPicker(true));
        QTRY_VERIFY(sheet.item(u"searchField"_s)->hasActiveFocus());
        typeText(window, "one");
        QTRY_VERIFY_WITH_TIMEOUT(
            sheet.model->searchResultRows().isValid() && !sheet.model->isSearching(), slow);
        QTest::keyClick(window, Qt::Key_Return);
        QTRY_VERIFY(sheet.showsPicker(false));
        QCOMPARE(sheet.model->destinationRow().value(u"id"_s).toString(), u"t1"_s);

        // Return on Send sends.
        auto *send = sheet.item(u"sendButton"_s);
        send->forceActiveFocus(Qt::TabFocusReason);
        QTest::keyClick(window, Qt::Key_Return);
        QVERIFY(sheet.model->isSending());
    }

    void controlReturnSends()
    {
        Sheet sheet({{u"a.pdf"_s, u"application/pdf"_s}});
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        QVERIFY(sheet.model->canSend());
        QTest::keyClick(sheet.controller.window(), Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(sheet.model->isSending());
    }

    // The security-key overlay follows the presenter; the PIN typed reaches the prompt.
    void passkeyOverlay_data() { schemes(); }
    void passkeyOverlay()
    {
        QFETCH(bool, dark);
        Sheet sheet({{u"a.pdf"_s, u"application/pdf"_s}}, true, destinations(true, 2), dark);
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        auto *presenter = sheet.controller.presenter();
        QVERIFY(!shown(sheet.item(u"passkeyPanel"_s)));
        presenter->show(SecurityKeyPresenter::Step::TouchKey);
        QTRY_VERIFY(shown(sheet.item(u"passkeyPanel"_s)));
        QCOMPARE(sheet.text(u"passkeyTitle"_s), u"Use your security key"_s);
        QCOMPARE(sheet.text(u"passkeyStep"_s), u"Touch your security key to continue."_s);
        // A passkey that is not on a key goes to Zelt from here.
        QVERIFY(shown(sheet.item(u"passkeyOpenZelt"_s)));
        QVERIFY(shown(sheet.item(u"passkeyElsewhere"_s)));
        sheet.screenshot(dark ? u"passkey-touch-dark"_s : u"passkey-touch-light"_s);
        QSignalSpy handOff(presenter, &SecurityKeyPresenter::handOffRequested);
        QMetaObject::invokeMethod(sheet.item(u"passkeyOpenZelt"_s), "clicked");
        QCOMPARE(handOff.size(), 1);

        auto pin = presenter->requestPin(3, true);
        QTRY_VERIFY(shown(sheet.item(u"pinField"_s)));
        QVERIFY(shown(sheet.item(u"passkeyWrongPin"_s)));
        sheet.screenshot(dark ? u"passkey-pin-dark"_s : u"passkey-pin-light"_s);
        typeText(sheet.controller.window(), "1234");
        QTest::keyClick(sheet.controller.window(), Qt::Key_Return);
        const auto typed = TaskResult<std::optional<QString>>::wait(std::move(pin));
        QVERIFY(typed.value);
        QCOMPARE(*typed.value, std::optional(u"1234"_s));

        // Escape is the overlay's Cancel: a PIN request ends empty, and the prompt hears it.
        QSignalSpy canceled(presenter, &SecurityKeyPresenter::cancelRequested);
        auto second = presenter->requestPin(-1, false);
        QTest::keyClick(sheet.controller.window(), Qt::Key_Escape);
        const auto none = TaskResult<std::optional<QString>>::wait(std::move(second));
        QVERIFY(none.value);
        QCOMPARE(*none.value, std::optional<QString>());
        QCOMPARE(canceled.size(), 1);
        presenter->close();
        QTRY_VERIFY(!shown(sheet.item(u"passkeyPanel"_s)));
    }

    // The prompt provider holds the sheet weakly: once the sheet is gone there is no prompt, and
    // a step-up goes to the main application.
    void promptNeedsTheSheet()
    {
        PasskeyStepUp::PromptProvider provider;
        {
            Sheet sheet({});
            provider = sheet.model->promptProvider();
            QVERIFY(provider);
            QVERIFY(provider() != nullptr);
            sheet.controller.window()->hide();
            QVERIFY(provider() == nullptr);
            sheet.controller.show();
            QVERIFY(provider() != nullptr);
        }
        QVERIFY(provider() == nullptr);
    }

    // Files dropped on the sheet and a pasted image join the share; text pasted into the
    // message field stays text there. Nothing is taken while sending.
    void pasteAndDrop()
    {
        Sheet sheet({{u"a.pdf"_s, u"application/pdf"_s}});
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        auto *window = sheet.controller.window();
        QTemporaryDir sources;
        QFile notes(sources.filePath(u"notes.txt"_s));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("meeting notes\n");
        notes.close();
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(QColor(0x35, 0x84, 0xe4));
        QVERIFY(picture.save(sources.filePath(u"picture.png"_s)));

        QMimeData dragged;
        dragged.setUrls({QUrl::fromLocalFile(notes.fileName()),
                         QUrl::fromLocalFile(sources.filePath(u"picture.png"_s))});
        const QPointF centre(window->width() / 2.0, window->height() / 2.0);
        QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction | Qt::MoveAction, &dragged,
                              Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &enter);
        QVERIFY(enter.isAccepted());
        // Never a move: the file manager would delete what it moved.
        QCOMPARE(enter.dropAction(), Qt::CopyAction);
        QTRY_VERIFY(shown(sheet.item(u"dropHighlight"_s)));
        sheet.screenshot(u"drop-highlight"_s);
        QDropEvent drop(centre, Qt::CopyAction | Qt::MoveAction, &dragged, Qt::LeftButton,
                        Qt::NoModifier);
        QCoreApplication::sendEvent(window, &drop);
        QCOMPARE(drop.dropAction(), Qt::CopyAction);
        QVERIFY(!shown(sheet.item(u"dropHighlight"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(sheet.model->fileCount(), 3, slow);
        QStringList names;
        for (const auto &file : sheet.model->files())
            names.append(file.filename);
        QCOMPARE(names, (QStringList{u"a.pdf"_s, u"notes.txt"_s, u"picture.jpg"_s}));
        QVERIFY(QFileInfo::exists(notes.fileName()));

        // In the message field, an image on the clipboard joins the share, text is typed.
        auto *area = sheet.item(u"messageArea"_s);
        area->forceActiveFocus();
        QGuiApplication::clipboard()->setImage(picture);
        QTest::keyClick(window, Qt::Key_V, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(sheet.model->fileCount(), 4, slow);
        QCOMPARE(area->property("text").toString(), QString());
        QGuiApplication::clipboard()->setText(u"pasted words"_s);
        QTest::keyClick(window, Qt::Key_V, Qt::ControlModifier);
        QTRY_COMPARE(sheet.model->message(), u"pasted words"_s);
        QCOMPARE(sheet.model->fileCount(), 4);

        sheet.model->setIsSending(true);
        QDragEnterEvent refused(centre.toPoint(), Qt::CopyAction, &dragged, Qt::LeftButton,
                                Qt::NoModifier);
        QCoreApplication::sendEvent(window, &refused);
        QVERIFY(!shown(sheet.item(u"dropHighlight"_s)));
        QGuiApplication::clipboard()->setImage(picture);
        QTest::keyClick(window, Qt::Key_V, Qt::ControlModifier);
        QTest::qWait(200);
        QCOMPARE(sheet.model->fileCount(), 4);
        sheet.model->setIsSending(false);
    }

    // Nothing shared: the sheet says so and offers nothing to send.
    void nothingShared()
    {
        Sheet sheet({});
        QTRY_VERIFY_WITH_TIMEOUT(sheet.settled(), slow);
        QTRY_COMPARE(sheet.text(u"errorText"_s), u"Choose a file to share."_s);
        QVERIFY(!shown(sheet.item(u"destinationRow"_s)));
        QVERIFY(!sheet.item(u"sendButton"_s)->isEnabled());
    }
};

QTEST_MAIN(TestShareViews)
#include "tst_shareviews.moc"
