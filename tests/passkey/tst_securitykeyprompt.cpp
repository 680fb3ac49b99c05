// The step-up through the security-key prompt and the real libfido2, against software CTAP2 keys
// over CTAPHID, with the assertion verified by the development service.

#include "Base64Url.h"
#include "DevServiceFixture.h"
#include "SharedStateSignalCounter.h"
#include "SoftwareSecurityKeys.h"
#include "TaskResult.h"
#include "passkey/PasskeyStepUp.h"
#include "passkey/SecurityKeyPasskeyPrompt.h"
#include "passkey/SheetSecurityKeyPresenter.h"
#include "service/AppIdentifiers.h"
#include "service/FileSessionKeychain.h"
#include "service/ServiceError.h"
#include "service/SessionHolder.h"
#include "service/SharedSessionStore.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// When the key is there: before the step-up, once the prompt asks for it, or never (the user
// cancels instead).
enum class Arrival { Before, WhenAsked, Never };

// What happens once the key waits: for the touch, or for ever when it is silent.
enum class AtTouch { Touch, Cancel, Unplug };

struct Scenario
{
    Scenario() = default;
    Scenario(SoftwareCtapDevice::Settings onKey, QString serviceAsks = QStringLiteral("preferred"),
             QList<std::optional<QString>> answers = {}, AtTouch whenTouch = AtTouch::Touch,
             bool isRegistered = true, bool withSecondKey = false,
             Arrival keyArrives = Arrival::Before)
        : key(std::move(onKey))
        , userVerification(std::move(serviceAsks))
        , typed(std::move(answers))
        , atTouch(whenTouch)
        , registered(isRegistered)
        , secondKey(withSecondKey)
        , arrival(keyArrives)
    {}

    SoftwareCtapDevice::Settings key;
    // The service's userVerification.
    QString userVerification;
    // What the user answers each PIN request with, in order; none: Cancel.
    QList<std::optional<QString>> typed;
    AtTouch atTouch = AtTouch::Touch;
    // The key's credential is one of the account's; when not, the account has another passkey.
    bool registered = true;
    // A second key, registered too, plugged in after the first.
    bool secondKey = false;
    Arrival arrival = Arrival::Before;
};

QCoro::Task<bool> finished(QCoro::Task<> task)
{
    co_await std::move(task);
    co_return true;
}

SoftwareCtapDevice::Settings key(int pinProtocol, std::optional<QByteArray> pin = std::nullopt,
                                 int retries = 8)
{
    SoftwareCtapDevice::Settings settings;
    settings.pinProtocol = pinProtocol;
    settings.pin = std::move(pin);
    settings.pinRetries = retries;
    return settings;
}

SoftwareCtapDevice::Settings answering(SoftwareCtapDevice::Answer answer)
{
    auto settings = key(0);
    settings.answer = answer;
    return settings;
}

void registerKey(DevServiceFixture &service, const QByteArray &cookie,
                 const SoftwareCtapDevice &device)
{
    const auto reply = service.call("POST", u"/api/dev/passkeys"_s, cookie,
                                    {{u"credentialID"_s, Base64Url::encode(device.credentialId())},
                                     {u"publicKey"_s, Base64Url::encode(device.publicKey())},
                                     {u"algorithm"_s, -7}});
    if (reply.status != 200)
        qFatal("the service did not register the key: %s", reply.body.constData());
}

// The session the main application would have left for the service's user.
std::unique_ptr<SessionHolder> signedIn(DevServiceFixture &service, const QByteArray &cookie,
                                        const QString &directory)
{
    auto keychain = std::make_unique<FileSessionKeychain>(directory, u"app.zelt.test"_s);
    NativeSharedSession session;
    session.baseOrigin = service.origin();
    session.cookieName = u"zelt_session"_s;
    session.cookieValue = QString::fromLatin1(cookie);
    keychain->store(session.fingerprint(), session.toJson());
    auto environment = std::make_shared<ServiceEnvironment>(
        ServiceOrigin{QUrl(service.origin()), ServiceOrigin::Source::Development},
        std::make_shared<SharedSessionStore>(std::move(keychain)), service.ssl().caCertificates());
    return std::make_unique<SessionHolder>(environment, session);
}

} // namespace

Q_DECLARE_METATYPE(Scenario)

