#include "Base64Url.h"
#include "DevServiceFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QUrlQuery>
#include <QUuid>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString destinationsPath = u"/api/tovi/native-share/destinations"_s;
const QString nativeSharePath = u"/api/tovi/native-share"_s;
const QString internalAppPath = u"/api/internal/app"_s;
const QString proxyPath = u"/api/attachments/upload-proxy"_s;
const QString threadID = u"2c8e5a77-91d3-4c52-b0e4-6f1a2d3c4b02"_s;

QString newShareID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

QJsonObject prepareBody(qint64 size, const QString &filename = u"notes.txt"_s)
{
    return {{u"action"_s, u"prepare-upload"_s},
            {u"file"_s, QJsonObject{{u"filename"_s, filename},
                                    {u"mediaType"_s, u"text/plain"_s},
                                    {u"sizeBytes"_s, double(size)}}},
            {u"threadID"_s, threadID}};
}

QJsonObject filesBody(const QString &shareID, const QList<std::pair<QString, qint64>> &uploads,
                      const QString &filename = u"notes.txt"_s)
{
    QJsonArray files;
    for (const auto &[uploadID, size] : uploads)
        files.append(QJsonObject{{u"uploadID"_s, uploadID},
                                 {u"filename"_s, filename},
                                 {u"mediaType"_s, u"text/plain"_s},
                                 {u"sizeBytes"_s, double(size)}});
    return {{u"message"_s, u"see attached"_s},
            {u"files"_s, files},
            {u"threadID"_s, threadID},
            {u"shareID"_s, shareID}};
}

QJsonObject inlineBody(const QString &shareID, const QList<QByteArray> &images = {})
{
    QJsonObject body{{u"message"_s, u"hello"_s}, {u"shareID"_s, shareID}};
    QJsonArray array;
    for (qsizetype i = 0; i < images.size(); ++i)
        array.append(QJsonObject{{u"data"_s, QString::fromLatin1(images.at(i).toBase64())},
                                 {u"filename"_s, u"image-%1.jpg"_s.arg(i + 1)},
                                 {u"mediaType"_s, u"image/jpeg"_s}});
    if (!images.isEmpty())
        body.insert(u"images"_s, array);
    return body;
}

