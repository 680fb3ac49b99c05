#include "ScriptedPasskeyPrompt.h"
#include "ServiceFixture.h"
#include "SharedStateSignalCounter.h"
#include "TaskResult.h"
#include "passkey/PasskeyStepUp.h"
#include "service/AppIdentifiers.h"
#include "service/ServiceError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray options =
    R"({"ok":true,"result":{"passkeyAttemptID":"att-7","challenge":"AQID","rpID":"zelt.app","allowCredentialIDs":[],"userVerification":"preferred"}})";

// Outside the test class: moc mis-scans raw strings holding "//" there.
const QByteArray expectedClientData =
    R"({"type":"webauthn.get","challenge":"AQID","origin":"https://zelt.app","crossOrigin":false})";

QCoro::Task<bool> finished(QCoro::Task<> task)
{
    co_await std::move(task);
    co_return true;
}

} // namespace

Q_DECLARE_METATYPE(ScriptedPasskeyPrompt::Outcome)

class TestPasskeyStepUp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void flows_data()
    {
        QTest::addColumn<bool>("hasWindow");
        QTest::addColumn<ScriptedPasskeyPrompt::Outcome>("outcome");
        QTest::addColumn<QList<QByteArray>>("answers"); // begin, complete
        QTest::addColumn<int>("serviceCalls");
        QTest::addColumn<QString>("failure"); // null: success
        QTest::addColumn<bool>("handedOff");

        const QString handOff = u"Open Zelt to authenticate with your passkey, then share again."_s;
        const QByteArray active = R"({"ok":true,"result":{"isSudoSessionActive":true}})";
        const QByteArray inactive = R"({"ok":true,"result":{"isSudoSessionActive":false}})";
        QTest::newRow("signed") << true << ScriptedPasskeyPrompt::Outcome::Signs
                                << QList<QByteArray>{options, active} << 2 << QString() << false;
        QTest::newRow("inactive result still counts")
            << true << ScriptedPasskeyPrompt::Outcome::Signs << QList<QByteArray>{options, inactive}
            << 2 << QString() << false;
        QTest::newRow("canceled") << true << ScriptedPasskeyPrompt::Outcome::Cancels
                                  << QList<QByteArray>{options} << 1
                                  << u"Authenticate with your passkey to send this."_s << false;
        QTest::newRow("no window") << false << ScriptedPasskeyPrompt::Outcome::Signs
                                   << QList<QByteArray>{} << 0 << handOff << true;
        QTest::newRow("begin refused")
            << true << ScriptedPasskeyPrompt::Outcome::Signs
            << QList<QByteArray>{R"({"message":"nope"})"} << 1 << handOff << true;
        QTest::newRow("undecodable challenge")
            << true << ScriptedPasskeyPrompt::Outcome::Signs
            << QList<QByteArray>{QByteArray(options).replace("AQID", "A")} << 1 << handOff << true;
        QTest::newRow("prompt error") << true << ScriptedPasskeyPrompt::Outcome::Fails
                                      << QList<QByteArray>{options} << 1 << handOff << true;
        QTest::newRow("complete refused")
            << true << ScriptedPasskeyPrompt::Outcome::Signs
            << QList<QByteArray>{options, R"({"ok":false,"error":{"message":"bad signature"}})"}
            << 2 << handOff << true;
    }

    void flows()
    {
        QFETCH(bool, hasWindow);
        QFETCH(ScriptedPasskeyPrompt::Outcome, outcome);
        QFETCH(QList<QByteArray>, answers);
        QFETCH(int, serviceCalls);
        QFETCH(QString, failure);
        QFETCH(bool, handedOff);

        ServiceFixture fixture;
        const QString suite = fixture.filePath(u"suite.ini"_s);
        fixture.holder()->environment()->setSharedDefaultsFile(suite);
        for (const auto &answer : answers)
            fixture.server().enqueue(
                ScriptedResponse::json(answer.startsWith("{\"ok\"") ? 200 : 500, answer));
        SharedStateSignalCounter notifications;
        QVERIFY2(notifications.isListening(), "needs the session bus (run through ctest)");
        const int before = notifications.count();

        QList<SudoPasskey::AssertionParameters> asked;
        PasskeyStepUp::PromptProvider provider;
        if (hasWindow)
            provider = [&asked, outcome] {
                return std::make_unique<ScriptedPasskeyPrompt>(outcome, asked);
            };
        const double start = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        const auto result = TaskResult<bool>::wait(
            finished(PasskeyStepUp::authenticateWithPasskey(fixture.holder(), provider)));

        QCOMPARE(result.value.has_value(), failure.isNull());
        if (!failure.isNull())
            QCOMPARE(userFacingMessage(result.error), failure);

        const auto &requests = fixture.server().requests();
        QCOMPARE(requests.size(), serviceCalls);
        const QStringList methods{u"beginSudoPasskeyAuthentication"_s,
                                  u"completeSudoPasskeyAuthentication"_s};
        for (int i = 0; i < requests.size(); ++i)
            QCOMPARE(
                QJsonDocument::fromJson(requests[i].body).object().value("method"_L1).toString(),
                methods[i]);

        QSettings defaults(suite, QSettings::IniFormat);
        const auto stamp = defaults.value(AppIdentifiers::passkeyRequestedAtKey);
        QCOMPARE(stamp.isValid(), handedOff);
        if (handedOff)
            QVERIFY(stamp.toDouble() >= start - 1 && stamp.toDouble() <= start + 60);
        QCOMPARE(notifications.count() - before, handedOff ? 1 : 0);
    }

    void completionCarriesTheAssertion()
    {
        ServiceFixture fixture;
        fixture.server().enqueue(ScriptedResponse::json(200, options));
        fixture.server().enqueue(
            ScriptedResponse::json(200, R"({"ok":true,"result":{"isSudoSessionActive":true}})"));
        QList<SudoPasskey::AssertionParameters> asked;
        const auto result = TaskResult<bool>::wait(
            finished(PasskeyStepUp::authenticateWithPasskey(fixture.holder(), [&asked] {
                return std::make_unique<ScriptedPasskeyPrompt>(
                    ScriptedPasskeyPrompt::Outcome::Signs, asked);
            })));
        QVERIFY(result.value);

        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].relyingPartyIdentifier, u"zelt.app"_s);
        QCOMPARE(asked[0].challenge, "\x01\x02\x03"_ba);
        QVERIFY(asked[0].allowedCredentialIDs.isEmpty());
        QCOMPARE(asked[0].userVerification, u"preferred"_s);

        const auto params = QJsonDocument::fromJson(fixture.server().requests()[1].body)
                                .object()
                                .value("params"_L1)
                                .toObject();
        QCOMPARE(params.value("passkeyAttemptID"_L1).toString(), u"att-7"_s);
        const auto credential = params.value("response"_L1).toObject();
        QCOMPARE(credential.value("authenticatorAttachment"_L1).toString(), u"cross-platform"_s);
        const auto clientData = SudoPasskey::base64URLDecode(
            credential.value("response"_L1).toObject().value("clientDataJSON"_L1).toString());
        QCOMPARE(*clientData, expectedClientData);
    }
};

QTEST_GUILESS_MAIN(TestPasskeyStepUp)
#include "tst_passkeystepup.moc"