class TestSecurityKeyPrompt : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Every row ends as the step-up ends: the service opened a sudo session, the user canceled
    // ("Authenticate with your passkey to send this.", nothing handed off), or the step went to
    // the main application (its message, the timestamp, one notification) with the reason in the
    // log.
    void stepUp_data()
    {
        QTest::addColumn<Scenario>("scenario");
        QTest::addColumn<QString>("failure"); // null: the sudo session is open
        QTest::addColumn<QString>("reason");  // the hand-off's log text
        QTest::addColumn<QStringList>("pinRequests");

        using Answer = SoftwareCtapDevice::Answer;
        const QString handOff = PasskeyStepUp::handOffMessage();
        const QString canceled = u"Authenticate with your passkey to send this."_s;
        const QString notRegistered = u"This security key is not registered with Zelt."_s;
        const QString blocked = u"The security key's PIN is blocked."_s;
        const QString wrong = u" after a wrong PIN"_s;
        const QString required = u"required"_s;

        QTest::newRow("no PIN") << Scenario{key(0)} << QString() << QString() << QStringList();
        QTest::newRow("a PIN the service does not ask for")
            << Scenario{key(2, "1234"), u"discouraged"_s} << QString() << QString()
            << QStringList();
        QTest::newRow("a PIN on the key is used when preferred")
            << Scenario{key(2, "1234"), u"preferred"_s, {u"1234"_s}} << QString() << QString()
            << QStringList{u"8"_s};
        QTest::newRow("PIN required, protocol two")
            << Scenario{key(2, "1234"), required, {u"1234"_s}} << QString() << QString()
            << QStringList{u"8"_s};
        QTest::newRow("PIN required, protocol one")
            << Scenario{key(1, "1234"), required, {u"1234"_s}} << QString() << QString()
            << QStringList{u"8"_s};
        QTest::newRow("PIN required, the key has none")
            << Scenario{key(2), required} << handOff
            << u"This security key has no PIN to verify you with."_s << QStringList();
        QTest::newRow("a wrong PIN, then the right one")
            << Scenario{key(2, "1234"), required, {u"0000"_s, u"1234"_s}} << QString() << QString()
            << QStringList{u"8"_s, u"7"_s + wrong};
        QTest::newRow("three wrong PINs")
            << Scenario{key(2, "1234"), required, {u"0000"_s, u"1111"_s, u"2222"_s}} << handOff
            << u"The security key refused too many PINs. Remove it and insert it again."_s
            << QStringList{u"8"_s, u"7"_s + wrong, u"6"_s + wrong};
        QTest::newRow("the last try wrong") << Scenario{key(1, "1234", 1), required, {u"0000"_s}}
                                            << handOff << blocked << QStringList{u"1"_s};
        QTest::newRow("PIN blocked before the step-up")
            << Scenario{key(2, "1234", 0), required} << handOff << blocked << QStringList();
        QTest::newRow("Cancel at the PIN") << Scenario{key(2, "1234"), required, {std::nullopt}}
                                           << canceled << QString() << QStringList{u"8"_s};
        QTest::newRow("not registered")
            << Scenario{key(0), u"preferred"_s, {}, AtTouch::Touch, false} << handOff
            << notRegistered << QStringList();
        QTest::newRow("Cancel while waiting for the touch")
            << Scenario{key(0), u"preferred"_s, {}, AtTouch::Cancel} << canceled << QString()
            << QStringList();
        QTest::newRow("Cancel while the key says nothing")
            << Scenario{answering(Answer::Silent), u"preferred"_s, {}, AtTouch::Cancel} << canceled
            << QString() << QStringList();
        QTest::newRow("Cancel while the key does not answer being opened")
            << Scenario{answering(Answer::SilentFromTheStart), u"preferred"_s, {}, AtTouch::Cancel}
            << canceled << QString() << QStringList();
        QTest::newRow("removed while waiting for the touch")
            << Scenario{key(0), u"preferred"_s, {}, AtTouch::Unplug} << handOff
            << u"The security key failed: FIDO_ERR_RX"_s << QStringList();
        QTest::newRow("the key plugged in once asked for")
            << Scenario{key(2, "1234"), required, {u"1234"_s},       AtTouch::Touch,
                        true,           false,    Arrival::WhenAsked}
            << QString() << QString() << QStringList{u"8"_s};
        QTest::newRow("Cancel while waiting for a key")
            << Scenario{key(0), u"preferred"_s, {}, AtTouch::Touch, true, false, Arrival::Never}
            << canceled << QString() << QStringList();
        QTest::newRow("two keys: the first is used")
            << Scenario{key(0), u"preferred"_s, {}, AtTouch::Touch, true, true} << QString()
            << QString() << QStringList();
        QTest::newRow("two keys: only the second is registered")
            << Scenario{key(0), u"preferred"_s, {}, AtTouch::Touch, false, true} << handOff
            << notRegistered << QStringList();
        QTest::newRow("an answer that is not CBOR")
            << Scenario{answering(Answer::NotCbor)} << handOff
            << u"The security key failed: FIDO_ERR_RX_NOT_CBOR"_s << QStringList();
        QTest::newRow("authenticator data cut short")
            << Scenario{answering(Answer::TruncatedAuthenticatorData)} << handOff
            << u"The security key failed: FIDO_ERR_RX_INVALID_CBOR"_s << QStringList();
        QTest::newRow("frames out of sequence")
            << Scenario{answering(Answer::FramesOutOfSequence)} << handOff
            << u"The security key failed: FIDO_ERR_RX"_s << QStringList();
        QTest::newRow("a signature that does not verify")
            << Scenario{answering(Answer::BadSignature)} << handOff
            << u"The passkey could not be verified."_s << QStringList();
    }

    void stepUp()
    {
        QFETCH(Scenario, scenario);
        QFETCH(QString, failure);
        QFETCH(QString, reason);
        QFETCH(QStringList, pinRequests);

        DevServiceOptions options;
        options.requirePasskey = true;
        options.userVerification = scenario.userVerification;
        DevServiceFixture service(options);
        const QByteArray cookie = service.signIn();
        const QByteArray userHandle = service.userHandle(cookie);

        if (scenario.atTouch != AtTouch::Touch)
            scenario.key.touch = SoftwareCtapDevice::Touch::WhenTouched;
        const auto first =
            std::make_shared<SoftwareCtapDevice>(u"localhost"_s, userHandle, scenario.key);
        if (scenario.registered)
            registerKey(service, cookie, *first);
        else
            service.registerAuthenticator(cookie);
        const auto keys = std::make_shared<SoftwareSecurityKeys>();
        if (scenario.arrival == Arrival::Before)
            keys->plugIn(first);
        std::shared_ptr<SoftwareCtapDevice> second;
        if (scenario.secondKey) {
            second = std::make_shared<SoftwareCtapDevice>(u"localhost"_s, userHandle, key(0));
            registerKey(service, cookie, *second);
            keys->plugIn(second);
        }

        QTemporaryDir work;
        const auto holder = signedIn(service, cookie, work.path());
        const QString suite = work.filePath(u"suite.ini"_s);
        holder->environment()->setSharedDefaultsFile(suite);
        SharedStateSignalCounter notifications;
        QVERIFY2(notifications.isListening(), "needs the session bus (run through ctest)");
        const int before = notifications.count();

        // The sheet's overlay, answered as the user would.
        SheetSecurityKeyPresenter presenter;
        QStringList asked;
        bool requested = false;
        bool askedForKey = false;
        auto typed = scenario.typed;
        connect(&presenter, &SheetSecurityKeyPresenter::changed, &presenter, [&] {
            if (presenter.isActive() && presenter.step() == u"insertKey"_s && !askedForKey) {
                askedForKey = true;
                if (scenario.arrival == Arrival::WhenAsked)
                    keys->plugIn(first);
                else if (scenario.arrival == Arrival::Never)
                    QMetaObject::invokeMethod(&presenter, &SheetSecurityKeyPresenter::cancel,
                                              Qt::QueuedConnection);
            }
            if (presenter.isPinRequested() == requested)
                return;
            requested = presenter.isPinRequested();
            if (!requested)
                return;
            asked.append(QString::number(presenter.retriesLeft()) +
                         (presenter.wrongPin() ? u" after a wrong PIN"_s : QString()));
            const auto answer = typed.isEmpty() ? std::nullopt : typed.takeFirst();
            QMetaObject::invokeMethod(
                &presenter,
                [&presenter, answer] {
                    if (answer)
                        presenter.submitPin(*answer);
                    else
                        presenter.cancel();
                },
                Qt::QueuedConnection);
        });
        SoftwareCtapDevice *device = first.get();
        if (scenario.atTouch == AtTouch::Cancel)
            device->setWaiting([&presenter] {
                QMetaObject::invokeMethod(&presenter, &SheetSecurityKeyPresenter::cancel,
                                          Qt::QueuedConnection);
            });
        else if (scenario.atTouch == AtTouch::Unplug)
            device->setWaiting([device] { device->unplug(); });

        if (!reason.isNull())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(u"passkey ceremony failed: "_s + reason));
        const double start = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        const auto result = TaskResult<bool>::wait(
            finished(PasskeyStepUp::authenticateWithPasskey(holder.get(), [&presenter, keys] {
                return std::make_unique<SecurityKeyPasskeyPrompt>(&presenter, keys);
            })));

        // A key left waiting lets go of the thread that waits for it.
        first->unplug();
        if (second)
            second->unplug();

        QCOMPARE(result.value.has_value(), failure.isNull());
        if (!failure.isNull())
            QCOMPARE(userFacingMessage(result.error), failure);
        QCOMPARE(asked, pinRequests);
        QVERIFY(askedForKey);
        QVERIFY(!presenter.isActive());
        // The service's own word on the sudo session.
        const auto destinations =
            service.call("GET", u"/api/tovi/native-share/destinations"_s, cookie);
        QCOMPARE(destinations.json.value("passkeyRequired"_L1).toBool(), !failure.isNull());
        // Only the first key is ever opened.
        if (second)
            QVERIFY(second->commands().isEmpty());

        const bool handedOff = failure == PasskeyStepUp::handOffMessage();
        QSettings defaults(suite, QSettings::IniFormat);
        const auto stamp = defaults.value(AppIdentifiers::passkeyRequestedAtKey);
        QCOMPARE(stamp.isValid(), handedOff);
        if (handedOff)
            QVERIFY(stamp.toDouble() >= start - 1 && stamp.toDouble() <= start + 60);
        QCOMPARE(notifications.count() - before, handedOff ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestSecurityKeyPrompt)
#include "tst_securitykeyprompt.moc"
