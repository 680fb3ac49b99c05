#include "DevServiceFixture.h"
#include "HeadlessShare.h"
#include "SoftwareAuthenticatorPrompt.h"
#include "host/ExtensionContext.h"
#include "service/FileSessionKeychain.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(HeadlessShare::Options)

// A whole share without a window, from command-line items to what the development service
// stored, through the intake, the uploads and the submission.
class TestHeadlessShare : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void shareReachesTheService()
    {
        DevServiceFixture service;
        QTemporaryDir work;
        const auto environment = signedIn(service, work.path());
        QFile file(work.filePath(u"notes.txt"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("meeting notes\n");
        file.close();

        const auto [exitCode, output] =
            run(environment, {file.fileName(), u"--text"_s, u"https://example.com/a"_s},
                {u"Please read"_s,
                 HeadlessShare::Destination{HeadlessShare::Destination::Kind::Tovi, {}}});
        QVERIFY2(exitCode == 0, qPrintable(output));
        QVERIFY(output.contains(u"Sent"_s));

        const QDir shares(service.service().sharesDirectory());
        const auto stored = shares.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(stored.size(), 1);
        QFile record(shares.filePath(stored.first() + u"/share.json"_s));
        QVERIFY(record.open(QIODevice::ReadOnly));
        const auto share = QJsonDocument::fromJson(record.readAll()).object();
        QCOMPARE(share.value("message"_L1).toString(), u"Please read"_s);
        QVERIFY(share.value("destination"_L1).toObject().contains("tovi"_L1));
        const auto files = share.value("files"_L1).toArray();
        QCOMPARE(files.size(), 1);
        QCOMPARE(files[0].toObject().value("filename"_L1).toString(), u"notes.txt"_s);
    }

    // What reaches the terminal cannot steer it: escapes, line breaks, C1 controls and
    // direction overrides are written out; everything else is left as it is.
    void terminalText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << u"Zelt could not receive the share."_s
                               << u"Zelt could not receive the share."_s;
        QTest::newRow("colour and title") << u"\x1b[32mSent\x1b[0m\x1b]0;owned\x07"_s
                                          << u"\\x1B[32mSent\\x1B[0m\\x1B]0;owned\\x07"_s;
        QTest::newRow("fake line")
            << u"Notes\nthread:1\tTitle"_s << u"Notes\\x0Athread:1\\x09Title"_s;
        QTest::newRow("C1 and DEL") << u"a\u009bb\x7f"_s << u"a\\x9Bb\\x7F"_s;
        QTest::newRow("direction override")
            << u"report\u202Etxt.exe"_s << u"report\\u{202E}txt.exe"_s;
        QTest::newRow("letters of any script")
            << u"Caf\u00e9 \u6f22\u5b57 \U0001F600"_s << u"Caf\u00e9 \u6f22\u5b57 \U0001F600"_s;
    }

    void terminalText()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(HeadlessShare::terminalText(text), shown);
    }

    void failuresEndWithOneLine_data()
    {
        QTest::addColumn<bool>("signIn");
        QTest::addColumn<bool>("requirePasskey");
        QTest::addColumn<QString>("line");
        QTest::newRow("signed out") << false << false << u"Open Zelt and sign in first."_s;
        QTest::newRow("step-up without a window")
            << true << true << u"Open Zelt to authenticate with your passkey, then share again."_s;
    }

    void failuresEndWithOneLine()
    {
        QFETCH(bool, signIn);
        QFETCH(bool, requirePasskey);
        QFETCH(QString, line);
        DevServiceOptions options;
        options.requirePasskey = requirePasskey;
        DevServiceFixture service(options);
        QTemporaryDir work;
        auto environment = signedIn(service, work.path());
        if (!signIn)
            environment->sessionStore().deleteStoredSession();
        environment->setSharedDefaultsFile(work.filePath(u"suite.ini"_s));
        const auto [exitCode, output] = run(
            environment, {u"--text"_s, u"hello"_s},
            {std::nullopt, HeadlessShare::Destination{HeadlessShare::Destination::Kind::Tovi, {}}});
        QCOMPARE(exitCode, 1);
        QCOMPARE(output.trimmed().split(u'\n').last(), line);
        QVERIFY(QDir(service.service().sharesDirectory()).isEmpty());
    }

    // How the share reaches the service: small images inline, a refused direct upload through
    // the proxy, and a session the service ends between the destinations and the send.
    void delivery_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("expected"); // the stored form and route, or the last line
        QTest::newRow("two small images") << u"images"_s << 0 << u"inline"_s;
        QTest::newRow("direct upload refused") << u"refused"_s << 0 << u"uploaded via proxy"_s;
        QTest::newRow("signed out mid-send")
            << u"signed out"_s << 1 << u"Open Zelt and sign in first."_s;
    }

    void delivery()
    {
        QFETCH(QString, situation);
        QFETCH(int, exitCode);
        QFETCH(QString, expected);
        DevServiceOptions options;
        if (situation == u"refused")
            options.directUpload = DevServiceOptions::DirectUpload::Fail403;
        DevServiceFixture service(options);
        QTemporaryDir work;
        QByteArray cookie;
        const auto environment = signedIn(service, work.path(), &cookie);
        QStringList items;
        for (const auto &name : {u"one.png"_s, u"two.png"_s}) {
            QImage picture(64, 48, QImage::Format_RGB32);
            picture.fill(Qt::darkCyan);
            QVERIFY(picture.save(work.filePath(name)));
            items.append(work.filePath(name));
        }
        if (situation != u"images") {
            QFile notes(work.filePath(u"notes.txt"_s));
            QVERIFY(notes.open(QIODevice::WriteOnly));
            notes.write("notes\n");
            items = {notes.fileName()};
        }
        const auto [status, output] = run(
            environment, items,
            {std::nullopt, HeadlessShare::Destination{HeadlessShare::Destination::Kind::Tovi, {}}},
            {}, [&](ShareComposeModel &) {
                if (situation == u"signed out")
                    service.call("POST", u"/api/dev/sign-out"_s, cookie);
            });
        QVERIFY2(status == exitCode, qPrintable(output));
        const auto shares =
            QDir(service.service().sharesDirectory()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        if (exitCode != 0) {
            QCOMPARE(output.trimmed().split(u'\n').last(), expected);
            QVERIFY(shares.isEmpty());
            // The refused session is gone from the keychain.
            QVERIFY(!environment->sessionStore().loadSession(environment->baseOrigin()));
            return;
        }
        QCOMPARE(shares.size(), 1);
        QFile record(service.service().sharesDirectory() + u'/' + shares.first() +
                     u"/share.json"_s);
        QVERIFY(record.open(QIODevice::ReadOnly));
        const auto share = QJsonDocument::fromJson(record.readAll()).object();
        auto form = share.value("form"_L1).toString();
        const auto files = share.value("files"_L1).toArray();
        const auto upload =
            files.isEmpty() ? QJsonObject() : files[0].toObject().value("upload"_L1).toObject();
        if (!upload.isEmpty())
            form += u" via "_s + upload.value("via"_L1).toString();
        QCOMPARE(form, expected);
    }

    // Where --to sends the share, and what --list-destinations prints.
    void destinations_data()
    {
        using Kind = HeadlessShare::Destination::Kind;
        QTest::addColumn<HeadlessShare::Options>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("expected"); // the stored thread, or the last line
        const auto to = [](Kind kind, const QString &value) {
            return HeadlessShare::Options{std::nullopt, HeadlessShare::Destination{kind, value}};
        };
        QTest::newRow("search") << to(Kind::Search, u" PASSKEY "_s) << 0
                                << u"58e7d1c6-a9b0-4f32-8c5d-2b1a0f9e7d08"_s;
        QTest::newRow("thread") << to(Kind::Thread, u"7d3b9f10-2e6a-4b8c-8d1f-5a0e9c7b6d03"_s) << 0
                                << u"7d3b9f10-2e6a-4b8c-8d1f-5a0e9c7b6d03"_s;
        QTest::newRow("unknown thread")
            << to(Kind::Thread, u"nope"_s) << 1 << u"No recent thread has the ID “nope”."_s;
        QTest::newRow("search without results")
            << to(Kind::Search, u"zzz"_s) << 1 << u"No threads match “zzz”"_s;
        QTest::newRow("list") << HeadlessShare::Options{std::nullopt, std::nullopt, true} << 0
                              << u"thread:f3b8a4d2-1c6e-4e7a-b5d9-0e2f4a6c8b10\tBrand colours"_s;
    }

    void destinations()
    {
        QFETCH(HeadlessShare::Options, options);
        QFETCH(int, exitCode);
        QFETCH(QString, expected);
        DevServiceFixture service;
        QTemporaryDir work;
        const auto environment = signedIn(service, work.path());
        const auto [status, output] = run(
            environment,
            options.listDestinations ? QStringList() : QStringList{u"--text"_s, u"hi"_s}, options);
        QVERIFY2(status == exitCode, qPrintable(output));
        const auto shares =
            QDir(service.service().sharesDirectory()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        if (exitCode != 0 || options.listDestinations) {
            QCOMPARE(output.trimmed().split(u'\n').last(), expected);
            QVERIFY(shares.isEmpty());
            if (options.listDestinations)
                QCOMPARE(output.split(u'\n').first(), u"tovi\tTovi"_s);
            return;
        }
        QCOMPARE(shares.size(), 1);
        QFile record(service.service().sharesDirectory() + u'/' + shares.first() +
                     u"/share.json"_s);
        QVERIFY(record.open(QIODevice::ReadOnly));
        const auto destination =
            QJsonDocument::fromJson(record.readAll()).object().value("destination"_L1).toObject();
        QCOMPARE(destination.value("thread"_L1)
                     .toObject()
                     .value("_0"_L1)
                     .toObject()
                     .value("id"_L1)
                     .toString(),
                 expected);
    }

    // The step-up with the software authenticator at the prompt: asked for up front, after a
    // refusal, or canceled by the user.
    void passkeyCeremony_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("line");
        QTest::newRow("required up front") << u"upfront"_s << false << 0 << u"Sent"_s;
        QTest::newRow("after a refusal") << u"refused"_s << false << 0 << u"Sent"_s;
        QTest::newRow("canceled at the prompt")
            << u"upfront"_s << true << 1 << u"Authenticate with your passkey to send this."_s;
    }

    void passkeyCeremony()
    {
        QFETCH(QString, when);
        QFETCH(bool, cancel);
        QFETCH(int, exitCode);
        QFETCH(QString, line);
        DevServiceOptions options;
        options.requirePasskey = true;
        DevServiceFixture service(options);
        QTemporaryDir work;
        QByteArray cookie;
        const auto environment = signedIn(service, work.path(), &cookie);
        environment->setSharedDefaultsFile(work.filePath(u"suite.ini"_s));
        auto authenticator = service.registerAuthenticator(cookie);
        if (when == u"refused") {
            // The destinations see an open sudo session, which has closed by the time of the
            // share.
            service.openSudo(cookie, authenticator);
        }
        int prompts = 0;
        const auto [status, output] = run(
            environment, {u"--text"_s, u"hello"_s},
            {std::nullopt, HeadlessShare::Destination{HeadlessShare::Destination::Kind::Tovi, {}}},
            [&]() -> std::unique_ptr<SudoPasskeyPrompt> {
                return std::make_unique<SoftwareAuthenticatorPrompt>(
                    cancel ? nullptr : &authenticator, prompts);
            },
            [&](ShareComposeModel &model) {
                // Closes the sudo session after the destinations answered and before the send.
                if (when == u"refused" && !model.passkeyRequired())
                    service.advance(options.sudoDuration + std::chrono::seconds(1));
            });
        QCOMPARE(status, exitCode);
        QCOMPARE(output.trimmed().split(u'\n').last(), line);
        QCOMPARE(prompts, 1);
        const auto stored =
            QDir(service.service().sharesDirectory()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(stored.size(), cancel ? 0 : 1);
        // A cancel is the user's answer: nothing is handed to the main application.
        QCOMPARE(QFileInfo::exists(work.filePath(u"suite.ini"_s)), false);
        if (!cancel) {
            const auto log = service.logLines();
            const auto first = [&log](const QString &start) {
                for (qsizetype i = 0; i < log.size(); ++i) {
                    if (log[i].startsWith(start))
                        return i;
                }
                return qsizetype(-1);
            };
            const auto refusedShare = u"POST /api/tovi/native-share 403"_s;
            QCOMPARE(first(refusedShare) >= 0, when == u"refused");
        }
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("bad page") << QStringList{u"--headless"_s, u"--page"_s, u"not json"_s};
        QTest::newRow("bad destination")
            << QStringList{u"--headless"_s, u"--to"_s, u"nowhere"_s, u"a.txt"_s};
        QTest::newRow("empty search")
            << QStringList{u"--headless"_s, u"--to"_s, u"search:"_s, u"a.txt"_s};
        QTest::newRow("missing value") << QStringList{u"--headless"_s, u"a.txt"_s, u"--to"_s};
        QTest::newRow("--to without --headless") << QStringList{u"--to"_s, u"tovi"_s, u"a.txt"_s};
        QTest::newRow("listing with items")
            << QStringList{u"--headless"_s, u"--list-destinations"_s, u"a.txt"_s};
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QProcess share;
        share.start(QCoreApplication::applicationDirPath() + u"/zelt-share"_s, arguments);
        QVERIFY(share.waitForFinished(30000));
        QCOMPARE(share.exitCode(), 2);
        QVERIFY(!share.readAllStandardError().isEmpty());
    }

private:
    // The session the main application would have left, for the service's own user.
    static std::shared_ptr<ServiceEnvironment>
    signedIn(DevServiceFixture &service, const QString &directory, QByteArray *cookie = nullptr)
    {
        const QUrl origin(service.origin());
        auto keychain = std::make_unique<FileSessionKeychain>(directory, u"app.zelt.test"_s);
        NativeSharedSession session;
        session.baseOrigin = service.origin();
        session.cookieName = u"zelt_session"_s;
        session.cookieValue = QString::fromLatin1(service.signIn());
        if (cookie)
            *cookie = session.cookieValue.toLatin1();
        keychain->store(session.fingerprint(), session.toJson());
        return std::make_shared<ServiceEnvironment>(
            ServiceOrigin{origin, ServiceOrigin::Source::Development},
            std::make_shared<SharedSessionStore>(std::move(keychain)),
            service.ssl().caCertificates());
    }

    static std::pair<int, QString>
    run(const std::shared_ptr<ServiceEnvironment> &environment, const QStringList &items,
        HeadlessShare::Options options, PasskeyStepUp::PromptProvider prompt = {},
        std::function<void(ShareComposeModel &)> destinationsLoaded = {})
    {
        QString output;
        QTextStream errors(&output);
        const auto context = ExtensionContext::fromCommandLine(items, nullptr, QDir::currentPath());
        ShareComposeModel model(environment, ShareComposeModel::intakeLoader(context.get()));
        model.setPromptProvider(std::move(prompt));
        if (destinationsLoaded) {
            QObject::connect(&model, &ShareComposeModel::destinationsLoadedChanged, &model,
                             [&model, destinationsLoaded] { destinationsLoaded(model); });
        }
        HeadlessShare share(model, options, errors);
        QSignalSpy finished(&share, &HeadlessShare::finished);
        if (!finished.wait(30000))
            return {-1, output};
        return {finished.first().first().toInt(), output};
    }
};

QTEST_MAIN(TestHeadlessShare)
#include "tst_headlessshare.moc"
