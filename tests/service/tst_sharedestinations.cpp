#include "ServiceFixture.h"
#include "TaskResult.h"
#include "service/ServiceError.h"
#include "service/ShareDestinations.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

QByteArray threadJson(const QByteArray &updatedAt)
{
    return R"({"id":"t1","title":"Fix the build","color":"blue","updatedAt":)" + updatedAt + "}";
}

const QByteArray avatar =
    R"({"id":"spring","imageURL":"https://127.0.0.1/tovi/avatars/spring/image?v=3","face":{"width":498,"height":602,"leftEye":{"x":1,"y":2,"r":3},"rightEye":{"x":4,"y":5,"r":6},"mouth":{"x":7,"y":8,"halfWidth":9},"skinColor":"#505238","scleraColor":"#e3dec7"}})";

} // namespace

class TestShareDestinations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dates_data()
    {
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<QDateTime>("expected"); // invalid: rejected

        const QDateTime base(QDate(2025, 3, 4), QTime(5, 6, 7), Qt::UTC);
        QTest::newRow("fractional")
            << QJsonValue(u"2025-03-04T05:06:07.890Z"_s) << base.addMSecs(890);
        QTest::newRow("whole seconds") << QJsonValue(u"2025-03-04T05:06:07Z"_s) << base;
        QTest::newRow("one fractional digit")
            << QJsonValue(u"2025-03-04T05:06:07.5Z"_s) << base.addMSecs(500);
        QTest::newRow("offset") << QJsonValue(u"2025-03-04T07:06:07+02:00"_s) << base;
        QTest::newRow("offset without colon") << QJsonValue(u"2025-03-04T00:06:07-0500"_s) << base;
        QTest::newRow("bare date") << QJsonValue(u"2025-03-04"_s) << QDateTime();
        QTest::newRow("no zone") << QJsonValue(u"2025-03-04T05:06:07"_s) << QDateTime();
        QTest::newRow("space for T") << QJsonValue(u"2025-03-04 05:06:07Z"_s) << QDateTime();
        QTest::newRow("basic form") << QJsonValue(u"20250304T050607Z"_s) << QDateTime();
        QTest::newRow("impossible day") << QJsonValue(u"2025-02-30T05:06:07Z"_s) << QDateTime();
        // In UTC these fall outside the years the encoding writes, so they could not be read back.
        QTest::newRow("before year 1 in UTC")
            << QJsonValue(u"0001-01-01T00:00:00+00:01"_s) << QDateTime();
        QTest::newRow("after year 9999 in UTC")
            << QJsonValue(u"9999-12-31T23:59:59-00:01"_s) << QDateTime();
        QTest::newRow("first second of year 1") << QJsonValue(u"0001-01-01T00:00:00Z"_s)
                                                << QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
        QTest::newRow("number") << QJsonValue(1741064767) << QDateTime();
        QTest::newRow("null") << QJsonValue() << QDateTime();
    }

    void dates()
    {
        QFETCH(QJsonValue, value);
        QFETCH(QDateTime, expected);
        const auto decoded = destinationDateDecoding(value);
        QCOMPARE(decoded.has_value(), expected.isValid());
        if (decoded)
            QCOMPARE(*decoded, expected);
    }

    void dateEncodingDropsSubseconds()
    {
        const QDateTime date(QDate(2025, 3, 4), QTime(5, 6, 7, 890), Qt::UTC);
        QCOMPARE(destinationDateEncoding(date), u"2025-03-04T05:06:07Z"_s);
        QCOMPARE(destinationDateEncoding(date.toOffsetFromUtc(3600)), u"2025-03-04T05:06:07Z"_s);
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");

        QTest::newRow("full") << R"({"toviAvailable":true,"passkeyRequired":true,"threads":[)" +
                                     threadJson(R"("2025-03-04T05:06:07.890Z")") +
                                     R"(],"toviAvatar":)" + avatar + R"(,"more":1})"
                              << true;
        QTest::newRow("empty threads") << R"({"toviAvailable":false,"threads":[]})"_ba << true;
        QTest::newRow("null optionals")
            << R"({"toviAvailable":false,"threads":[],"passkeyRequired":null,"toviAvatar":null})"_ba
            << true;
        QTest::newRow("no toviAvailable") << R"({"threads":[]})"_ba << false;
        QTest::newRow("no threads") << R"({"toviAvailable":true})"_ba << false;
        QTest::newRow("bare date in one thread")
            << R"({"toviAvailable":true,"threads":[)" + threadJson(R"("2025-03-04T05:06:07Z")") +
                   "," + threadJson(R"("2025-03-04")") + "]}"
            << false;
        QTest::newRow("numeric date")
            << R"({"toviAvailable":true,"threads":[)" + threadJson("1741064767") + "]}" << false;
        QTest::newRow("thread without title")
            << R"({"toviAvailable":true,"threads":[{"id":"t","color":"blue","updatedAt":"2025-03-04T05:06:07Z"}]})"_ba
            << false;
        QTest::newRow("invalid avatar")
            << R"({"toviAvailable":true,"threads":[],"toviAvatar":{"id":"x"}})"_ba << false;
        QTest::newRow("passkeyRequired as text")
            << R"({"toviAvailable":true,"threads":[],"passkeyRequired":"yes"})"_ba << false;
    }

    void answers()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        const auto decoded = ShareDestinations::fromJson(json);
        QCOMPARE(decoded.has_value(), valid);
    }

    void fullAnswer()
    {
        const auto decoded = ShareDestinations::fromJson(
            R"({"toviAvailable":true,"threads":[)" + threadJson(R"("2025-03-04T05:06:07.890Z")") +
            R"(],"toviAvatar":)" + avatar + "}");
        QVERIFY(decoded);
        QCOMPARE(decoded->passkeyRequired, std::nullopt);
        QCOMPARE(decoded->threads.size(), 1);
        QCOMPARE(decoded->threads[0].title, u"Fix the build"_s);
        QCOMPARE(decoded->toviAvatar->id, u"spring"_s);
    }

    void rememberedDestination_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("failure"); // null: reads back

        QTest::newRow("tovi") << R"({"tovi":{}})"_ba << QString();
        QTest::newRow("thread") << R"({"thread":{"_0":)" + threadJson(R"("2025-03-04T05:06:07Z")") +
                                       "}}"
                                << QString();
        QTest::newRow("unknown keys ignored") << R"({"tovi":{},"other":1})"_ba << QString();
        QTest::newRow("no key") << "{}"_ba << u"Invalid number of keys found, expected one."_s;
        QTest::newRow("only unknown keys")
            << R"({"team":{}})"_ba << u"Invalid number of keys found, expected one."_s;
        QTest::newRow("both") << R"({"thread":{"_0":)" + threadJson(R"("2025-03-04T05:06:07Z")") +
                                     R"(},"tovi":{}})"
                              << u"Invalid number of keys found, expected one."_s;
    }

    void rememberedDestination()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, failure);
        try {
            const auto destination = ShareDestination::fromJson(json);
            QVERIFY(failure.isNull());
            QCOMPARE(ShareDestination::fromJson(destination.toJson()), destination);
        } catch (const DestinationDecodingError &error) {
            QCOMPARE(QString::fromUtf8(error.what()), failure);
        }
    }

    void rememberedDestinationForm()
    {
        QCOMPARE(ShareDestination::tovi().toJson(), R"({"tovi":{}})"_ba);
        const ShareDestination destination(
            ShareDestinationThread{u"t1"_s, u"Title"_s, u"#00aaff"_s,
                                   QDateTime(QDate(2025, 3, 4), QTime(5, 6, 7, 890), Qt::UTC)});
        const auto object = QJsonDocument::fromJson(destination.toJson()).object();
        QCOMPARE(object.keys(), QStringList{u"thread"_s});
        const auto inner = object.value("thread"_L1).toObject();
        QCOMPARE(inner.keys(), QStringList{u"_0"_s});
        QCOMPARE(inner.value("_0"_L1).toObject().value("updatedAt"_L1).toString(),
                 u"2025-03-04T05:06:07Z"_s);
        QCOMPARE(destination.threadID(), std::optional(u"t1"_s));
        QCOMPARE(ShareDestination::tovi().threadID(), std::nullopt);
    }

    void fetchQuery_data()
    {
        QTest::addColumn<std::optional<QString>>("query");
        QTest::addColumn<QByteArray>("target");

        const QByteArray path = "/api/tovi/native-share/destinations";
        QTest::newRow("no query") << std::optional<QString>() << path;
        QTest::newRow("plus") << std::optional(u"a+b"_s) << path + "?q=a%2Bb";
        QTest::newRow("space") << std::optional(u"a b"_s) << path + "?q=a%20b";
        QTest::newRow("empty") << std::optional(QString()) << path + "?q=";
        QTest::newRow("separators") << std::optional(u"x&q=y#z"_s) << path + "?q=x%26q%3Dy%23z";
        QTest::newRow("non-ASCII") << std::optional(u"ä"_s) << path + "?q=%C3%A4";
    }

    void fetchQuery()
    {
        QFETCH(std::optional<QString>, query);
        QFETCH(QByteArray, target);
        ServiceFixture fixture;
        fixture.server().enqueue(
            ScriptedResponse::json(200, R"({"toviAvailable":true,"threads":[]})"));
        const auto result =
            TaskResult<ShareDestinations>::wait(ShareDestinations::fetch(fixture.holder(), query));
        QVERIFY2(result.value, qPrintable(userFacingMessage(result.error)));

        const auto &request = fixture.server().requests().first();
        QCOMPARE(request.method, "GET"_ba);
        QCOMPARE(request.target, target);
        QCOMPARE(request.header("Accept"), "application/json"_ba);
        QVERIFY(request.headerValues("Content-Type").isEmpty());
        QCOMPARE(request.header("Cookie"), "sid=abc"_ba);
    }

    void fetchFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");

        QTest::newRow("undecodable")
            << 200 << R"({"threads":[]})"_ba << u"Zelt did not return a valid response."_s;
        QTest::newRow("signed out") << 401 << QByteArray() << u"Open Zelt and sign in first."_s;
        QTest::newRow("service message")
            << 429 << R"({"message":"Slow down."})"_ba << u"Slow down."_s;
    }

    void fetchFailures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        ServiceFixture fixture;
        fixture.server().enqueue(ScriptedResponse::json(status, body));
        const auto result = TaskResult<ShareDestinations>::wait(
            ShareDestinations::fetch(fixture.holder(), std::nullopt));
        QVERIFY(!result.value);
        QCOMPARE(userFacingMessage(result.error), message);
    }
};

QTEST_GUILESS_MAIN(TestShareDestinations)
#include "tst_sharedestinations.moc"