QJsonObject readShare(const DevServiceFixture &fixture, const QString &shareID)
{
    QFile file(fixture.dataDirectory() + u"/shares/"_s + shareID + u"/share.json"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

int storedShares(const DevServiceFixture &fixture)
{
    return int(QDir(fixture.dataDirectory() + u"/shares"_s)
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

QJsonObject beginSudo(DevServiceFixture &fixture, const QByteArray &cookie)
{
    return fixture
        .call("POST", internalAppPath, cookie,
              {{u"method"_s, u"beginSudoPasskeyAuthentication"_s}, {u"params"_s, QJsonObject{}}})
        .json;
}

DevReply completeSudo(DevServiceFixture &fixture, const QByteArray &cookie,
                      const QJsonObject &params)
{
    return fixture.call(
        "POST", internalAppPath, cookie,
        {{u"method"_s, u"completeSudoPasskeyAuthentication"_s}, {u"params"_s, params}});
}

enum class Tamper {
    Signature,
    Challenge,
    Origin,
    RelyingParty,
    ClientDataType,
    UnknownCredential,
    RepeatedCounter,
    ReusedAttempt,
    ExpiredAttempt,
};

} // namespace

Q_DECLARE_METATYPE(Tamper)
Q_DECLARE_METATYPE(DevServiceOptions::DirectUpload)

class TestDevService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every Nth request rotates the cookie; the old value keeps working for the grace period,
    // is told the current value, and is refused afterwards.
    void sessionRotation()
    {
        DevServiceOptions options;
        options.rotateEvery = 3;
        options.rotationGrace = 60s;
        DevServiceFixture fixture(options);
        const auto first = fixture.signIn();
        QVERIFY(!first.isEmpty());

        QCOMPARE(fixture.call("GET", destinationsPath, first).status, 200);
        QVERIFY(!fixture.call("GET", destinationsPath, first).setCookie("zelt_session"));
        const auto third = fixture.call("GET", destinationsPath, first);
        QCOMPARE(third.status, 200);
        const auto second = third.setCookie("zelt_session");
        QVERIFY(second && !second->isEmpty() && *second != first);

        const auto stale = fixture.call("GET", destinationsPath, first);
        QCOMPARE(stale.status, 200);
        QCOMPARE(stale.setCookie("zelt_session"), second);
        QCOMPARE(fixture.call("GET", destinationsPath, *second).status, 200);

        fixture.advance(61s);
        QCOMPARE(fixture.call("GET", destinationsPath, first).status, 401);
        QCOMPARE(fixture.call("GET", destinationsPath, *second).status, 200);
    }

    void refusedSession_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("no cookie") << u"none"_s;
        QTest::newRow("unknown value") << u"unknown"_s;
        QTest::newRow("value under another cookie name") << u"other-name"_s;
        QTest::newRow("superseded past its grace") << u"expired"_s;
        QTest::newRow("signed out") << u"signed-out"_s;
    }

    void refusedSession()
    {
        QFETCH(QString, situation);
        DevServiceOptions options;
        options.rotateEvery = 1;
        options.rotationGrace = 10s;
        DevServiceFixture fixture(options);
        auto cookie = fixture.signIn();
        QList<std::pair<QByteArray, QByteArray>> headers{{"Origin", fixture.origin().toUtf8()}};
        if (situation == u"unknown"_s)
            headers.append(
                {"Cookie", "zelt_session=" + Base64Url::encode(QByteArray(32, 'x')).toLatin1()});
        if (situation == u"other-name"_s)
            headers.append({"Cookie", "zelt_device=" + cookie});
        if (situation == u"expired"_s) {
            fixture.call("GET", destinationsPath, cookie);
            fixture.advance(11s);
            headers.append({"Cookie", "zelt_session=" + cookie});
        }
        if (situation == u"signed-out"_s) {
            QCOMPARE(fixture.call("POST", u"/api/dev/sign-out"_s, cookie).status, 200);
            headers.append({"Cookie", "zelt_session=" + cookie});
        }
        for (const auto &[method, path] :
             {std::pair{"GET", destinationsPath}, std::pair{"POST", nativeSharePath},
              std::pair{"POST", internalAppPath}, std::pair{"PUT", proxyPath}}) {
            const auto reply = fixture.request(method, path, "{}", headers);
            QCOMPARE(reply.status, 401);
            QVERIFY(!reply.setCookie("zelt_session"));
        }
    }

    void requestOrigin_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::addColumn<int>("status");
        QTest::newRow("the service") << u"https://localhost:%1"_s << 200;
        QTest::newRow("the service by address") << u"https://127.0.0.1:%1"_s << 200;
        QTest::newRow("none") << QString() << 200;
        QTest::newRow("another site") << u"https://example.com"_s << 403;
        QTest::newRow("plain http") << u"http://localhost:%1"_s << 403;
    }

    void requestOrigin()
    {
        QFETCH(QString, origin);
        QFETCH(int, status);
        DevServiceFixture fixture;
        const auto cookie = fixture.signIn();
        QList<std::pair<QByteArray, QByteArray>> headers{{"Cookie", "zelt_session=" + cookie}};
        if (!origin.isEmpty())
            headers.append({"Origin", origin.arg(fixture.service().port()).toUtf8()});
        QCOMPARE(fixture.request("GET", destinationsPath, {}, headers).status, status);
    }

    void destinations_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("recent") << QString() << QStringList();
        QTest::newRow("case-insensitive")
            << u"?q=FLAKY"_s << QStringList{u"Fix flaky upload test"_s};
        QTest::newRow("plus sign") << u"?q=c%2B%2B"_s << QStringList{u"C++ build flags"_s};
        QTest::newRow("accented capitals")
            << u"?q=%C3%9CBER"_s << QStringList{u"Über-refactor of the share sheet"_s};
        QTest::newRow("space") << u"?q=step%20up"_s << QStringList();
        QTest::newRow("empty query") << u"?q="_s << QStringList();
    }

    void destinations()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, titles);
        DevServiceFixture fixture;
        const auto reply = fixture.call("GET", destinationsPath + query, fixture.signIn());
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json.value(u"toviAvailable"_s), QJsonValue(true));
        QCOMPARE(reply.json.value(u"passkeyRequired"_s), QJsonValue(false));
        const auto threads = reply.json.value(u"threads"_s).toArray();
        if (query.isEmpty() || query == u"?q="_s) {
            // Every palette colour and a hex colour, and both date forms.
            QCOMPARE(threads.size(), 10);
            QStringList colours;
            bool withMilliseconds = false;
            bool withoutMilliseconds = false;
            for (const auto &thread : threads) {
                colours.append(thread[u"color"_s].toString());
                const auto date = thread[u"updatedAt"_s].toString();
                QVERIFY(QDateTime::fromString(date, Qt::ISODateWithMs).isValid());
                (date.contains(u'.') ? withMilliseconds : withoutMilliseconds) = true;
            }
            for (const auto *name :
                 {"blue", "purple", "pink", "red", "orange", "yellow", "green", "cyan", "gray"})
                QVERIFY2(colours.contains(QLatin1String(name)), name);
            QVERIFY(colours.contains(u"#ff6a3d"_s));
            QVERIFY(withMilliseconds && withoutMilliseconds);
        } else {
            QStringList found;
            for (const auto &thread : threads)
                found.append(thread[u"title"_s].toString());
            QCOMPARE(found, titles);
        }

        // The avatar's image is on the service's own origin, versioned by "v".
        const auto avatar = reply.json.value(u"toviAvatar"_s).toObject();
        const QUrl imageURL(avatar.value(u"imageURL"_s).toString());
        QCOMPARE(imageURL.adjusted(QUrl::RemovePath | QUrl::RemoveQuery).toString(),
                 fixture.origin());
        QVERIFY(QUrlQuery(imageURL).hasQueryItem(u"v"_s));
        const auto image = fixture.request("GET", imageURL.toString());
        QCOMPARE(image.status, 200);
        QVERIFY(image.body.startsWith("\x89PNG"));
        QCOMPARE(fixture.request("GET", imageURL.adjusted(QUrl::RemoveQuery).toString()).status,
                 404);
    }

    // Each defect of an assertion is refused for its own reason, and no sudo session opens.
    void passkeyRejected_data()
    {
        QTest::addColumn<Tamper>("tamper");
        QTest::addColumn<QString>("reason");
        QTest::newRow("wrong signature") << Tamper::Signature << u"signature"_s;
        QTest::newRow("wrong challenge") << Tamper::Challenge << u"challenge"_s;
        QTest::newRow("wrong origin") << Tamper::Origin << u"origin"_s;
        QTest::newRow("wrong relying party") << Tamper::RelyingParty << u"rpid"_s;
        QTest::newRow("registration ceremony") << Tamper::ClientDataType << u"type"_s;
        QTest::newRow("unregistered credential") << Tamper::UnknownCredential << u"credential"_s;
        QTest::newRow("counter did not move") << Tamper::RepeatedCounter << u"sign-count"_s;
        QTest::newRow("attempt used twice") << Tamper::ReusedAttempt << u"attempt"_s;
        QTest::newRow("attempt expired") << Tamper::ExpiredAttempt << u"attempt"_s;
    }

    void passkeyRejected()
    {
        QFETCH(Tamper, tamper);
        QFETCH(QString, reason);
        DevServiceOptions options;
        options.requirePasskey = true;
        options.passkeyAttemptLifetime = 120s;
        DevServiceFixture fixture(options);
        const auto cookie = fixture.signIn();
        auto authenticator = fixture.registerAuthenticator(cookie);
        auto other =
            tamper == Tamper::RelyingParty
                ? fixture.registerAuthenticator(cookie, u"evil.example"_s)
                : SoftwareAuthenticator::create(u"localhost"_s, fixture.userHandle(cookie));

        auto begin = beginSudo(fixture, cookie);
        QCOMPARE(begin.value(u"ok"_s), QJsonValue(true));
        auto sudoOptions = begin.value(u"result"_s).toObject();
        QJsonObject params;
        switch (tamper) {
        case Tamper::Signature: {
            params = DevServiceFixture::completion(sudoOptions, authenticator);
            auto response = params[u"response"_s].toObject();
            auto assertion = response[u"response"_s].toObject();
            auto signature = *Base64Url::decode(assertion[u"signature"_s].toString());
            signature[signature.size() - 1] = char(signature.back() ^ 0x01);
            assertion[u"signature"_s] = Base64Url::encode(signature);
            response[u"response"_s] = assertion;
            params[u"response"_s] = response;
            break;
        }
        case Tamper::Challenge:
            params = DevServiceFixture::completion(sudoOptions, authenticator, u"webauthn.get"_s,
                                                   u"https://localhost"_s, QByteArray(32, 'c'));
            break;
        case Tamper::Origin:
            params = DevServiceFixture::completion(sudoOptions, authenticator, u"webauthn.get"_s,
                                                   u"https://evil.example"_s);
            break;
        case Tamper::RelyingParty:
            params = DevServiceFixture::completion(sudoOptions, other);
            break;
        case Tamper::ClientDataType:
            params =
                DevServiceFixture::completion(sudoOptions, authenticator, u"webauthn.create"_s);
            break;
        case Tamper::UnknownCredential:
            params = DevServiceFixture::completion(sudoOptions, other);
            break;
        case Tamper::RepeatedCounter: {
            // A copy of the key that is one assertion behind: its counter repeats one the
            // service has already seen.
            auto copy = authenticator;
            fixture.openSudo(cookie, authenticator);
            fixture.advance(options.sudoDuration);
            sudoOptions = beginSudo(fixture, cookie).value(u"result"_s).toObject();
            params = DevServiceFixture::completion(sudoOptions, copy);
            break;
        }
        case Tamper::ReusedAttempt:
            params = DevServiceFixture::completion(sudoOptions, authenticator);
            QCOMPARE(completeSudo(fixture, cookie, params).json.value(u"ok"_s), QJsonValue(true));
            fixture.advance(options.sudoDuration);
            params = DevServiceFixture::completion(sudoOptions, authenticator);
            break;
        case Tamper::ExpiredAttempt:
            fixture.advance(121s);
            params = DevServiceFixture::completion(sudoOptions, authenticator);
            break;
        }

        const auto complete = completeSudo(fixture, cookie, params);
        QCOMPARE(complete.status, 200);
        QCOMPARE(complete.json.value(u"ok"_s), QJsonValue(false));
        QVERIFY(!complete.json.contains(u"result"_s));
        QVERIFY(!complete.json[u"error"_s][u"message"_s].toString().isEmpty());
        QCOMPARE(complete.json[u"error"_s][u"reason"_s].toString(), reason);
        const auto share = fixture.call("POST", nativeSharePath, cookie, inlineBody(newShareID()));
        QCOMPARE(share.status, 403);
        QCOMPARE(share.json.value(u"code"_s).toString(), u"SUDO_AUTH_REQUIRED"_s);
    }

    // With passkeys required, a share needs a sudo session, which a verified assertion opens
    // for a limited time.
    void sudoSession()
    {
        DevServiceOptions options;
        options.requirePasskey = true;
        options.sudoDuration = 300s;
        DevServiceFixture fixture(options);
        const auto cookie = fixture.signIn();

        const auto noPasskey = beginSudo(fixture, cookie);
        QCOMPARE(noPasskey.value(u"ok"_s), QJsonValue(false));
        QVERIFY(!noPasskey[u"error"_s][u"message"_s].toString().isEmpty());

        auto authenticator = fixture.registerAuthenticator(cookie);
        QCOMPARE(fixture.call("GET", destinationsPath, cookie).json.value(u"passkeyRequired"_s),
                 QJsonValue(true));
        for (const auto &body : {prepareBody(3), inlineBody(newShareID())}) {
            const auto refused = fixture.call("POST", nativeSharePath, cookie, body);
            QCOMPARE(refused.status, 403);
            QCOMPARE(refused.json.value(u"code"_s).toString(), u"SUDO_AUTH_REQUIRED"_s);
            QVERIFY(!refused.json.value(u"message"_s).toString().isEmpty());
        }

        const auto begin = beginSudo(fixture, cookie);
        const auto sudoOptions = begin.value(u"result"_s).toObject();
        QCOMPARE(sudoOptions.value(u"rpID"_s).toString(), u"localhost"_s);
        QCOMPARE(sudoOptions.value(u"allowCredentialIDs"_s).toArray(),
                 QJsonArray{Base64Url::encode(authenticator.credentialId())});
        QCOMPARE(Base64Url::decode(sudoOptions.value(u"challenge"_s).toString())
                     .value_or(QByteArray())
                     .size(),
                 32);
        const auto complete = completeSudo(
            fixture, cookie, DevServiceFixture::completion(sudoOptions, authenticator));
        QCOMPARE(complete.json.value(u"ok"_s), QJsonValue(true));
        QCOMPARE(complete.json[u"result"_s][u"isSudoSessionActive"_s], QJsonValue(true));

        QCOMPARE(fixture.call("GET", destinationsPath, cookie).json.value(u"passkeyRequired"_s),
                 QJsonValue(false));
        QCOMPARE(fixture.call("POST", nativeSharePath, cookie, inlineBody(newShareID())).status,
                 200);

        // The sudo session belongs to this web session only.
        const auto otherCookie = fixture.signIn();
        QCOMPARE(
            fixture.call("POST", nativeSharePath, otherCookie, inlineBody(newShareID())).status,
            403);

        fixture.advance(299s);
        QCOMPARE(fixture.call("POST", nativeSharePath, cookie, inlineBody(newShareID())).status,
                 200);
        fixture.advance(1s);
        const auto expired =
            fixture.call("POST", nativeSharePath, cookie, inlineBody(newShareID()));
        QCOMPARE(expired.status, 403);
        QCOMPARE(expired.json.value(u"code"_s).toString(), u"SUDO_AUTH_REQUIRED"_s);
        QCOMPARE(fixture.call("GET", destinationsPath, cookie).json.value(u"passkeyRequired"_s),
                 QJsonValue(true));
    }

    void uploadSizeMismatch_data()
    {
        QTest::addColumn<bool>("proxy");
        QTest::addColumn<qint64>("prepared");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("direct, longer") << false << qint64(5) << QByteArray("hello!");
        QTest::newRow("direct, shorter") << false << qint64(5) << QByteArray("hell");
        QTest::newRow("direct, bytes for an empty file") << false << qint64(0) << QByteArray("x");
        QTest::newRow("proxy, longer") << true << qint64(5) << QByteArray("hello!");
        QTest::newRow("proxy, empty") << true << qint64(5) << QByteArray("");
    }

    void uploadSizeMismatch()
    {
        QFETCH(bool, proxy);
        QFETCH(qint64, prepared);
        QFETCH(QByteArray, sent);
        DevServiceFixture fixture;
        const auto cookie = fixture.signIn();
        const auto prepare = fixture.call("POST", nativeSharePath, cookie, prepareBody(prepared));
        QCOMPARE(prepare.status, 200);
        const auto uploadID = prepare.json.value(u"uploadID"_s).toString();
        const auto uploadURL = prepare.json.value(u"uploadURL"_s).toString();
        const auto reply = proxy
                               ? fixture.upload(fixture.origin() + proxyPath, sent,
                                                {{"Cookie", "zelt_session=" + cookie},
                                                 {"x-zelt-upload-url", uploadURL.toUtf8()},
                                                 {"x-zelt-upload-reason", "direct-network-error"}})
                               : fixture.upload(uploadURL, sent);
        QCOMPARE(reply.status, 400);
        QVERIFY(!reply.json.value(u"message"_s).toString().isEmpty());

        // Nothing was kept: the share cannot use the upload, and the right size still can.
        const auto shareID = newShareID();
        QCOMPARE(
            fixture
                .call("POST", nativeSharePath, cookie, filesBody(shareID, {{uploadID, prepared}}))
                .status,
            400);
        QCOMPARE(storedShares(fixture), 0);
        QCOMPARE(fixture.upload(uploadURL, QByteArray(prepared, 'a')).status, 200);
        QCOMPARE(
            fixture
                .call("POST", nativeSharePath, cookie, filesBody(shareID, {{uploadID, prepared}}))
                .status,
            200);
        // A share that states another size than the upload has is refused.
        const auto again = fixture.call("POST", nativeSharePath, cookie, prepareBody(4));
        const auto otherID = again.json.value(u"uploadID"_s).toString();
        QCOMPARE(fixture.upload(again.json.value(u"uploadURL"_s).toString(), "four").status, 200);
        QCOMPARE(
            fixture.call("POST", nativeSharePath, cookie, filesBody(newShareID(), {{otherID, 5}}))
                .status,
            400);
    }

    void uploadURLRefused_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("status");
        QTest::newRow("signature altered") << u"signature"_s << 403;
        QTest::newRow("expiry moved") << u"expiry"_s << 403;
        QTest::newRow("expired") << u"expired"_s << 403;
        QTest::newRow("through the proxy for another account") << u"other-account"_s << 403;
        QTest::newRow("already part of a share") << u"shared"_s << 404;
    }

    void uploadURLRefused()
    {
        QFETCH(QString, situation);
        QFETCH(int, status);
        DevServiceFixture fixture;
        const auto cookie = fixture.signIn();
        const auto prepare = fixture.call("POST", nativeSharePath, cookie, prepareBody(2));
        QUrl url(prepare.json.value(u"uploadURL"_s).toString());
        QUrlQuery query(url);
        if (situation == u"signature"_s) {
            auto signature = query.queryItemValue(u"signature"_s);
            signature[0] = signature[0] == u'A' ? u'B' : u'A';
            query.removeQueryItem(u"signature"_s);
            query.addQueryItem(u"signature"_s, signature);
        }
        if (situation == u"expiry"_s) {
            const auto expires = query.queryItemValue(u"expires"_s).toLongLong();
            query.removeQueryItem(u"expires"_s);
            query.addQueryItem(u"expires"_s, QString::number(expires + 3600));
        }
        url.setQuery(query);
        if (situation == u"expired"_s)
            fixture.advance(901s);
        if (situation == u"shared"_s) {
            QCOMPARE(fixture.upload(url.toString(), "ok").status, 200);
            QCOMPARE(
                fixture
                    .call("POST", nativeSharePath, cookie,
                          filesBody(newShareID(), {{prepare.json[u"uploadID"_s].toString(), 2}}))
                    .status,
                200);
        }
        DevReply reply;
        if (situation == u"other-account"_s) {
            const auto stranger = fixture.signIn(u"mallory"_s);
            reply = fixture.upload(fixture.origin() + proxyPath, "ok",
                                   {{"Cookie", "zelt_session=" + stranger},
                                    {"x-zelt-upload-url", url.toString().toUtf8()},
                                    {"x-zelt-upload-reason", "direct-network-error"}});
        } else {
            reply = fixture.upload(url.toString(), "ok");
        }
        QCOMPARE(reply.status, status);
    }

    // The proxy is told where the bytes were meant to go and why they come its way.
    void uploadProxy_data()
    {
        QTest::addColumn<QByteArray>("reason");
        QTest::addColumn<QByteArray>("directStatus");
        QTest::addColumn<bool>("sendURL");
        QTest::addColumn<int>("status");
        QTest::newRow("direct upload refused")
            << QByteArray("direct-http-error") << QByteArray("403") << true << 200;
        QTest::newRow("direct upload redirected")
            << QByteArray("direct-http-error") << QByteArray("307") << true << 200;
        QTest::newRow("direct upload unreachable")
            << QByteArray("direct-network-error") << QByteArray() << true << 200;
        QTest::newRow("custom domain")
            << QByteArray("custom-domain") << QByteArray() << true << 200;
        QTest::newRow("no upload URL")
            << QByteArray("custom-domain") << QByteArray() << false << 400;
        QTest::newRow("no reason") << QByteArray() << QByteArray() << true << 400;
        QTest::newRow("unknown reason") << QByteArray("because") << QByteArray() << true << 400;
        QTest::newRow("http error without its status")
            << QByteArray("direct-http-error") << QByteArray() << true << 400;
        QTest::newRow("status that is not one")
            << QByteArray("direct-http-error") << QByteArray("4O3") << true << 400;
        QTest::newRow("status beside a network error")
            << QByteArray("direct-network-error") << QByteArray("403") << true << 400;
    }

    void uploadProxy()
    {
        QFETCH(QByteArray, reason);
        QFETCH(QByteArray, directStatus);
        QFETCH(bool, sendURL);
        QFETCH(int, status);
        DevServiceFixture fixture;
        const auto cookie = fixture.signIn();
        const QByteArray content = "proxied bytes";
        const auto prepare =
            fixture.call("POST", nativeSharePath, cookie, prepareBody(content.size()));
        QList<std::pair<QByteArray, QByteArray>> headers{{"Cookie", "zelt_session=" + cookie},
                                                         {"Origin", fixture.origin().toUtf8()}};
        if (sendURL)
            headers.append({"x-zelt-upload-url", prepare.json[u"uploadURL"_s].toString().toUtf8()});
        if (!reason.isEmpty())
            headers.append({"x-zelt-upload-reason", reason});
        if (!directStatus.isEmpty())
            headers.append({"x-zelt-direct-upload-status", directStatus});
        QCOMPARE(fixture.upload(fixture.origin() + proxyPath, content, headers).status, status);
        if (status != 200)
            return;

        const auto shareID = newShareID();
        QCOMPARE(fixture
                     .call("POST", nativeSharePath, cookie,
                           filesBody(shareID,
                                     {{prepare.json[u"uploadID"_s].toString(), content.size()}}))
                     .status,
                 200);
        const auto file = readShare(fixture, shareID)[u"files"_s][0].toObject();
        const auto upload = file[u"upload"_s].toObject();
        QCOMPARE(upload[u"via"_s].toString(), u"proxy"_s);
        QCOMPARE(upload[u"reason"_s].toString().toUtf8(), reason);
        QCOMPARE(upload.contains(u"directStatus"_s), !directStatus.isEmpty());
        QFile stored(fixture.dataDirectory() + u"/shares/"_s + shareID + u'/' +
                     file[u"storedAs"_s].toString());
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), content);
    }

    void directUploadModes_data()
    {
        QTest::addColumn<DevServiceOptions::DirectUpload>("mode");
        QTest::addColumn<int>("status");
        QTest::newRow("ok") << DevServiceOptions::DirectUpload::Ok << 200;
        QTest::newRow("fail-403") << DevServiceOptions::DirectUpload::Fail403 << 403;
        QTest::newRow("fail-network") << DevServiceOptions::DirectUpload::FailNetwork << 0;
    }

    void directUploadModes()
    {
        QFETCH(DevServiceOptions::DirectUpload, mode);
        QFETCH(int, status);
        DevServiceOptions options;
        options.directUpload = mode;
        DevServiceFixture fixture(options);
        const auto cookie = fixture.signIn();
        const auto prepare = fixture.call("POST", nativeSharePath, cookie, prepareBody(4));
        const auto uploadURL = prepare.json[u"uploadURL"_s].toString();
        const auto direct = fixture.upload(uploadURL, "data");
        QCOMPARE(direct.status, status);
        QCOMPARE(direct.transportError.isEmpty(), status != 0);
        // Whatever the direct target did, the proxy takes the same URL.
        if (status != 200)
            QCOMPARE(fixture
                         .upload(fixture.origin() + proxyPath, "data",
                                 {{"Cookie", "zelt_session=" + cookie},
                                  {"x-zelt-upload-url", uploadURL.toUtf8()},
                                  {"x-zelt-upload-reason", "direct-network-error"}})
                         .status,
                     200);
        QCOMPARE(fixture
                     .call("POST", nativeSharePath, cookie,
                           filesBody(newShareID(), {{prepare.json[u"uploadID"_s].toString(), 4}}))
                     .status,
                 200);
    }

    // A share is stored once under its ID, with what was sent.
    void replayedShare()
    {
        DevServiceFixture fixture;
        const auto cookie = fixture.signIn();
        const auto shareID = newShareID();
        const QList<QByteArray> images{QByteArray("\xff\xd8 first", 8),
                                       QByteArray("\xff\xd8 second", 9)};
        auto body = inlineBody(shareID, images);
        body.insert(u"threadID"_s, threadID);
        QCOMPARE(fixture.call("POST", nativeSharePath, cookie, body).status, 200);
        const auto stored = readShare(fixture, shareID);
        QCOMPARE(stored[u"message"_s].toString(), u"hello"_s);
        QCOMPARE(stored[u"destination"_s][u"thread"_s][u"_0"_s][u"id"_s].toString(), threadID);
        QCOMPARE(stored[u"files"_s].toArray().size(), 2);
        for (int i = 0; i < 2; ++i) {
            QFile file(fixture.dataDirectory() + u"/shares/"_s + shareID + u'/' +
                       stored[u"files"_s][i][u"storedAs"_s].toString());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), images.at(i));
        }

        // Sent again (the answer was lost, say): accepted, not stored a second time.
        auto replay = inlineBody(shareID, {QByteArray("other")});
        QCOMPARE(fixture.call("POST", nativeSharePath, cookie, replay).status, 200);
        QCOMPARE(storedShares(fixture), 1);
        QCOMPARE(readShare(fixture, shareID), stored);

        // The uploaded form under a stored ID neither stores nor takes its uploads.
        const auto prepare = fixture.call("POST", nativeSharePath, cookie, prepareBody(2));
        const auto uploadID = prepare.json[u"uploadID"_s].toString();
        QCOMPARE(fixture.upload(prepare.json[u"uploadURL"_s].toString(), "hi").status, 200);
        QCOMPARE(fixture.call("POST", nativeSharePath, cookie, filesBody(shareID, {{uploadID, 2}}))
                     .status,
                 200);
        QCOMPARE(readShare(fixture, shareID), stored);
        const auto fresh = newShareID();
        QCOMPARE(
            fixture.call("POST", nativeSharePath, cookie, filesBody(fresh, {{uploadID, 2}})).status,
            200);
        QCOMPARE(
            fixture.call("POST", nativeSharePath, cookie, filesBody(fresh, {{uploadID, 2}})).status,
            200);
        QCOMPARE(storedShares(fixture), 2);

        // Another account cannot take over a share ID.
        QCOMPARE(
            fixture.call("POST", nativeSharePath, fixture.signIn(u"mallory"_s), inlineBody(shareID))
                .status,
            409);
    }

    void shareRefused_data()
    {
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("share ID not a UUID") << inlineBody(u"../../escape"_s) << 400;
        QTest::newRow("share ID in capitals") << inlineBody(newShareID().toUpper()) << 400;
        auto noMessage = inlineBody(newShareID());
        noMessage.remove(u"message"_s);
        QTest::newRow("no message") << noMessage << 400;
        auto badImage = inlineBody(newShareID(), {QByteArray("x")});
        badImage[u"images"_s] = QJsonArray{QJsonObject{{u"data"_s, u"not base64!"_s},
                                                       {u"filename"_s, u"a.jpg"_s},
                                                       {u"mediaType"_s, u"image/jpeg"_s}}};
        QTest::newRow("image not base64") << badImage << 400;
        auto unknownThread = inlineBody(newShareID());
        unknownThread[u"threadID"_s] = u"no-such-thread"_s;
        QTest::newRow("unknown thread") << unknownThread << 404;
        auto fraction = prepareBody(1);
        fraction[u"file"_s] = QJsonObject{
            {u"filename"_s, u"a"_s}, {u"mediaType"_s, u"text/plain"_s}, {u"sizeBytes"_s, 1.5}};
        QTest::newRow("size not whole") << fraction << 400;
        QTest::newRow("upload never prepared")
            << filesBody(newShareID(), {{u"upl-00000000-0000-0000-0000-000000000000"_s, 1}}) << 400;
    }

    void shareRefused()
    {
        QFETCH(QJsonObject, body);
        QFETCH(int, status);
        DevServiceFixture fixture;
        const auto reply = fixture.call("POST", nativeSharePath, fixture.signIn(), body);
        QCOMPARE(reply.status, status);
        QVERIFY(!reply.json.value(u"message"_s).toString().isEmpty());
        QCOMPARE(storedShares(fixture), 0);
    }

    // A file name from the sender never leaves the share's files/ directory, and any name a
    // Linux file may have is stored, its index in front of it.
    void storedFileNames_data()
    {
        QTest::addColumn<QString>("filename");
        QTest::addColumn<QString>("storedAs");
        QTest::newRow("climbing out") << u"../../x"_s << u"files/1-.._.._x"_s;
        // 125 two-byte letters and ".txt": 254 bytes.
        const QString longest = QString(125, QChar(0xe9)) + u".txt"_s;
        QTest::newRow("254 bytes")
            << longest << u"files/1-"_s + QString(124, QChar(0xe9)) + u".txt"_s;
    }

    void storedFileNames()
    {
        QFETCH(QString, filename);
        QFETCH(QString, storedAs);
        DevServiceFixture fixture;
        const auto cookie = fixture.signIn();
        const auto prepare =
            fixture.call("POST", nativeSharePath, cookie, prepareBody(1, filename));
        QCOMPARE(fixture.upload(prepare.json[u"uploadURL"_s].toString(), "x").status, 200);
        const auto shareID = newShareID();
        QCOMPARE(
            fixture
                .call("POST", nativeSharePath, cookie,
                      filesBody(shareID, {{prepare.json[u"uploadID"_s].toString(), 1}}, filename))
                .status,
            200);
        const auto stored = readShare(fixture, shareID)[u"files"_s][0].toObject();
        QCOMPARE(stored[u"filename"_s].toString(), filename);
        QCOMPARE(stored[u"storedAs"_s].toString(), storedAs);
    }

    // One line per request with method, path, status and sizes; never a cookie value or an
    // upload signature.
    void requestLog()
    {
        DevServiceOptions options;
        options.rotateEvery = 1;
        DevServiceFixture fixture(options);
        const auto cookie = fixture.signIn();
        const auto rotated =
            fixture.call("GET", destinationsPath, cookie).setCookie("zelt_session");
        QVERIFY(rotated);
        const auto prepare = fixture.call("POST", nativeSharePath, *rotated, prepareBody(3));
        const auto url = prepare.json[u"uploadURL"_s].toString();
        QCOMPARE(fixture.upload(url, "abc").status, 200);
        // The service writes its line after the answer has left, so the client may be first.
        const auto logged = [&fixture] {
            const auto lines = fixture.logLines();
            return std::any_of(lines.begin(), lines.end(),
                               [](const QString &line) {
                                   return line.startsWith(
                                       u"GET /api/tovi/native-share/destinations 200 in=0 out="_s);
                               }) &&
                   std::any_of(lines.begin(), lines.end(), [](const QString &line) {
                       return line.startsWith(u"PUT /storage/upl-"_s) &&
                              line.contains(u" 200 in=3 "_s);
                   });
        };
        QTRY_VERIFY_WITH_TIMEOUT(logged(), 10000);
        const auto lines = fixture.logLines();
        const auto signature = QUrlQuery(QUrl(url)).queryItemValue(u"signature"_s);
        for (const auto &line : lines) {
            QVERIFY2(!line.contains(QString::fromLatin1(cookie)), qPrintable(line));
            QVERIFY2(!line.contains(QString::fromLatin1(*rotated)), qPrintable(line));
            QVERIFY2(!line.contains(signature), qPrintable(line));
        }
    }
};

QTEST_GUILESS_MAIN(TestDevService)
#include "tst_devservice.moc"
