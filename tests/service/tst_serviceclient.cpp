#include "SharedStateSignalCounter.h"
#include "TaskResult.h"
#include "TestCertificates.h"
#include "TestHttpsServer.h"
#include "service/AppIdentifiers.h"
#include "service/FileSessionKeychain.h"
#include "service/ServiceClient.h"
#include "service/ServiceError.h"
#include "service/SessionHolder.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

NativeSharedSession session(const QString &value)
{
    NativeSharedSession s;
    s.baseOrigin = u"https://127.0.0.1"_s;
    s.cookieName = u"sid"_s;
    s.cookieValue = value;
    s.additionalCookies = QList<NativeSharedSessionCookie>{{u"a"_s, u"1"_s}};
    s.supersededCookieValues = QStringList{u"older"_s};
    return s;
}

struct Outcome
{
    std::optional<HttpResponse> response;
    std::exception_ptr error;

    QString message() const { return error ? userFacingMessage(error) : QString(); }
    template <typename E>
    bool failedWith() const
    {
        try {
            if (error)
                std::rethrow_exception(error);
        } catch (const E &) {
            return true;
        } catch (...) {
        }
        return false;
    }
};

ServiceRequest internalAppRequest()
{
    ServiceRequest request;
    request.method = "POST";
    request.relativePath = u"api/internal/app"_s;
    request.body = R"({"method":"beginSudoPasskeyAuthentication"})";
    request.contentType = "application/json";
    request.timeout = std::chrono::seconds(30);
    return request;
}

} // namespace

class TestServiceClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_certificates = TestCertificates::generate();
        m_notifications = std::make_unique<SharedStateSignalCounter>();
        QVERIFY2(m_notifications->isListening(), "needs a session bus (run through ctest)");
    }

    void init()
    {
        m_server = std::make_unique<TestHttpsServer>(m_certificates);
        QVERIFY(m_server->listen());
        m_dir = std::make_unique<QTemporaryDir>();
        m_holder = makeHolder(m_server->origin(), {m_certificates.authority});
        m_notificationsBefore = m_notifications->count();
    }

    void cleanup()
    {
        delete m_holder;
        m_server.reset();
        m_dir.reset();
    }

    void requestShape_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<bool>("acceptJson");
        QTest::addColumn<bool>("trailingSlash");
        QTest::addColumn<QByteArray>("target");

        QTest::newRow("internal app")
            << "POST"_ba << u"api/internal/app"_s << QString() << R"({"method":"m","params":{}})"_ba
            << "application/json"_ba << true << false << "/api/internal/app"_ba;
        QTest::newRow("origin with trailing slash")
            << "POST"_ba << u"api/tovi/native-share"_s << QString() << R"({"kind":"x"})"_ba
            << "application/json"_ba << true << true << "/api/tovi/native-share"_ba;
        QTest::newRow("destinations")
            << "GET"_ba << u"api/tovi/native-share/destinations"_s << u"q=abc"_s << QByteArray()
            << QByteArray() << true << false << "/api/tovi/native-share/destinations?q=abc"_ba;
        QTest::newRow("upload proxy")
            << "PUT"_ba << u"api/attachments/upload-proxy"_s << QString()
            << "\x89PNG\r\n\x1a\n-bytes"_ba
            << "image/png"_ba << false << false << "/api/attachments/upload-proxy"_ba;
    }

    void requestShape()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QString, query);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(bool, acceptJson);
        QFETCH(bool, trailingSlash);
        QFETCH(QByteArray, target);

        if (trailingSlash) {
            delete m_holder;
            QUrl origin = m_server->origin();
            origin.setPath(u"/"_s);
            m_holder = makeHolder(origin, {m_certificates.authority});
        }
        m_server->enqueue(ScriptedResponse::json(200, "{}"));
        ServiceRequest request;
        request.method = method;
        request.relativePath = path;
        request.encodedQuery = query;
        request.body = body;
        request.contentType = contentType;
        request.acceptJson = acceptJson;
        const auto outcome = send(request);
        QVERIFY2(outcome.response, qPrintable(outcome.message()));

        QCOMPARE(m_server->requests().size(), 1);
        const auto &recorded = m_server->requests().first();
        QCOMPARE(recorded.method, method);
        QCOMPARE(recorded.target, target);
        QCOMPARE(recorded.body, body);
        QCOMPARE(recorded.headerValues("Accept"),
                 acceptJson ? QList<QByteArray>{"application/json"} : QList<QByteArray>{});
        QCOMPARE(recorded.headerValues("Content-Type"),
                 body.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{contentType});
        QCOMPARE(recorded.headerValues("Origin"),
                 QList<QByteArray>{"https://127.0.0.1:" +
                                   QByteArray::number(m_server->origin().port())});
        // The session's cookies and nothing else: superseded values never travel.
        QCOMPARE(recorded.headerValues("Cookie"), QList<QByteArray>{"sid=abc; a=1"});
        QCOMPARE(recorded.header("User-Agent"), HttpTransfer::userAgent());

        // Nothing beyond these: no credentials or cookies from anywhere else.
        QStringList names;
        for (const auto &header : recorded.headers)
            names.append(QString::fromLatin1(header.first).toLower());
        names.sort();
        QStringList expected{
            u"accept-encoding"_s, u"accept-language"_s, u"connection"_s, u"cookie"_s, u"host"_s,
            u"origin"_s,          u"user-agent"_s};
        if (acceptJson)
            expected.append(u"accept"_s);
        if (!body.isEmpty())
            expected.append({u"content-type"_s, u"content-length"_s});
        else // a GET that must not be answered from a cache on the way
            expected.append({u"cache-control"_s, u"pragma"_s});
        expected.sort();
        QCOMPARE(names, expected);
        if (body.isEmpty())
            QCOMPARE(recorded.header("Cache-Control"), "no-cache"_ba);
    }

    void noSessionSendsNothing()
    {
        m_holder->setSharedSession(std::nullopt);
        const auto outcome = send(internalAppRequest());
        QVERIFY(outcome.failedWith<ShareError>());
        QCOMPARE(outcome.message(), u"Open Zelt and sign in first."_s);
        QTest::qWait(50);
        QVERIFY(m_server->requests().isEmpty());
    }

    void refusedSession_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("owned");
        QTest::addColumn<bool>("otherHost"); // the redirect names another host
        QTest::addColumn<bool>("rotates");   // the answer also sets a new main cookie

        QTest::newRow("302 owned") << 302 << true << false << false;
        QTest::newRow("307 owned") << 307 << true << false << false;
        QTest::newRow("401 owned") << 401 << true << false << false;
        QTest::newRow("401 after the main application signed in again")
            << 401 << false << false << false;
        QTest::newRow("302 not owned") << 302 << false << false << false;
        QTest::newRow("302 to another host") << 302 << true << true << false;
        QTest::newRow("308 to another host") << 308 << true << true << false;
        // A refusal that rotates the cookie too: the refused session still goes, and the
        // rotated one is neither kept nor announced.
        QTest::newRow("401 rotating, owned") << 401 << true << false << true;
        QTest::newRow("302 rotating, owned") << 302 << true << false << true;
        QTest::newRow("401 rotating, not owned") << 401 << false << false << true;
    }

    void refusedSession()
    {
        QFETCH(int, status);
        QFETCH(bool, owned);
        QFETCH(bool, otherHost);
        QFETCH(bool, rotates);
        const auto stored = owned ? session(u"abc"_s) : session(u"newer"_s);
        keychain()->store(stored.fingerprint(), stored.toJson());
        // A server of its own, trusted like the service: nothing may reach it, least of all
        // the session's cookies.
        TestHttpsServer other(m_certificates);
        QVERIFY(other.listen());
        other.setHandler([](const RecordedRequest &) { return ScriptedResponse::json(200, "{}"); });

        ScriptedResponse answer = ScriptedResponse::json(status, R"({"message":"go away"})");
        const QUrl elsewhere =
            (otherHost ? other.origin() : m_server->origin()).resolved(QUrl(u"/login"_s));
        answer.headers.append(std::pair<QByteArray, QByteArray>("Location", elsewhere.toEncoded()));
        if (rotates)
            answer.headers.append(
                std::pair<QByteArray, QByteArray>("Set-Cookie", "sid=rotated; Path=/"));
        m_server->enqueue(answer);
        m_server->enqueue(ScriptedResponse::json(200, "{}"));

        const auto outcome = send(internalAppRequest());
        QCOMPARE(outcome.message(), u"Open Zelt and sign in first."_s);
        QTest::qWait(50);
        QCOMPARE(m_server->requests().size(), 1); // the redirect is not followed
        QCOMPARE(other.requests().size(), 0);
        QCOMPARE(keychain()->read(),
                 owned ? std::optional<QByteArray>() : std::optional(stored.toJson()));
        QCOMPARE(m_holder->sharedSession(), std::optional(session(u"abc"_s)));
        QCOMPARE(notificationsSoFar(), 0);
    }

    void rotationWritesBackOwnedItem()
    {
        const auto original = session(u"abc"_s);
        keychain()->store(original.fingerprint(), original.toJson());
        auto answer = ScriptedResponse::json(200, "{}");
        answer.headers.append(std::pair<QByteArray, QByteArray>(
            "Set-Cookie", "sid=rotated; Path=/; Secure; HttpOnly"));
        answer.headers.append(std::pair<QByteArray, QByteArray>("Set-Cookie", "tracking=1"));
        m_server->enqueue(answer);
        m_server->enqueue(ScriptedResponse::json(200, "{}"));

        QVERIFY(send(internalAppRequest()).response);
        const auto rotated = m_holder->sharedSession();
        QVERIFY(rotated);
        QCOMPARE(rotated->cookieValue, u"rotated"_s);
        QCOMPARE(rotated->supersededCookieValues, std::optional(QStringList{u"older"_s, u"abc"_s}));
        QCOMPARE(NativeSharedSession::fromJson(keychain()->read().value_or(QByteArray())), rotated);
        QCOMPARE(notificationsSoFar(), 1);

        // The next request carries the new value, and no cookie the service set on its own.
        QVERIFY(send(internalAppRequest()).response);
        QCOMPARE(m_server->requests().last().headerValues("Cookie"),
                 QList<QByteArray>{"sid=rotated; a=1"});
        QCOMPARE(notificationsSoFar(), 1);
    }

    void rotationWhileAnotherSessionOwnsTheItem()
    {
        const auto newer = session(u"newer"_s);
        keychain()->store(newer.fingerprint(), newer.toJson());
        auto answer = ScriptedResponse::json(200, "{}");
        answer.headers.append(std::pair<QByteArray, QByteArray>("Set-Cookie", "sid=rotated"));
        m_server->enqueue(answer);

        QVERIFY(send(internalAppRequest()).response);
        QCOMPARE(m_holder->sharedSession()->cookieValue, u"rotated"_s);
        QCOMPARE(keychain()->read(), std::optional(newer.toJson()));
        QCOMPARE(notificationsSoFar(), 0);
    }

    void answers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("failure"); // null: success
        QTest::addColumn<bool>("passkey");

        const auto sudo = R"({"message":"T","code":"SUDO_AUTH_REQUIRED"})"_ba;
        QTest::newRow("403 sudo") << 403 << sudo
                                  << u"Authenticate with your passkey to send this."_s << true;
        QTest::newRow("400 with the sudo code") << 400 << sudo << u"T"_s << false;
        QTest::newRow("403 without code") << 403 << R"({"message":"T"})"_ba << u"T"_s << false;
        QTest::newRow("403 other code")
            << 403 << R"({"message":"T","code":"sudo_auth_required"})"_ba << u"T"_s << false;
        QTest::newRow("403 null code")
            << 403 << R"({"message":"T","code":null})"_ba << u"T"_s << false;
        QTest::newRow("empty message") << 422 << R"({"message":""})"_ba << u""_s << false;
        QTest::newRow("500 HTML") << 500 << "<html><body>Bad gateway</body></html>"_ba
                                  << u"Zelt could not receive the share."_s << false;
        QTest::newRow("500 code without message")
            << 500 << R"({"code":"X"})"_ba << u"Zelt could not receive the share."_s << false;
        QTest::newRow("500 message not a string")
            << 500 << R"({"message":5})"_ba << u"Zelt could not receive the share."_s << false;
        QTest::newRow("404 empty")
            << 404 << QByteArray() << u"Zelt could not receive the share."_s << false;
        QTest::newRow("200") << 200 << R"({"ok":true})"_ba << QString() << false;
        QTest::newRow("204") << 204 << QByteArray() << QString() << false;
    }

    void answers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, failure);
        QFETCH(bool, passkey);
        const auto original = session(u"abc"_s);
        keychain()->store(original.fingerprint(), original.toJson());
        m_server->enqueue(ScriptedResponse::json(status, body));

        const auto outcome = send(internalAppRequest());
        if (failure.isNull()) {
            QVERIFY2(outcome.response, qPrintable(outcome.message()));
            QCOMPARE(outcome.response->statusCode, std::optional(status));
            QCOMPARE(outcome.response->body, body);
        } else {
            QVERIFY(!outcome.response);
            QCOMPARE(outcome.message(), failure);
            QCOMPARE(outcome.failedWith<PasskeyRequiredError>(), passkey);
            QCOMPARE(outcome.failedWith<ShareError>(), !passkey);
        }
        // None of these touch the session or the item.
        QCOMPARE(m_holder->sharedSession(), std::optional(original));
        QCOMPARE(keychain()->read(), std::optional(original.toJson()));
    }

    // Past the ceiling the body is abandoned, but the status line and the headers arrived
    // whole: a refusal still signs out and a rotation is still kept, while an answer whose
    // body was the point (a success, an error's message) is not a valid response.
    void bodyCeiling_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("closeDelimited");
        QTest::addColumn<bool>("rotates");
        QTest::addColumn<QString>("failure"); // null: accepted

        const qint64 ceiling = HttpTransfer::defaultMaximumBodySize;
        const auto invalid = u"Zelt did not return a valid response."_s;
        const auto signIn = u"Open Zelt and sign in first."_s;
        QTest::newRow("at the ceiling") << 200 << ceiling << false << false << QString();
        QTest::newRow("past the ceiling, announced")
            << 200 << ceiling + 1 << false << false << invalid;
        QTest::newRow("past the ceiling, streamed")
            << 200 << ceiling + 1 << true << false << invalid;
        QTest::newRow("401 past the ceiling, announced")
            << 401 << ceiling + 1 << false << false << signIn;
        QTest::newRow("401 past the ceiling, streamed")
            << 401 << ceiling + 1 << true << false << signIn;
        QTest::newRow("302 past the ceiling") << 302 << ceiling + 1 << false << false << signIn;
        QTest::newRow("200 past the ceiling, rotating")
            << 200 << ceiling + 1 << false << true << invalid;
        QTest::newRow("500 past the ceiling, rotating")
            << 500 << ceiling + 1 << true << true << invalid;
    }

    void bodyCeiling()
    {
        QFETCH(int, status);
        QFETCH(qint64, size);
        QFETCH(bool, closeDelimited);
        QFETCH(bool, rotates);
        QFETCH(QString, failure);
        const auto original = session(u"abc"_s);
        keychain()->store(original.fingerprint(), original.toJson());
        auto answer = ScriptedResponse::json(status, QByteArray(size, ' '));
        answer.closeDelimited = closeDelimited;
        if (rotates)
            answer.headers.append(std::pair<QByteArray, QByteArray>("Set-Cookie", "sid=rotated"));
        m_server->enqueue(answer);

        const auto outcome = send(internalAppRequest());
        QCOMPARE(outcome.response.has_value(), failure.isNull());
        if (failure.isNull())
            QCOMPARE(outcome.response->body.size(), size);
        else
            QCOMPARE(outcome.message(), failure);

        const bool refused = status == 401 || (status >= 300 && status <= 399);
        const auto stored = NativeSharedSession::fromJson(keychain()->read().value_or(""));
        if (refused) {
            QVERIFY(!stored);
            QCOMPARE(m_holder->sharedSession(), std::optional(original));
        } else {
            const auto expected = rotates ? u"rotated"_s : u"abc"_s;
            QCOMPARE(m_holder->sharedSession()->cookieValue, expected);
            QVERIFY(stored);
            QCOMPARE(stored->cookieValue, expected);
            QCOMPARE(notificationsSoFar(), rotates ? 1 : 0);
        }
    }

    void stalledServerTimesOut()
    {
        ScriptedResponse stall;
        stall.stall = true;
        m_server->enqueue(stall);
        auto request = internalAppRequest();
        request.timeout = std::chrono::milliseconds(400);

        const auto outcome = send(request);
        QVERIFY(outcome.failedWith<TransportError>());
        QCOMPARE(outcome.message(), u"The request timed out."_s);
        QCOMPARE(m_server->requests().size(), 1);
    }

    // The time-out counts silence, not the whole call: an answer that trickles in, each byte
    // sooner than the time-out, is read whole however long it takes; a pause longer than the
    // time-out ends it; and the caller can abort it half-way.
    void tricklingAnswer_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("abortHalfWay");
        QTest::addColumn<QString>("failure"); // null: read whole
        QTest::newRow("steady") << 40 << false << QString();
        QTest::newRow("pauses past the time-out") << 600 << false << u"The request timed out."_s;
        QTest::newRow("aborted") << 40 << true << QString();
    }

    void tricklingAnswer()
    {
        QFETCH(int, interval);
        QFETCH(bool, abortHalfWay);
        QFETCH(QString, failure);
        const QByteArray body = R"({"ok":true,"padding":"0123"})";
        auto answer = ScriptedResponse::json(200, body);
        answer.trickle = std::chrono::milliseconds(interval);
        m_server->enqueue(answer);
        auto request = internalAppRequest();
        request.timeout = std::chrono::milliseconds(300);
        RequestAbort abort;
        if (abortHalfWay) {
            request.abort = &abort;
            QTimer::singleShot(interval * body.size() / 2, &abort, &RequestAbort::abort);
        }

        QElapsedTimer clock;
        clock.start();
        const auto outcome = send(request);
        if (abortHalfWay) {
            QVERIFY(outcome.failedWith<TransportError>());
            QVERIFY(outcome.message() != u"The request timed out."_s);
            QVERIFY(clock.elapsed() < interval * body.size());
        } else if (failure.isNull()) {
            QVERIFY2(outcome.response, qPrintable(outcome.message()));
            QCOMPARE(outcome.response->body, body);
            QVERIFY(clock.elapsed() > request.timeout.count());
        } else {
            QVERIFY(outcome.failedWith<TransportError>());
            QCOMPARE(outcome.message(), failure);
        }
    }

    void abortEndsTheCall()
    {
        ScriptedResponse stall;
        stall.stall = true;
        m_server->enqueue(stall);
        RequestAbort abort;
        connect(m_server.get(), &TestHttpsServer::requestReceived, &abort, &RequestAbort::abort);
        auto request = internalAppRequest();
        request.abort = &abort;

        const auto outcome = send(request);
        QVERIFY(outcome.failedWith<TransportError>());
        QVERIFY(outcome.message() != u"The request timed out."_s);
    }

    void untrustedCertificateIsRefused()
    {
        delete m_holder;
        m_holder = makeHolder(m_server->origin(), {});
        m_server->enqueue(ScriptedResponse::json(200, "{}"));
        const auto outcome = send(internalAppRequest());
        QVERIFY(outcome.failedWith<TransportError>());
        QVERIFY(m_server->requests().isEmpty());
    }

private:
    SessionHolder *makeHolder(const QUrl &origin, const QList<QSslCertificate> &authorities)
    {
        auto keychain = std::make_unique<FileSessionKeychain>(m_dir->path(), u"app.zelt.test"_s);
        auto environment = std::make_shared<ServiceEnvironment>(
            ServiceOrigin{origin, ServiceOrigin::Source::Development},
            std::make_shared<SharedSessionStore>(std::move(keychain)), authorities);
        return new SessionHolder(environment, session(u"abc"_s));
    }

    SessionKeychain *keychain() const { return m_holder->environment()->sessionStore().keychain(); }

    Outcome send(const ServiceRequest &request)
    {
        auto result = TaskResult<HttpResponse>::wait(ServiceClient::send(m_holder, request));
        return {std::move(result.value), result.error};
    }

    int notificationsSoFar() { return m_notifications->count() - m_notificationsBefore; }

    TestCertificates m_certificates;
    std::unique_ptr<TestHttpsServer> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
    SessionHolder *m_holder = nullptr;
    std::unique_ptr<SharedStateSignalCounter> m_notifications;
    int m_notificationsBefore = 0;
};

QTEST_GUILESS_MAIN(TestServiceClient)
#include "tst_serviceclient.moc"
