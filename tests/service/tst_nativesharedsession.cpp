#include "service/NativeSharedSession.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

NativeSharedSession session(const QString &value = u"abc"_s)
{
    NativeSharedSession s;
    s.baseOrigin = u"https://zelt.app"_s;
    s.cookieName = u"sid"_s;
    s.cookieValue = value;
    return s;
}

QList<QNetworkReply::RawHeaderPair> setCookies(const QList<QByteArray> &values)
{
    QList<QNetworkReply::RawHeaderPair> fields{{"Content-Type", "application/json"}};
    for (const auto &value : values)
        fields.append({"Set-Cookie", value});
    return fields;
}

const QUrl responseUrl(u"https://zelt.app/api/tovi/native-share"_s);

} // namespace

class TestNativeSharedSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("userID");

        QTest::newRow("required only")
            << R"({"baseOrigin":"o","cookieName":"n","cookieValue":"v"})"_ba << true << QString();
        QTest::newRow("null optionals")
            << R"({"baseOrigin":"o","cookieName":"n","cookieValue":"v","userID":null,"storeID":null,"additionalCookies":null,"supersededCookieValues":null})"_ba
            << true << QString();
        QTest::newRow("unknown keys ignored")
            << R"({"baseOrigin":"o","cookieName":"n","cookieValue":"v","userID":"u","extra":[1]})"_ba
            << true << u"u"_s;
        QTest::newRow("missing cookieValue")
            << R"({"baseOrigin":"o","cookieName":"n"})"_ba << false << QString();
        QTest::newRow("cookieValue not a string")
            << R"({"baseOrigin":"o","cookieName":"n","cookieValue":7})"_ba << false << QString();
        QTest::newRow("optional of the wrong type")
            << R"({"baseOrigin":"o","cookieName":"n","cookieValue":"v","storeID":1})"_ba << false
            << QString();
        QTest::newRow("cookie without value")
            << R"({"baseOrigin":"o","cookieName":"n","cookieValue":"v","additionalCookies":[{"name":"a"}]})"_ba
            << false << QString();
        // Cookies go into a request header as they are: a line break would start a header of
        // its own.
        QTest::newRow("line break in the cookie value")
            << R"({"baseOrigin":"o","cookieName":"n","cookieValue":"v\r\nX-Injected: 1"})"_ba
            << false << QString();
        QTest::newRow("line feed in the cookie name")
            << R"({"baseOrigin":"o","cookieName":"n\n","cookieValue":"v"})"_ba << false
            << QString();
        QTest::newRow("control character in an additional cookie")
            << R"({"baseOrigin":"o","cookieName":"n","cookieValue":"v","additionalCookies":[{"name":"a","value":"1\u0001"}]})"_ba
            << false << QString();
        QTest::newRow("delete character in an additional cookie's name")
            << R"({"baseOrigin":"o","cookieName":"n","cookieValue":"v","additionalCookies":[{"name":"a\u007f","value":"1"}]})"_ba
            << false << QString();
        QTest::newRow("not an object") << R"(["o","n","v"])"_ba << false << QString();
        QTest::newRow("not JSON") << "sid=abc"_ba << false << QString();
    }

    void decoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, accepted);
        QFETCH(QString, userID);
        const auto decoded = NativeSharedSession::fromJson(json);
        QCOMPARE(decoded.has_value(), accepted);
        if (decoded)
            QCOMPARE(decoded->userID.value_or(QString()), userID);
    }

    void encodingLeavesOutAbsentOptionals()
    {
        const auto object = QJsonDocument::fromJson(session().toJson()).object();
        QCOMPARE(object.keys(), QStringList({u"baseOrigin"_s, u"cookieName"_s, u"cookieValue"_s}));
        QVERIFY(!session().toJson().contains(' '));
    }

    void encodingRoundTrips()
    {
        auto full = session();
        full.additionalCookies = QList<NativeSharedSessionCookie>{{u"a"_s, u"1"_s}};
        full.storeID = u"store"_s;
        full.userID = u"user"_s;
        full.supersededCookieValues = QStringList{u"old"_s};
        QCOMPARE(NativeSharedSession::fromJson(full.toJson()), std::optional(full));

        auto empty = session();
        empty.additionalCookies = QList<NativeSharedSessionCookie>{};
        QVERIFY(empty.toJson().contains(R"("additionalCookies":[])"));
        QCOMPARE(NativeSharedSession::fromJson(empty.toJson()), std::optional(empty));
    }

    void fingerprint()
    {
        auto s = session(u"abc"_s);
        QCOMPARE(s.fingerprint(), QCryptographicHash::hash("abc\n\n", QCryptographicHash::Sha256));
        s.storeID = u"st"_s;
        s.userID = u"us"_s;
        QCOMPARE(s.fingerprint().size(), 32);
        QCOMPARE(s.fingerprint(),
                 QCryptographicHash::hash("abc\nst\nus", QCryptographicHash::Sha256));
        // Neither origin, cookie name, additional cookies nor superseded values count.
        auto other = s;
        other.baseOrigin = u"https://a.zelt.app"_s;
        other.cookieName = u"other"_s;
        other.additionalCookies = QList<NativeSharedSessionCookie>{{u"a"_s, u"1"_s}};
        other.supersededCookieValues = QStringList{u"x"_s};
        QCOMPARE(other.fingerprint(), s.fingerprint());
    }

    void cookieHeader()
    {
        auto s = session(u"abc"_s);
        QCOMPARE(s.cookieHeaderValue(), u"sid=abc"_s);
        s.additionalCookies = QList<NativeSharedSessionCookie>{{u"a"_s, u"1"_s}, {u"b"_s, u"2"_s}};
        s.supersededCookieValues = QStringList{u"never"_s};
        QCOMPARE(s.cookieHeaderValue(), u"sid=abc; a=1; b=2"_s);
    }

    void rotation_data()
    {
        QTest::addColumn<QList<QByteArray>>("cookies");
        QTest::addColumn<bool>("changes");
        QTest::addColumn<QString>("mainValue");
        QTest::addColumn<QString>("additionalValue");
        QTest::addColumn<QStringList>("superseded");

        QTest::newRow("main cookie rotated")
            << QList<QByteArray>{"sid=new; Path=/; HttpOnly; Secure"} << true << u"new"_s << u"1"_s
            << QStringList{u"abc"_s};
        QTest::newRow("additional cookie only")
            << QList<QByteArray>{"a=2"} << true << u"abc"_s << u"2"_s << QStringList{};
        QTest::newRow("same values") << QList<QByteArray>{"sid=abc", "a=1"} << false << QString()
                                     << QString() << QStringList{};
        QTest::newRow("unknown names ignored") << QList<QByteArray>{"tracking=x", "csrf=y"} << false
                                               << QString() << QString() << QStringList{};
        QTest::newRow("expired main cookie ignored")
            << QList<QByteArray>{"sid=gone; Expires=Thu, 01 Jan 1970 00:00:00 GMT"} << false
            << QString() << QString() << QStringList{};
        QTest::newRow("max-age zero ignored") << QList<QByteArray>{"sid=gone; Max-Age=0"} << false
                                              << QString() << QString() << QStringList{};
        QTest::newRow("future expiry applied")
            << QList<QByteArray>{"sid=later; Expires=Fri, 01 Jan 2100 00:00:00 GMT"} << true
            << u"later"_s << u"1"_s << QStringList{u"abc"_s};
        QTest::newRow("later of two wins") << QList<QByteArray>{"sid=first", "sid=second"} << true
                                           << u"second"_s << u"1"_s << QStringList{u"abc"_s};
        QTest::newRow("two cookies in one field")
            << QList<QByteArray>{"sid=first\nsid=second"} << true << u"second"_s << u"1"_s
            << QStringList{u"abc"_s};
    }

    void rotation()
    {
        QFETCH(QList<QByteArray>, cookies);
        QFETCH(bool, changes);
        auto s = session(u"abc"_s);
        s.additionalCookies = QList<NativeSharedSessionCookie>{{u"a"_s, u"1"_s}};
        s.storeID = u"store"_s;
        s.userID = u"user"_s;

        const auto next = s.rotated(responseUrl, setCookies(cookies));
        QCOMPARE(next.has_value(), changes);
        if (!next)
            return;
        QFETCH(QString, mainValue);
        QFETCH(QString, additionalValue);
        QFETCH(QStringList, superseded);
        QCOMPARE(next->cookieValue, mainValue);
        QCOMPARE(next->additionalCookies->size(), 1);
        QCOMPARE(next->additionalCookies->first().value, additionalValue);
        QCOMPARE(next->supersededCookieValues.value_or(QStringList{}), superseded);
        QCOMPARE(next->baseOrigin, s.baseOrigin);
        QCOMPARE(next->cookieName, s.cookieName);
        QCOMPARE(next->storeID, s.storeID);
        QCOMPARE(next->userID, s.userID);
    }

    // Set-Cookie fields that cannot belong to the service are not adopted, whatever their
    // order: each row's adoptable cookie would lose to the later one otherwise.
    void unfitCookiesAreIgnored_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QList<QByteArray>>("cookies");
        QTest::addColumn<QString>("mainValue");
        QTest::addColumn<QString>("additionalValue");

        const QUrl service(u"https://zelt.app/api/tovi/native-share"_s);
        const QUrl team(u"https://acme.zelt.team/api/tovi/native-share"_s);
        const QUrl address(u"https://127.0.0.1:8443/api/internal/app"_s);
        QTest::newRow("another site's domain")
            << service << QList<QByteArray>{"sid=kept", "sid=foreign; Domain=evil.example"}
            << u"kept"_s << u"1"_s;
        QTest::newRow("a domain that only ends like the host")
            << service << QList<QByteArray>{"sid=kept", "sid=foreign; Domain=elt.app"} << u"kept"_s
            << u"1"_s;
        QTest::newRow("the host's own domain, then a subdomain of it")
            << service
            << QList<QByteArray>{"sid=kept; Domain=.Zelt.App", "sid=foreign; Domain=api.zelt.app"}
            << u"kept"_s << u"1"_s;
        QTest::newRow("a parent domain, then a sibling host")
            << team
            << QList<QByteArray>{"sid=kept; Domain=zelt.team",
                                 "sid=foreign; Domain=other.zelt.team"}
            << u"kept"_s << u"1"_s;
        QTest::newRow("an address matches only itself")
            << address
            << QList<QByteArray>{"sid=kept; Domain=127.0.0.1", "sid=foreign; Domain=0.0.1"}
            << u"kept"_s << u"1"_s;
        QTest::newRow("control characters in the value") << service
                                                         << QList<QByteArray>{"sid=kept",
                                                                              "sid=a\rb",
                                                                              "sid=a\x01"
                                                                              "b",
                                                                              "sid=a\tb",
                                                                              "sid=a\x7f",
                                                                              "a=2",
                                                                              "a=3\x1f"}
                                                         << u"kept"_s << u"2"_s;
        const QString longest(4096, u'v');
        QTest::newRow("a value past 4096 bytes")
            << service
            << QList<QByteArray>{"sid=" + longest.toLatin1(), "sid=" + QByteArray(4097, 'w')}
            << longest << u"1"_s;
    }

    void unfitCookiesAreIgnored()
    {
        QFETCH(QUrl, url);
        QFETCH(QList<QByteArray>, cookies);
        QFETCH(QString, mainValue);
        QFETCH(QString, additionalValue);
        auto s = session(u"abc"_s);
        s.additionalCookies = QList<NativeSharedSessionCookie>{{u"a"_s, u"1"_s}};

        const auto next = s.rotated(url, setCookies(cookies));
        QVERIFY(next);
        QCOMPARE(next->cookieValue, mainValue);
        QCOMPARE(next->additionalCookies->first().value, additionalValue);
    }

    void rotationWithoutResponseUrl()
    {
        QVERIFY(!session().rotated(QUrl(), setCookies({"sid=new"})));
    }

    void supersededValuesAreCappedAtFifty()
    {
        auto s = session(u"v0"_s);
        for (int i = 1; i <= 51; ++i) {
            const auto next = s.rotated(responseUrl, setCookies({"sid=v" + QByteArray::number(i)}));
            QVERIFY(next);
            s = *next;
        }
        QCOMPARE(s.cookieValue, u"v51"_s);
        QCOMPARE(s.supersededCookieValues->size(), 50);
        QCOMPARE(s.supersededCookieValues->first(), u"v1"_s);
        QCOMPARE(s.supersededCookieValues->last(), u"v50"_s);
    }
};

QTEST_GUILESS_MAIN(TestNativeSharedSession)
#include "tst_nativesharedsession.moc"
