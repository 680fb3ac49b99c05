#include "ScriptedPasskeyPrompt.h"
#include "ServiceFixture.h"
#include "ShareComposeModel.h"
#include "host/ItemProvider.h"
#include "service/UserDefaults.h"

#include <QCoroTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QJsonObject json(const QByteArray &bytes)
{
    return QJsonDocument::fromJson(bytes).object();
}

// What a share request delivers to the model: files written into its temporary directory
// and some text.
struct Items
{
    QList<std::pair<QString, qint64>> files; // name, size
    bool prepared = false;
    QString text;
};

QCoro::Task<> deliverItems(QPointer<ShareComposeModel> model, QString directory, Items items)
{
    QList<SharedFile> files;
    for (const auto &[name, size] : items.files) {
        QDir().mkpath(directory + u"/ITEM-"_s + name);
        QFile file(directory + u"/ITEM-"_s + name + u'/' + name);
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(size, 'z'));
        file.close();
        SharedFile shared;
        shared.id = QUuid::createUuid();
        shared.fileURL = QUrl::fromLocalFile(file.fileName());
        shared.filename = name;
        shared.mediaType = items.prepared ? u"image/jpeg"_s : u"application/octet-stream"_s;
        shared.sizeBytes = size;
        shared.isPreparedImage = items.prepared;
        files.append(shared);
    }
    co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    if (!model)
        co_return;
    model->setFiles(files);
    if (!items.text.isEmpty())
        model->adoptSharedText(items.text);
    model->finishLoading(!files.isEmpty() || !items.text.isEmpty(), std::nullopt);
}

const QByteArray threadT1 =
    R"({"id":"t1","title":"Renamed","color":"blue","updatedAt":"2025-03-04T05:06:07Z"})";
const QByteArray threadT2 =
    R"({"id":"t2","title":"Other","color":"pink","updatedAt":"2025-03-04T05:06:07Z"})";

QByteArray destinations(bool toviAvailable, const QList<QByteArray> &threads,
                        bool passkeyRequired = false)
{
    QByteArray body = R"({"toviAvailable":)" + QByteArray(toviAvailable ? "true" : "false") +
                      R"(,"passkeyRequired":)" + QByteArray(passkeyRequired ? "true" : "false") +
                      R"(,"threads":[)";
    for (qsizetype i = 0; i < threads.size(); ++i)
        body += (i ? "," : "") + threads[i];
    return body + "]}";
}

// A keyring that cannot be asked: locked with no unlock prompt that can appear, or no Secret
// Service to talk to.
class UnreadableKeychain final : public SessionKeychain
{
public:
    Contents contents() override { return {Contents::State::Unavailable, {}}; }
    void store(const QByteArray &, const QByteArray &) override { refuse(); }
    void replace(const QByteArray &, const QByteArray &, const QByteArray &) override { refuse(); }
    void remove(const std::optional<QByteArray> &) override {}

private:
    [[noreturn]] static void refuse()
    {
        throw KeychainError(KeychainError::Status::Failed, u"the keyring is locked"_s);
    }
};

// Generous: the suite also runs under sanitizers on a busy machine.
constexpr int slow = 30000;

} // namespace

class TestShareComposeModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        UserDefaults::standard()->remove(QLatin1StringView(ShareComposeModel::lastDestinationKey));
    }

    void freshModel()
    {
        ServiceFixture fixture;
        ShareComposeModel model(fixture.holder()->environment(), {});
        QVERIFY(model.isLoading());
        QVERIFY(model.toviAvailable());
        QVERIFY(model.destination().isTovi());
        QVERIFY(!model.signedIn()); // nothing in the keychain
        QTest::qWait(100);
        QVERIFY(!model.destinationsLoaded());
        QVERIFY(fixture.server().requests().isEmpty());
        QVERIFY(!model.isLoading());
        QVERIFY(!model.canSend());
    }

    // Signed out, but not sent to sign in again: the error line names the keyring.
    void unreadableKeyring()
    {
        ServiceFixture fixture;
        auto environment = std::make_shared<ServiceEnvironment>(
            ServiceOrigin{fixture.server().origin(), ServiceOrigin::Source::Development},
            std::make_shared<SharedSessionStore>(std::make_unique<UnreadableKeychain>()),
            QList<QSslCertificate>{ServiceFixture::certificates().authority});
        ShareComposeModel model(environment, loader({{{u"notes.txt"_s, 14}}, false, {}}));
        QVERIFY(!model.signedIn());
        QVERIFY(model.keyringUnavailable());
        QTRY_VERIFY_WITH_TIMEOUT(!model.isLoading(), slow);
        QVERIFY(model.hasSharedItems());
        QCOMPARE(model.errorMessageText(),
                 u"The keyring is locked or unreachable. Unlock it, then share again."_s);
        QVERIFY(!model.canSend());
        QVERIFY(fixture.server().requests().isEmpty());
    }

    void reconciliation_data()
    {
        QTest::addColumn<QByteArray>("stored"); // empty: none
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("expected"); // thread id, or "tovi"
        QTest::addColumn<QString>("title");

        const QByteArray storedT1 =
            R"({"thread":{"_0":{"id":"t1","title":"Old","color":"blue","updatedAt":"2025-01-01T00:00:00Z"}}})";
        QTest::newRow("nothing stored")
            << QByteArray() << destinations(true, {threadT1}) << u"tovi"_s << QString();
        QTest::newRow("stored thread refreshed")
            << storedT1 << destinations(true, {threadT2, threadT1}) << u"t1"_s << u"Renamed"_s;
        QTest::newRow("stored thread gone")
            << storedT1 << destinations(true, {threadT2}) << u"tovi"_s << QString();
        QTest::newRow("gone and Tovi unavailable")
            << storedT1 << destinations(false, {threadT2}) << u"t2"_s << u"Other"_s;
        QTest::newRow("Tovi unavailable, no threads")
            << QByteArray() << destinations(false, {}) << u"tovi"_s << QString();
    }

    void reconciliation()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, answer);
        QFETCH(QString, expected);
        QFETCH(QString, title);
        if (!stored.isEmpty())
            UserDefaults::standard()->setValue(
                QLatin1StringView(ShareComposeModel::lastDestinationKey), stored);
        ServiceFixture fixture;
        signIn(fixture);
        fixture.server().enqueue(ScriptedResponse::json(200, answer));
        ShareComposeModel model(fixture.holder()->environment(), {});
        QTRY_VERIFY_WITH_TIMEOUT(model.destinationsLoaded(), slow);
        if (expected == u"tovi") {
            QVERIFY(model.destination().isTovi());
        } else {
            QCOMPARE(model.destination().threadID(), std::optional(expected));
            QCOMPARE(model.destination().thread()->title, title);
        }
    }

    void failedDestinationsKeepToviAvailable()
    {
        ServiceFixture fixture;
        signIn(fixture);
        fixture.server().enqueue(ScriptedResponse::json(503, R"({"message":"Down for a bit."})"));
        ShareComposeModel model(fixture.holder()->environment(), {});
        QTRY_VERIFY_WITH_TIMEOUT(model.destinationsLoaded(), slow);
        QCOMPARE(model.destinationsError(), std::optional(u"Down for a bit."_s));
        QVERIFY(model.toviAvailable());
    }

    void debouncedSearch()
    {
        ServiceFixture fixture;
        signIn(fixture);
        fixture.server().setHandler([](const RecordedRequest &request) {
            if (request.target.contains("q="))
                return ScriptedResponse::json(200, destinations(true, {threadT2}));
            return ScriptedResponse::json(200, destinations(true, {}));
        });
        ShareComposeModel model(fixture.holder()->environment(), {});
        QTRY_VERIFY_WITH_TIMEOUT(model.destinationsLoaded(), slow);
        fixture.server().clearRequests();

        model.setSearchQuery(u"a"_s);
        model.setSearchQuery(u"ab"_s);
        model.setSearchQuery(u" abc "_s);
        QVERIFY(model.isSearching());
        model.setSearchQuery(u" abc "_s); // the same text does not restart the search
        QTRY_VERIFY_WITH_TIMEOUT(!model.isSearching(), slow);
        QCOMPARE(fixture.server().requests().size(), 1);
        QCOMPARE(fixture.server().requests().first().target,
                 "/api/tovi/native-share/destinations?q=abc"_ba);
        QCOMPARE(model.searchResults()->size(), 1);

        model.setSearchQuery(u"   "_s);
        QVERIFY(!model.searchResults());
        QVERIFY(!model.isSearching());
        QTest::qWait(350);
        QCOMPARE(fixture.server().requests().size(), 1);
    }

    // A newer query abandons an older one that is already waiting for its answer.
    void staleSearchAnswerIsDropped()
    {
        ServiceFixture fixture;
        signIn(fixture);
        fixture.server().setHandler([](const RecordedRequest &request) {
            ScriptedResponse response = ScriptedResponse::json(200, destinations(true, {threadT2}));
            response.stall = request.target.contains("q=slow");
            return response;
        });
        ShareComposeModel model(fixture.holder()->environment(), {});
        QTRY_VERIFY_WITH_TIMEOUT(model.destinationsLoaded(), slow);
        model.setSearchQuery(u"slow"_s);
        QTRY_COMPARE_WITH_TIMEOUT(fixture.server().requests().size(), 2, slow);
        model.setSearchQuery(u"fast"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isSearching(), slow);
        QCOMPARE(model.searchResults()->first().id, u"t2"_s);
        QCOMPARE(fixture.server().requests().size(), 3);
    }

    void canSendRules_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<bool>("toviAvailable");
        QTest::addColumn<bool>("chooseThread");
        QTest::addColumn<bool>("canSend");

        QTest::newRow("text to Tovi") << u"hi"_s << false << true << false << true;
        QTest::newRow("only blanks") << u" \n\t"_s << false << true << false << false;
        QTest::newRow("file without text") << QString() << true << true << false << true;
        QTest::newRow("Tovi unavailable") << u"hi"_s << false << false << false << false;
        QTest::newRow("thread needs no Tovi") << u"hi"_s << false << false << true << true;
    }

    void canSendRules()
    {
        QFETCH(QString, message);
        QFETCH(bool, withFile);
        QFETCH(bool, toviAvailable);
        QFETCH(bool, chooseThread);
        QFETCH(bool, canSend);
        ServiceFixture fixture;
        signIn(fixture);
        fixture.server().enqueue(ScriptedResponse::json(200, destinations(toviAvailable, {})));
        Items items;
        if (withFile)
            items.files = {{u"a.bin"_s, 10}};
        else
            items.text = u"x"_s;
        ShareComposeModel model(fixture.holder()->environment(), loader(items));
        QTRY_VERIFY_WITH_TIMEOUT(model.destinationsLoaded() && !model.isLoading(), slow);
        model.setMessage(message);
        if (chooseThread)
            model.setDestination(*ShareDestinationThread::fromJson(json(threadT1)));
        QCOMPARE(model.canSend(), canSend);
    }

    void textOnlyShareIsInlineAndCompletes()
    {
        ServiceFixture fixture;
        signIn(fixture);
        fixture.server().enqueue(ScriptedResponse::json(200, destinations(true, {})));
        fixture.server().enqueue(ScriptedResponse::json(200, R"({"ok":true})"));
        ShareComposeModel model(fixture.holder()->environment(), loader({{}, false, u"a link"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(model.canSend(), slow);
        QCOMPARE(model.message(), u"a link"_s);
        QSignalSpy completed(&model, &ShareComposeModel::requestCompleted);
        QVERIFY(model.temporaryDirectory().contains(u"ZeltShare-"_s));

        model.send();
        QVERIFY(model.isSending());
        QTRY_VERIFY_WITH_TIMEOUT(model.sent(), slow);
        QVERIFY(!model.isSending());
        const auto body = json(fixture.server().requests().last().body);
        QCOMPARE(body.keys(), (QStringList{u"message"_s, u"shareID"_s}));
        QVERIFY(completed.isEmpty()); // "Sent" stays up for a moment
        QVERIFY(completed.wait(5000));
        QCOMPARE(ShareComposeModel::loadLastDestination(), std::optional(ShareDestination::tovi()));
    }

    void preparedImagesGoInline()
    {
        ServiceFixture fixture;
        signIn(fixture);
        fixture.server().enqueue(ScriptedResponse::json(200, destinations(true, {threadT1})));
        fixture.server().enqueue(ScriptedResponse::json(200, R"({"ok":true})"));
        ShareComposeModel model(fixture.holder()->environment(),
                                loader({{{u"a.jpg"_s, 1000}, {u"b.jpg"_s, 2000}}, true, {}}));
        QTRY_VERIFY_WITH_TIMEOUT(model.canSend(), slow);
        model.setDestination(model.recentThreads().first());
        model.send();
        QTRY_VERIFY_WITH_TIMEOUT(model.sent(), slow);
        const auto body = json(fixture.server().requests().last().body);
        QCOMPARE(body.value("images"_L1).toArray().size(), 2);
        QCOMPARE(body.value("threadID"_L1).toString(), u"t1"_s);
        QVERIFY(!model.uploadProgress());
    }

    // Files that are not all prepared images are uploaded one after another, with progress by
    // bytes over the whole share.
    void uploadsWithProgress()
    {
        ServiceFixture fixture;
        signIn(fixture);
        int prepared = 0;
        const QString storage = fixture.server().origin().toString() + u"/storage/"_s;
        fixture.server().setHandler([&prepared, storage](const RecordedRequest &request) {
            if (request.target.endsWith("/destinations"))
                return ScriptedResponse::json(200, destinations(true, {}));
            if (request.target.startsWith("/storage/"))
                return ScriptedResponse{204, {}, {}, false, false};
            const auto body = json(request.body);
            if (body.value("action"_L1).toString() == u"prepare-upload"_s)
                return ScriptedResponse::json(
                    200, QJsonDocument(
                             QJsonObject{{"uploadID"_L1, u"up-%1"_s.arg(++prepared)},
                                         {"uploadURL"_L1, storage + QString::number(prepared)}})
                             .toJson());
            return ScriptedResponse::json(200, R"({"ok":true})");
        });
        ShareComposeModel model(
            fixture.holder()->environment(),
            loader({{{u"a.bin"_s, 100}, {u"b.bin"_s, 300}, {u"c.bin"_s, 600}}, false, {}}));
        QTRY_VERIFY_WITH_TIMEOUT(model.canSend(), slow);
        QList<QVariant> progress;
        connect(&model, &ShareComposeModel::uploadProgressChanged, this,
                [&] { progress.append(model.uploadProgressValue()); });
        model.send();
        QTRY_VERIFY_WITH_TIMEOUT(model.sent(), slow);

        // Never backwards; 0.1, 0.4 and 1.0 after each file; none while submitting.
        double last = -1;
        QList<double> values;
        for (const auto &value : progress) {
            if (!value.isValid())
                continue;
            QVERIFY(value.toDouble() >= last);
            last = value.toDouble();
            values.append(last);
        }
        for (const double expected : {0.1, 0.4, 1.0})
            QVERIFY2(values.contains(expected), qPrintable(QString::number(expected)));
        QVERIFY(!progress.last().isValid());

        const auto submission = json(fixture.server().requests().last().body);
        const auto files = submission.value("files"_L1).toArray();
        QCOMPARE(files.size(), 3);
        QCOMPARE(files[0].toObject().value("uploadID"_L1).toString(), u"up-1"_s);
        QCOMPARE(files[2].toObject().value("sizeBytes"_L1).toInt(), 600);
    }

    void failedSendCanBeRetried()
    {
        ServiceFixture fixture;
        signIn(fixture);
        fixture.server().enqueue(ScriptedResponse::json(200, destinations(true, {threadT1})));
        fixture.server().enqueue(ScriptedResponse::json(500, R"({"message":"Try again later."})"));
        ShareComposeModel model(fixture.holder()->environment(), loader({{}, false, u"hi"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(model.canSend(), slow);
        model.setDestination(model.recentThreads().first());
        model.send();
        QTRY_COMPARE_WITH_TIMEOUT(model.errorMessage(), std::optional(u"Try again later."_s), slow);
        QVERIFY(!model.isSending());
        QVERIFY(!model.sent());
        QVERIFY(model.canSend());
        QCOMPARE(ShareComposeModel::loadLastDestination()->threadID(), std::optional(u"t1"_s));
    }

    // Every connection to the storage and the proxy is cut half-way through the body: the send
    // ends with the network's own error, nothing is submitted, and the files and their copies
    // stay for another try, which delivers them whole.
    void connectionResetMidUpload()
    {
        ServiceFixture fixture;
        signIn(fixture);
        const QString storage = fixture.server().origin().toString() + u"/storage/"_s;
        fixture.server().setHandler([storage](const RecordedRequest &request) {
            if (request.target.endsWith("/destinations"))
                return ScriptedResponse::json(200, destinations(true, {}));
            if (request.target.startsWith("/storage/") || request.target.endsWith("/upload-proxy"))
                return ScriptedResponse{204, {}, {}, false, false};
            if (json(request.body).value("action"_L1).toString() == u"prepare-upload"_s)
                return ScriptedResponse::json(
                    200, QJsonDocument(QJsonObject{{"uploadID"_L1, u"up"_s},
                                                   {"uploadURL"_L1, storage + u"obj"_s}})
                             .toJson());
            return ScriptedResponse::json(200, R"({"ok":true})");
        });
        const auto cutsUploads = [](const RecordedRequest &head) { return head.method == "PUT"; };
        fixture.server().setReset(cutsUploads, 64 * 1024);
        constexpr qint64 size = 2 * 1024 * 1024;
        ShareComposeModel model(fixture.holder()->environment(),
                                loader({{{u"big.bin"_s, size}}, false, {}}));
        QTRY_VERIFY_WITH_TIMEOUT(model.canSend(), slow);
        const auto copy = model.files().first().fileURL.toLocalFile();
        model.send();
        QTRY_VERIFY_WITH_TIMEOUT(!model.isSending(), slow);

        QVERIFY(!model.sent());
        QCOMPARE(model.errorMessage().value_or(QString()), u"Connection closed"_s);
        QVERIFY(!model.uploadProgress());
        QVERIFY(model.canSend());
        for (const auto &request : fixture.server().requests())
            QVERIFY2(!json(request.body).contains("files"_L1), "a submission after a failure");
        QCOMPARE(QFileInfo(copy).size(), size);

        fixture.server().setReset({}, 0);
        fixture.server().clearRequests();
        QSignalSpy completed(&model, &ShareComposeModel::requestCompleted);
        model.send();
        QTRY_VERIFY_WITH_TIMEOUT(model.sent(), slow);
        QCOMPARE(fixture.server().requests()[1].body.size(), size); // the direct upload
        QVERIFY(!model.errorMessage());
        // Only a delivered share takes its copies away.
        QTRY_COMPARE_WITH_TIMEOUT(completed.size(), 1, slow);
        QVERIFY(!QFileInfo::exists(model.temporaryDirectory()));
    }

    // The service refuses the share for lack of a sudo session; without a window for the
    // prompt the step is handed to the main application.
    void stepUpWithoutWindowHandsOff()
    {
        ServiceFixture fixture;
        signIn(fixture);
        fixture.holder()->environment()->setSharedDefaultsFile(fixture.filePath(u"suite.ini"_s));
        fixture.server().enqueue(ScriptedResponse::json(200, destinations(true, {})));
        fixture.server().enqueue(
            ScriptedResponse::json(403, R"({"message":"T","code":"SUDO_AUTH_REQUIRED"})"));
        ShareComposeModel model(fixture.holder()->environment(), loader({{}, false, u"hi"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(model.canSend(), slow);
        model.send();
        QTRY_VERIFY_WITH_TIMEOUT(!model.isSending(), slow);
        QCOMPARE(
            model.errorMessage(),
            std::optional(u"Open Zelt to authenticate with your passkey, then share again."_s));
        QCOMPARE(fixture.server().requests().size(), 2); // no begin call without a prompt
        QVERIFY(QSettings(fixture.filePath(u"suite.ini"_s), QSettings::IniFormat)
                    .contains(u"ZeltNativeSharedPasskeyRequestedAt"_s));
    }

    // The service refuses a share for lack of a sudo session: one ceremony, one more delivery,
    // never a third.
    void stepUpThenDeliverOnceMore_data()
    {
        QTest::addColumn<bool>("secondRefusal");
        QTest::addColumn<QString>("failure"); // null: delivered
        QTest::newRow("delivered after the step-up") << false << QString();
        QTest::newRow("refused again") << true << u"Authenticate with your passkey to send this."_s;
    }

    void stepUpThenDeliverOnceMore()
    {
        QFETCH(bool, secondRefusal);
        QFETCH(QString, failure);
        ServiceFixture fixture;
        signIn(fixture);
        const QByteArray sudo = R"({"message":"T","code":"SUDO_AUTH_REQUIRED"})";
        fixture.server().enqueue(ScriptedResponse::json(200, destinations(true, {})));
        fixture.server().enqueue(ScriptedResponse::json(403, sudo));
        fixture.server().enqueue(ScriptedResponse::json(
            200,
            R"({"ok":true,"result":{"passkeyAttemptID":"a","challenge":"AQID","rpID":"zelt.app","allowCredentialIDs":[],"userVerification":"preferred"}})"));
        fixture.server().enqueue(
            ScriptedResponse::json(200, R"({"ok":true,"result":{"isSudoSessionActive":true}})"));
        fixture.server().enqueue(secondRefusal ? ScriptedResponse::json(403, sudo)
                                               : ScriptedResponse::json(200, R"({"ok":true})"));
        QList<SudoPasskey::AssertionParameters> asked;
        ShareComposeModel model(fixture.holder()->environment(), loader({{}, false, u"hi"_s}));
        model.setPromptProvider([&asked] {
            return std::make_unique<ScriptedPasskeyPrompt>(ScriptedPasskeyPrompt::Outcome::Signs,
                                                           asked);
        });
        QTRY_VERIFY_WITH_TIMEOUT(model.canSend(), slow);
        model.send();
        QTRY_VERIFY_WITH_TIMEOUT(!model.isSending(), slow);
        QCOMPARE(model.sent(), failure.isNull());
        QCOMPARE(model.errorMessage().value_or(QString()), failure.isNull() ? QString() : failure);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(fixture.server().requests().size(), 5);
        // Each delivery carries a share ID of its own.
        const auto first = json(fixture.server().requests()[1].body).value("shareID"_L1);
        const auto second = json(fixture.server().requests()[4].body).value("shareID"_L1);
        QVERIFY(first != second);
    }

    // Items pasted or dropped go through the intake after what is there: the same limit in all,
    // folders refused, text into the message only while it is empty, and a failure leaves the
    // share as it was.
    void addedItems_data()
    {
        QTest::addColumn<int>("sharedFiles");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("added"); // file names; "text:…" for text, "dir:…" a folder
        QTest::addColumn<int>("files");
        QTest::addColumn<QString>("finalMessage");
        QTest::addColumn<QString>("error");
        QTest::newRow("files after files")
            << 1 << QString() << QStringList{u"b.txt"_s, u"c.txt"_s} << 3 << QString() << QString();
        QTest::newRow("up to the limit") << 8 << QString() << QStringList{u"b.txt"_s, u"c.txt"_s}
                                         << 10 << QString() << QString();
        QTest::newRow("past the limit") << 9 << QString() << QStringList{u"b.txt"_s, u"c.txt"_s}
                                        << 9 << QString() << u"Share up to 10 files at a time."_s;
        QTest::newRow("a folder")
            << 2 << QString() << QStringList{u"b.txt"_s, u"dir:folder"_s} << 2 << QString()
            << u"Folders cannot be shared with Zelt. Share the files inside instead."_s;
        QTest::newRow("text into an empty message")
            << 1 << QString() << QStringList{u"text:pasted words"_s} << 1 << u"pasted words"_s
            << QString();
        QTest::newRow("text kept out of a typed message")
            << 1 << u"typed"_s << QStringList{u"text:pasted words"_s, u"b.txt"_s} << 2 << u"typed"_s
            << QString();
        // Nothing was shared: what is added is the share, and the error line goes.
        QTest::newRow("into an empty sheet")
            << 0 << QString() << QStringList{u"b.txt"_s} << 1 << QString() << QString();
    }

    void addedItems()
    {
        QFETCH(int, sharedFiles);
        QFETCH(QString, message);
        QFETCH(QStringList, added);
        QFETCH(int, files);
        QFETCH(QString, finalMessage);
        QFETCH(QString, error);

        ServiceFixture fixture;
        signIn(fixture);
        fixture.server().setHandler([](const RecordedRequest &) {
            return ScriptedResponse::json(200, destinations(true, {}));
        });
        Items items;
        for (int i = 0; i < sharedFiles; ++i)
            items.files.append({u"shared-%1.bin"_s.arg(i), 10});
        ShareComposeModel model(fixture.holder()->environment(),
                                sharedFiles ? loader(items)
                                            : ShareComposeModel::intakeLoader(nullptr));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isLoading() && model.destinationsLoaded(), slow);
        QCOMPARE(model.hasSharedItems(), sharedFiles > 0);
        model.setMessage(message);

        QTemporaryDir sources;
        ExtensionItem item;
        for (const QString &name : added) {
            if (name.startsWith(u"text:"_s)) {
                item.attachments.append(ItemProvider::forText(name.mid(5)));
            } else if (name.startsWith(u"dir:"_s)) {
                QVERIFY(QDir(sources.path()).mkdir(name.mid(4)));
                item.attachments.append(ItemProvider::forFile(sources.filePath(name.mid(4))));
            } else {
                QFile file(sources.filePath(name));
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write("added\n");
                file.close();
                item.attachments.append(ItemProvider::forFile(file.fileName()));
            }
        }
        QVERIFY(model.addItems(item));
        QTRY_VERIFY_WITH_TIMEOUT(model.canAddItems(), slow);

        QCOMPARE(model.fileCount(), files);
        QCOMPARE(model.message(), finalMessage);
        QCOMPARE(model.errorMessageText(), error);
        QVERIFY(model.hasSharedItems() || sharedFiles == 0);
        QCOMPARE(model.canSend(), model.hasSharedItems());
        for (int i = 0; i < qMin(sharedFiles, files); ++i)
            QCOMPARE(model.files().at(i).filename, u"shared-%1.bin"_s.arg(i));
        for (const auto &file : model.files())
            QVERIFY2(file.fileURL.toLocalFile().startsWith(model.temporaryDirectory()),
                     qPrintable(file.fileURL.toLocalFile()));
    }

    // Nothing is added while sending, or once sent.
    void noItemsAddedWhileSending()
    {
        ServiceFixture fixture;
        signIn(fixture);
        fixture.server().enqueue(ScriptedResponse::json(200, destinations(true, {})));
        // The answer to the share comes slowly, so that the test sees it sending.
        auto answer = ScriptedResponse::json(200, R"({"ok":true})");
        answer.trickle = std::chrono::milliseconds(100);
        fixture.server().enqueue(answer);
        ShareComposeModel model(fixture.holder()->environment(), loader({{}, false, u"text"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(model.canSend(), slow);
        model.send();
        QVERIFY(model.isSending());
        QVERIFY(!model.canAddItems());
        QVERIFY(!model.addItems({{}, {ItemProvider::forText(u"more"_s)}}));
        QTRY_VERIFY_WITH_TIMEOUT(model.sent(), slow);
        QVERIFY(!model.addItems({{}, {ItemProvider::forText(u"more"_s)}}));
        QCOMPARE(model.message(), u"text"_s);
    }

    void cancelCompletesAtOnce()
    {
        ServiceFixture fixture;
        ShareComposeModel model(fixture.holder()->environment(),
                                loader({{{u"a.bin"_s, 10}}, false, {}}));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isLoading(), slow);
        QVERIFY(QFileInfo::exists(model.temporaryDirectory()));
        QSignalSpy completed(&model, &ShareComposeModel::requestCompleted);
        model.cancel();
        QCOMPARE(completed.size(), 1);
        QVERIFY(!QFileInfo::exists(model.temporaryDirectory()));
    }

private:
    static void signIn(ServiceFixture &fixture)
    {
        auto session = ServiceFixture::session();
        session.baseOrigin = fixture.server().origin().toString();
        fixture.keychain().store(session.fingerprint(), session.toJson());
    }

    static ShareComposeModel::ItemLoader loader(Items items)
    {
        return [items](QPointer<ShareComposeModel> model, QString directory) {
            return deliverItems(model, directory, items);
        };
    }
};

QTEST_MAIN(TestShareComposeModel)
#include "tst_sharecomposemodel.moc"
