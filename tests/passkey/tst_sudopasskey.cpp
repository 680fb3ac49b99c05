#include "ServiceFixture.h"
#include "TaskResult.h"
#include "passkey/SecurityKeyPasskeyPrompt.h"
#include "passkey/SudoPasskey.h"
#include "service/ServiceError.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QJsonObject parse(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

const QByteArray validOptions =
    R"({"passkeyAttemptID":"att-1","challenge":"AQID","rpID":"zelt.app","allowCredentialIDs":["AQID","!!","AQI"],"userVerification":"preferred","extra":1})";

} // namespace

class TestSudoPasskey : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void base64URLDecoding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes"); // null: no value

        QTest::newRow("AQID") << u"AQID"_s << "\x01\x02\x03"_ba;
        QTest::newRow("unpadded") << u"AQI"_s << "\x01\x02"_ba;
        QTest::newRow("padded") << u"AQI="_s << "\x01\x02"_ba;
        QTest::newRow("url alphabet") << u"-_8"_s << "\xfb\xff"_ba;
        QTest::newRow("standard alphabet") << u"+/8="_s << "\xfb\xff"_ba;
        QTest::newRow("empty") << QString() << ""_ba;
        QTest::newRow("one character") << u"A"_s << QByteArray();
        QTest::newRow("outside the alphabet") << u"AQ*D"_s << QByteArray();
        QTest::newRow("whitespace") << u"AQ ID"_s << QByteArray();
        QTest::newRow("line break") << u"AQID\n"_s << QByteArray();
        QTest::newRow("padding inside") << u"AQ=D"_s << QByteArray();
        QTest::newRow("too much padding") << u"AQ==="_s << QByteArray();
        QTest::newRow("non-ASCII") << u"AQIé"_s << QByteArray();
    }

    void base64URLDecoding()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const auto decoded = SudoPasskey::base64URLDecode(text);
        QCOMPARE(decoded.has_value(), !bytes.isNull());
        if (decoded)
            QCOMPARE(*decoded, bytes);
    }

    void base64URLEncoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("FB FF") << "\xfb\xff"_ba << u"-_8"_s;
        QTest::newRow("FB FF BF") << "\xfb\xff\xbf"_ba << u"-_-_"_s;
        QTest::newRow("one byte") << "\x01"_ba << u"AQ"_s;
        QTest::newRow("empty") << QByteArray("") << QString();
    }

    void base64URLEncoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(SudoPasskey::base64URLEncode(bytes), text);
        QCOMPARE(SudoPasskey::base64URLDecode(text), std::optional(bytes));
    }

    void optionsDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        QTest::newRow("complete") << validOptions << true;
        QTest::newRow("empty allow list")
            << R"({"passkeyAttemptID":"a","challenge":"AQID","rpID":"r","allowCredentialIDs":[],"userVerification":"required"})"_ba
            << true;
        QTest::newRow("missing rpID")
            << R"({"passkeyAttemptID":"a","challenge":"AQID","allowCredentialIDs":[],"userVerification":"required"})"_ba
            << false;
        QTest::newRow("challenge not a string")
            << R"({"passkeyAttemptID":"a","challenge":[1],"rpID":"r","allowCredentialIDs":[],"userVerification":"required"})"_ba
            << false;
        QTest::newRow("credential ID not a string")
            << R"({"passkeyAttemptID":"a","challenge":"AQID","rpID":"r","allowCredentialIDs":[7],"userVerification":"required"})"_ba
            << false;
    }

    void optionsDecoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        QCOMPARE(SudoPasskey::Options::fromJson(parse(json)).has_value(), valid);
    }

    void assertionParameters()
    {
        const auto options = *SudoPasskey::Options::fromJson(parse(validOptions));
        const auto parameters = SudoPasskey::assertionParameters(options);
        QCOMPARE(parameters.relyingPartyIdentifier, u"zelt.app"_s);
        QCOMPARE(parameters.challenge, "\x01\x02\x03"_ba);
        // Undecodable IDs are dropped; the others keep their order.
        QCOMPARE(parameters.allowedCredentialIDs, (QList<QByteArray>{"\x01\x02\x03", "\x01\x02"}));
        QCOMPARE(parameters.userVerification, u"preferred"_s);

        auto broken = options;
        broken.challenge = u"A"_s;
        try {
            SudoPasskey::assertionParameters(broken);
            QFAIL("an undecodable challenge was accepted");
        } catch (const SudoPasskey::CeremonyError &error) {
            QCOMPARE(error.kind(), SudoPasskey::CeremonyError::Kind::invalidOptions);
            QCOMPARE(error.errorDescription(), u"Zelt did not return a valid response."_s);
        }
        QCOMPARE(SudoPasskey::CeremonyError(SudoPasskey::CeremonyError::Kind::canceled)
                     .errorDescription(),
                 u"Passkey authentication was canceled."_s);
    }

    void completion_data()
    {
        QTest::addColumn<bool>("withUserHandle");
        QTest::addColumn<bool>("isPlatform");
        QTest::newRow("security key without user handle") << false << false;
        QTest::newRow("platform with user handle") << true << true;
    }

    void completion()
    {
        QFETCH(bool, withUserHandle);
        QFETCH(bool, isPlatform);
        SudoPasskey::Credential credential{"\xfb\xff",     "{\"type\":\"webauthn.get\"}",
                                           "\x01\x02\x03", "\xfb\xff\xbf",
                                           std::nullopt,   isPlatform};
        if (withUserHandle)
            credential.userHandle = "\x01"_ba;
        const auto json = SudoPasskey::completion(credential, u"att-1"_s).toJson();

        QCOMPARE(json.keys(), (QStringList{u"passkeyAttemptID"_s, u"response"_s}));
        QCOMPARE(json.value("passkeyAttemptID"_L1).toString(), u"att-1"_s);
        const auto response = json.value("response"_L1).toObject();
        QCOMPARE(response.value("id"_L1).toString(), u"-_8"_s);
        QCOMPARE(response.value("rawId"_L1).toString(), u"-_8"_s);
        QCOMPARE(response.value("type"_L1).toString(), u"public-key"_s);
        QCOMPARE(response.value("clientExtensionResults"_L1).toObject(), QJsonObject{});
        QCOMPARE(response.value("authenticatorAttachment"_L1).toString(),
                 isPlatform ? u"platform"_s : u"cross-platform"_s);
        const auto assertion = response.value("response"_L1).toObject();
        QCOMPARE(assertion.value("authenticatorData"_L1).toString(), u"AQID"_s);
        QCOMPARE(assertion.value("signature"_L1).toString(), u"-_-_"_s);
        QCOMPARE(SudoPasskey::base64URLDecode(assertion.value("clientDataJSON"_L1).toString()),
                 std::optional(credential.clientDataJSON));
        QCOMPARE(assertion.keys().size(), withUserHandle ? 4 : 3);
        if (withUserHandle)
            QCOMPARE(assertion.value("userHandle"_L1).toString(), u"AQ"_s);
    }

    // libfido2 hands the authenticator data over as a CBOR byte string.
    void authenticatorDataUnwrapping_data()
    {
        QTest::addColumn<QByteArray>("cbor");
        QTest::addColumn<QByteArray>("data");

        const QByteArray data37(37, 'a');
        const QByteArray data300(300, 'b');
        QTest::newRow("short") << QByteArray("\x43xyz", 4) << "xyz"_ba;
        QTest::newRow("one length byte") << "\x58\x25"_ba + data37 << data37;
        QTest::newRow("two length bytes") << "\x59\x01\x2c"_ba + data300 << data300;
        QTest::newRow("length too long") << QByteArray("\x44xyz", 4) << QByteArray();
        QTest::newRow("text string") << QByteArray("\x63xyz", 4) << QByteArray();
        QTest::newRow("truncated header") << "\x59\x01"_ba << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }

    void authenticatorDataUnwrapping()
    {
        QFETCH(QByteArray, cbor);
        QFETCH(QByteArray, data);
        QCOMPARE(SecurityKeyPasskeyPrompt::unwrapByteString(cbor), data);
    }

    void envelope_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("failure"); // null: success

        const QString invalid = u"Zelt did not return a valid response."_s;
        QTest::newRow("result") << R"({"ok":true,"result":{"isSudoSessionActive":false}})"_ba
                                << QString();
        QTest::newRow("error message") << R"({"ok":false,"error":{"message":"T"}})"_ba << u"T"_s;
        QTest::newRow("ok false alone") << R"({"ok":false})"_ba << invalid;
        QTest::newRow("ok true alone") << R"({"ok":true})"_ba << invalid;
        QTest::newRow("null result with error")
            << R"({"ok":true,"result":null,"error":{"message":"T"}})"_ba << u"T"_s;
        QTest::newRow("ok false with result and error")
            << R"({"ok":false,"result":{"isSudoSessionActive":true},"error":{"message":"T"}})"_ba
            << u"T"_s;
        QTest::newRow("result of the wrong shape")
            << R"({"ok":true,"result":{"active":true}})"_ba << invalid;
        QTest::newRow("wrong-shaped result beside an error")
            << R"({"ok":false,"result":{"active":true},"error":{"message":"T"}})"_ba << invalid;
        QTest::newRow("ok as a string")
            << R"({"ok":"true","result":{"isSudoSessionActive":true}})"_ba << invalid;
        QTest::newRow("error without message")
            << R"({"ok":false,"error":{"code":"x"}})"_ba << invalid;
        QTest::newRow("not JSON") << "<html></html>"_ba << invalid;
    }

    void envelope()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, failure);
        ServiceFixture fixture;
        fixture.server().enqueue(ScriptedResponse::json(200, answer));
        SudoPasskey::Completion completion;
        completion.passkeyAttemptID = u"att-1"_s;
        const auto result = TaskResult<SudoSessionResult>::wait(
            SudoPasskey::completeSudoPasskeyAuthentication(fixture.holder(), completion));
        if (failure.isNull()) {
            QVERIFY(result.value);
            QCOMPARE(result.value->isSudoSessionActive, false);
        } else {
            QVERIFY(!result.value);
            QCOMPARE(userFacingMessage(result.error), failure);
        }
        const auto &request = fixture.server().requests().first();
        QCOMPARE(request.target, "/api/internal/app"_ba);
        QCOMPARE(parse(request.body).value("method"_L1).toString(),
                 u"completeSudoPasskeyAuthentication"_s);
    }

    void beginCall()
    {
        ServiceFixture fixture;
        fixture.server().enqueue(
            ScriptedResponse::json(200, R"({"ok":true,"result":)" + validOptions + "}"));
        const auto result = TaskResult<SudoPasskey::Options>::wait(
            SudoPasskey::beginSudoPasskeyAuthentication(fixture.holder()));
        QVERIFY2(result.value, qPrintable(userFacingMessage(result.error)));
        QCOMPARE(result.value->passkeyAttemptID, u"att-1"_s);

        const auto &request = fixture.server().requests().first();
        QCOMPARE(request.method, "POST"_ba);
        QCOMPARE(request.body, R"({"method":"beginSudoPasskeyAuthentication","params":{}})"_ba);
        QCOMPARE(request.header("Content-Type"), "application/json"_ba);
        QCOMPARE(request.header("Accept"), "application/json"_ba);
        QCOMPARE(request.header("Cookie"), "sid=abc"_ba);
    }

    void withoutSessionNothingIsSent()
    {
        ServiceFixture fixture;
        fixture.holder()->setSharedSession(std::nullopt);
        const auto result = TaskResult<SudoPasskey::Options>::wait(
            SudoPasskey::beginSudoPasskeyAuthentication(fixture.holder()));
        QCOMPARE(userFacingMessage(result.error), u"Open Zelt and sign in first."_s);
        QVERIFY(fixture.server().requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSudoPasskey)
#include "tst_sudopasskey.moc"
