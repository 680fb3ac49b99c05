#include "ServiceFixture.h"
#include "TaskResult.h"
#include "TestConnectProxy.h"
#include "service/FileUploadPipeline.h"
#include "service/ServiceError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

// The environment's proxy (https_proxy) while it exists: an HTTP proxy that tunnels every host
// name to the fixture's server.
class EnvironmentProxy
{
public:
    explicit EnvironmentProxy(ServiceFixture &fixture)
        : m_proxy(fixture.server().origin().port())
    {
        if (m_proxy.listen())
            qputenv("https_proxy", "http://127.0.0.1:" + QByteArray::number(m_proxy.port()));
    }
    EnvironmentProxy(const EnvironmentProxy &) = delete;
    EnvironmentProxy &operator=(const EnvironmentProxy &) = delete;
    ~EnvironmentProxy() { qunsetenv("https_proxy"); }

    bool isListening() const { return m_proxy.port() != 0; }
    const QList<QByteArray> &tunnels() const { return m_proxy.tunnels(); }

private:
    TestConnectProxy m_proxy;
};

// QCoro::Task<> has no value to keep; TaskResult needs one.
QCoro::Task<bool> uploaded(QCoro::Task<> upload)
{
    co_await std::move(upload);
    co_return true;
}

// Kept out of the test class: raw strings holding "//" confuse moc's scanner there.
const QByteArray preparedAnswer =
    R"({"uploadID":"up-1","uploadURL":"https://storage.example/put?sig=a%2Bb","x":1})";
const QByteArray missingUploadID = R"({"uploadURL":"https://s/put"})";
const QByteArray emptyFileAnswer = R"({"uploadID":"u","uploadURL":"https://s.example/p"})";
QByteArray preparedAnswerFor(const QUrl &uploadURL)
{
    return R"({"uploadID":"up-1","uploadURL":")" + uploadURL.toEncoded() + R"("})";
}

} // namespace

class TestFileUpload : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void prepareBodies_data()
    {
        QTest::addColumn<std::optional<QString>>("threadID");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("thread") << std::optional(u"t1"_s)
                                << QStringList{u"action"_s, u"file"_s, u"threadID"_s};
        QTest::newRow("tovi") << std::optional<QString>() << QStringList{u"action"_s, u"file"_s};
    }

    void prepareBodies()
    {
        QFETCH(std::optional<QString>, threadID);
        QFETCH(QStringList, keys);
        ServiceFixture fixture;
        fixture.server().enqueue(ScriptedResponse::json(200, preparedAnswer));
        const auto file = sharedFile(fixture, "report.pdf", "application/pdf", "%PDF-1.7");

        const auto result = TaskResult<FileUploadPipeline::PreparedUpload>::wait(
            FileUploadPipeline::prepareUpload(fixture.holder(), file, threadID));
        QVERIFY2(result.value, qPrintable(userFacingMessage(result.error)));
        QCOMPARE(result.value->uploadID, u"up-1"_s);
        QCOMPARE(result.value->uploadURL.toEncoded(), "https://storage.example/put?sig=a%2Bb"_ba);

        const auto &request = fixture.server().requests().first();
        QCOMPARE(request.method, "POST"_ba);
        QCOMPARE(request.target, "/api/tovi/native-share"_ba);
        QCOMPARE(request.header("Content-Type"), "application/json"_ba);
        const auto body = QJsonDocument::fromJson(request.body).object();
        QCOMPARE(body.keys(), keys);
        QCOMPARE(body.value("action"_L1).toString(), u"prepare-upload"_s);
        QCOMPARE(body.value("file"_L1).toObject(),
                 (QJsonObject{{"filename"_L1, u"report.pdf"_s},
                              {"mediaType"_L1, u"application/pdf"_s},
                              {"sizeBytes"_L1, 8}}));
        if (threadID)
            QCOMPARE(body.value("threadID"_L1).toString(), *threadID);
    }

    void prepareAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("empty upload URL") << R"({"uploadID":"u","uploadURL":""})"_ba;
        QTest::newRow("relative upload URL") << R"({"uploadID":"u","uploadURL":"/put"})"_ba;
        QTest::newRow("no upload URL") << R"({"uploadID":"u"})"_ba;
        QTest::newRow("no upload ID") << missingUploadID;
        QTest::newRow("not JSON") << "ok"_ba;
    }

    void prepareAnswers()
    {
        QFETCH(QByteArray, answer);
        ServiceFixture fixture;
        fixture.server().enqueue(ScriptedResponse::json(200, answer));
        const auto result =
            TaskResult<FileUploadPipeline::PreparedUpload>::wait(FileUploadPipeline::prepareUpload(
                fixture.holder(), sharedFile(fixture, "a.txt", "text/plain", "a"), std::nullopt));
        QCOMPARE(userFacingMessage(result.error), u"Zelt did not return a valid response."_s);
    }

    // The direct transfer goes to the storage URL; how it ends decides whether and why the
    // proxy is used.
    void directAndProxy_data()
    {
        QTest::addColumn<int>("directStatus");  // 0: stall past the time-out
        QTest::addColumn<QByteArray>("reason"); // empty: no proxy request
        QTest::addColumn<QByteArray>("statusHeader");

        QTest::newRow("204") << 204 << QByteArray() << QByteArray();
        QTest::newRow("200") << 200 << QByteArray() << QByteArray();
        QTest::newRow("403") << 403 << "direct-http-error"_ba
                             << "403"_ba;
        QTest::newRow("307 not followed") << 307 << "direct-http-error"_ba
                                          << "307"_ba;
        QTest::newRow("time-out") << 0 << "direct-network-error"_ba << QByteArray();
    }

    void directAndProxy()
    {
        QFETCH(int, directStatus);
        QFETCH(QByteArray, reason);
        QFETCH(QByteArray, statusHeader);
        ServiceFixture fixture;
        auto timeouts = fixture.holder()->environment()->timeouts();
        timeouts.upload = std::chrono::milliseconds(500);
        fixture.holder()->environment()->setTimeouts(timeouts);
        fixture.server().setHandler([directStatus](const RecordedRequest &request) {
            ScriptedResponse response;
            if (request.target.startsWith("/storage")) {
                response.status = directStatus;
                response.stall = directStatus == 0;
                if (directStatus == 307)
                    response.headers.append(
                        std::pair<QByteArray, QByteArray>("Location", "/storage/elsewhere"));
            }
            return response;
        });
        const QByteArray contents(300 * 1024, 'x');
        const auto file = sharedFile(fixture, "photo.png", "image/png", contents);
        const QUrl uploadURL = fixture.server().origin().resolved(QUrl(u"/storage/obj?sig=1"_s));

        QList<qint64> progress;
        const auto result = TaskResult<bool>::wait(uploaded(
            FileUploadPipeline::uploadFile(fixture.holder(), file, uploadURL,
                                           [&progress](qint64 sent) { progress.append(sent); })));
        QVERIFY2(result.value, qPrintable(userFacingMessage(result.error)));

        const auto &requests = fixture.server().requests();
        QCOMPARE(requests.size(), reason.isEmpty() ? 1 : 2);
        const auto &direct = requests[0];
        QCOMPARE(direct.method, "PUT"_ba);
        QCOMPARE(direct.target, "/storage/obj?sig=1"_ba);
        QCOMPARE(direct.body, contents);
        QCOMPARE(direct.header("Content-Type"), "image/png"_ba);
        for (const auto *name : {"Cookie", "Origin", "Accept"})
            QVERIFY2(direct.headerValues(name).isEmpty(), name);

        // Each transfer reports its own running total: rising to the size, and starting again
        // for the proxy.
        QVERIFY(!progress.isEmpty());
        qsizetype restarts = 0;
        for (qsizetype i = 1; i < progress.size(); ++i)
            restarts += progress[i] < progress[i - 1] ? 1 : 0;
        QCOMPARE(restarts, reason.isEmpty() ? 0 : 1);
        QCOMPARE(progress.last(), contents.size());

        if (reason.isEmpty())
            return;
        const auto &proxy = requests[1];
        QCOMPARE(proxy.method, "PUT"_ba);
        QCOMPARE(proxy.target, "/api/attachments/upload-proxy"_ba);
        QCOMPARE(proxy.body, contents);
        QCOMPARE(proxy.header("Content-Type"), "image/png"_ba);
        QCOMPARE(proxy.header("x-zelt-upload-url"), uploadURL.toEncoded());
        QCOMPARE(proxy.header("x-zelt-upload-reason"), reason);
        QCOMPARE(proxy.headerValues("x-zelt-direct-upload-status"),
                 statusHeader.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{statusHeader});
        QCOMPARE(proxy.header("Cookie"), "sid=abc"_ba);
        QVERIFY(!proxy.header("Origin").isEmpty());
        QVERIFY(proxy.headerValues("Accept").isEmpty());
    }

    // The connection is cut with a reset half-way through the body. A direct transfer falls
    // back to the proxy, which gets the whole file; a proxy transfer fails with the network's
    // own error, which is never taken for an upload.
    void connectionResetMidUpload_data()
    {
        QTest::addColumn<bool>("resetProxy");
        QTest::newRow("direct") << false;
        QTest::newRow("direct and proxy") << true;
    }

    void connectionResetMidUpload()
    {
        QFETCH(bool, resetProxy);
        ServiceFixture fixture;
        fixture.server().setReset(
            [resetProxy](const RecordedRequest &head) {
                return head.target.startsWith("/storage") ||
                       (resetProxy && head.target.endsWith("/upload-proxy"));
            },
            64 * 1024);
        fixture.server().setHandler([](const RecordedRequest &) {
            return ScriptedResponse{204, {}, {}, false, false};
        });
        const QByteArray contents = QByteArray("0123456789abcdef").repeated(256 * 1024);
        const auto file = sharedFile(fixture, "movie.bin", "application/octet-stream", contents);
        const QUrl uploadURL = fixture.server().origin().resolved(QUrl(u"/storage/obj?sig=1"_s));

        QList<qint64> progress;
        const auto result = TaskResult<bool>::wait(uploaded(
            FileUploadPipeline::uploadFile(fixture.holder(), file, uploadURL,
                                           [&progress](qint64 sent) { progress.append(sent); })));

        const auto &requests = fixture.server().requests();
        QVERIFY(fixture.server().resets() >= 1);
        QVERIFY(!requests.isEmpty());
        QVERIFY(requests.first().target.startsWith("/storage"));
        QVERIFY(requests.first().body.size() < contents.size());
        // The direct transfer is tried once: a reset leads to the proxy, not to another try.
        QCOMPARE(std::count_if(requests.cbegin(), requests.cend(),
                               [](const RecordedRequest &request) {
                                   return request.target.startsWith("/storage");
                               }),
                 1);
        const auto &last = requests.last();
        QCOMPARE(last.target, "/api/attachments/upload-proxy"_ba);
        QCOMPARE(last.header("x-zelt-upload-reason"), "direct-network-error"_ba);
        QVERIFY(last.headerValues("x-zelt-direct-upload-status").isEmpty());
        if (!resetProxy) {
            QVERIFY2(result.value, qPrintable(userFacingMessage(result.error)));
            QCOMPARE(last.body, contents);
            QCOMPARE(progress.last(), contents.size());
            return;
        }
        QVERIFY(!result.value);
        QVERIFY(last.body.size() < contents.size());
        try {
            std::rethrow_exception(result.error);
        } catch (const TransportError &error) {
            QCOMPARE(error.code(), QNetworkReply::RemoteHostClosedError);
            QVERIFY(!error.errorDescription().isEmpty());
        } catch (...) {
            QFAIL(qPrintable(u"not a transport error: "_s + userFacingMessage(result.error)));
        }
    }

    // The calls of one share (one holder) go over one connection, each with exactly its own
    // headers; another share opens a connection of its own.
    void aShareReusesItsConnection()
    {
        ServiceFixture fixture;
        const auto storage = fixture.server().origin().resolved(QUrl(u"/storage/x"_s));
        const QByteArray answer = preparedAnswerFor(storage);
        fixture.server().setHandler([answer](const RecordedRequest &request) {
            if (request.target.startsWith("/storage"))
                return ScriptedResponse{204, {}, {}, false, false};
            return ScriptedResponse::json(200, answer);
        });
        const auto share = [&fixture, &storage] {
            for (const char *name : {"a.txt", "b.txt"}) {
                const auto file = sharedFile(fixture, name, "text/plain", name);
                const auto prepared = TaskResult<FileUploadPipeline::PreparedUpload>::wait(
                    FileUploadPipeline::prepareUpload(fixture.holder(), file, std::nullopt));
                if (!prepared.value)
                    return false;
                const auto sent = TaskResult<bool>::wait(
                    uploaded(FileUploadPipeline::uploadFile(fixture.holder(), file, storage, {})));
                if (!sent.value)
                    return false;
            }
            return TaskResult<QByteArray>::wait(
                       FileUploadPipeline::postNativeShare(fixture.holder(), "{}"))
                .value.has_value();
        };

        QVERIFY(share());
        QCOMPARE(fixture.server().requests().size(), 5);
        QCOMPARE(fixture.server().connections(), 1);
        for (const auto &request : fixture.server().requests()) {
            const bool storagePut = request.target.startsWith("/storage");
            QCOMPARE(request.headerValues("Cookie").isEmpty(), storagePut);
            QCOMPARE(request.headerValues("Origin").isEmpty(), storagePut);
            QCOMPARE(request.headerValues("Accept").isEmpty(), storagePut);
        }

        fixture.resetHolder();
        QVERIFY(share());
        QCOMPARE(fixture.server().connections(), 2);
    }

    void customDomainRule_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::addColumn<bool>("proxyOnly");
        QTest::newRow("team suffix") << u"https://acme.zelt.team"_s << true;
        QTest::newRow("capitals") << u"https://Staging.ZELT.app/"_s << true;
        QTest::newRow("production") << u"https://zelt.app"_s << false;
        QTest::newRow("development") << u"https://127.0.0.1:8443"_s << false;
    }

    void customDomainRule()
    {
        QFETCH(QString, origin);
        QFETCH(bool, proxyOnly);
        QCOMPARE(FileUploadPipeline::usesProxyOnly(QUrl(origin)), proxyOnly);
    }

    // An adopted custom domain uploads only through the proxy: the storage URL is never tried.
    // The domain is reached through an HTTP proxy that tunnels to the test server.
    void customDomainUsesOnlyTheProxy()
    {
        ServiceFixture fixture;
        EnvironmentProxy proxy(fixture);
        QVERIFY(proxy.isListening());
        fixture.resetHolder(QUrl(u"https://acme.zelt.team"_s));
        fixture.server().enqueue(ScriptedResponse{200, {}, {}, false, false});

        const auto file = sharedFile(fixture, "a.png", "image/png", "png-bytes");
        const auto result = TaskResult<bool>::wait(uploaded(FileUploadPipeline::uploadFile(
            fixture.holder(), file, QUrl(u"https://storage.example/obj?sig=1"_s), {})));
        QVERIFY2(result.value, qPrintable(userFacingMessage(result.error)));

        QCOMPARE(proxy.tunnels(), QList<QByteArray>{"acme.zelt.team:443"});
        QCOMPARE(fixture.server().requests().size(), 1);
        const auto &request = fixture.server().requests().first();
        QCOMPARE(request.target, "/api/attachments/upload-proxy"_ba);
        QCOMPARE(request.header("x-zelt-upload-reason"), "custom-domain"_ba);
        QCOMPARE(request.header("x-zelt-upload-url"), "https://storage.example/obj?sig=1"_ba);
        QVERIFY(request.headerValues("x-zelt-direct-upload-status").isEmpty());
        QCOMPARE(request.header("Origin"), "https://acme.zelt.team"_ba);
        QCOMPARE(request.body, "png-bytes"_ba);
    }

    // The storage URL is reached through the environment's HTTP proxy too, tunnelled, with the
    // whole body and its own running total.
    void directUploadThroughTheEnvironmentProxy()
    {
        ServiceFixture fixture;
        EnvironmentProxy proxy(fixture);
        QVERIFY(proxy.isListening());
        fixture.server().enqueue(ScriptedResponse{204, {}, {}, false, false});

        const QByteArray contents(200 * 1024 + 7, 'z');
        const auto file = sharedFile(fixture, "notes.txt", "text/plain", contents);
        QList<qint64> progress;
        const auto result = TaskResult<bool>::wait(uploaded(FileUploadPipeline::uploadFile(
            fixture.holder(), file, QUrl(u"https://acme.zelt.team/storage/obj?sig=a%2Fb"_s),
            [&progress](qint64 sent) { progress.append(sent); })));
        QVERIFY2(result.value, qPrintable(userFacingMessage(result.error)));

        QCOMPARE(proxy.tunnels(), QList<QByteArray>{"acme.zelt.team:443"});
        QCOMPARE(fixture.server().requests().size(), 1);
        const auto &request = fixture.server().requests().first();
        QCOMPARE(request.method, "PUT"_ba);
        QCOMPARE(request.target, "/storage/obj?sig=a%2Fb"_ba);
        QCOMPARE(request.header("Host"), "acme.zelt.team"_ba);
        QCOMPARE(request.header("Content-Type"), "text/plain"_ba);
        QCOMPARE(request.body, contents);
        QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));
        QCOMPARE(progress.last(), contents.size());
    }

    // The proxy's answer is a service answer: a cookie it rotates is the session's from then on,
    // whichever of its Set-Cookie headers carries it.
    void proxyAnswerRotatesTheSession()
    {
        ServiceFixture fixture;
        fixture.server().setHandler([](const RecordedRequest &request) {
            ScriptedResponse response;
            response.status = request.target.startsWith("/storage") ? 403 : 200;
            if (response.status == 200) {
                response.headers.append(std::pair<QByteArray, QByteArray>("Set-Cookie", "a=1"));
                response.headers.append(std::pair<QByteArray, QByteArray>(
                    "Set-Cookie", "sid=rotated; Path=/; Secure; HttpOnly"));
            }
            return response;
        });
        const auto file = sharedFile(fixture, "a.png", "image/png", "png-bytes");
        const auto result = TaskResult<bool>::wait(uploaded(FileUploadPipeline::uploadFile(
            fixture.holder(), file, fixture.server().origin().resolved(QUrl(u"/storage/r"_s)),
            {})));
        QVERIFY2(result.value, qPrintable(userFacingMessage(result.error)));
        QCOMPARE(fixture.server().requests().size(), 2);
        QVERIFY(fixture.holder()->sharedSession());
        QCOMPARE(fixture.holder()->sharedSession()->cookieValue, u"rotated"_s);
    }

    void proxyFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");

        QTest::newRow("500 with a JSON message")
            << 500 << R"({"message":"Disk full"})"_ba << u"Zelt could not receive the share."_s;
        QTest::newRow("403 sudo is not recognised")
            << 403 << R"({"message":"T","code":"SUDO_AUTH_REQUIRED"})"_ba
            << u"Zelt could not receive the share."_s;
        QTest::newRow("401") << 401 << QByteArray() << u"Open Zelt and sign in first."_s;
    }

    void proxyFailures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        ServiceFixture fixture;
        fixture.server().enqueue(ScriptedResponse::json(403, "denied"));
        fixture.server().enqueue(ScriptedResponse::json(status, body));
        const auto file = sharedFile(fixture, "a.txt", "text/plain", "abc");
        const auto result = TaskResult<bool>::wait(uploaded(FileUploadPipeline::uploadFile(
            fixture.holder(), file, fixture.server().origin().resolved(QUrl(u"/storage/a"_s)),
            {})));
        QCOMPARE(userFacingMessage(result.error), message);
        QCOMPARE(fixture.server().requests().size(), 2);
    }

    void emptyFile()
    {
        ServiceFixture fixture;
        fixture.server().enqueue(ScriptedResponse::json(200, emptyFileAnswer));
        fixture.server().enqueue(ScriptedResponse{204, {}, {}, false, false});
        const auto file = sharedFile(fixture, "empty.txt", "text/plain", "");
        const auto prepared = TaskResult<FileUploadPipeline::PreparedUpload>::wait(
            FileUploadPipeline::prepareUpload(fixture.holder(), file, std::nullopt));
        QVERIFY(prepared.value);
        QCOMPARE(QJsonDocument::fromJson(fixture.server().requests()[0].body)
                     .object()
                     .value("file"_L1)
                     .toObject()
                     .value("sizeBytes"_L1),
                 QJsonValue(0));

        const auto result = TaskResult<bool>::wait(uploaded(FileUploadPipeline::uploadFile(
            fixture.holder(), file, fixture.server().origin().resolved(QUrl(u"/storage/e"_s)),
            {})));
        QVERIFY2(result.value, qPrintable(userFacingMessage(result.error)));
        QCOMPARE(fixture.server().requests()[1].body, QByteArray());
        QCOMPARE(fixture.server().requests()[1].header("Content-Length"), "0"_ba);
    }

    void unreadableFileFailsBothWays()
    {
        ServiceFixture fixture;
        auto file = sharedFile(fixture, "gone.txt", "text/plain", "abc");
        QFile::remove(file.fileURL.toLocalFile());
        const auto result = TaskResult<bool>::wait(uploaded(FileUploadPipeline::uploadFile(
            fixture.holder(), file, fixture.server().origin().resolved(QUrl(u"/storage/g"_s)),
            {})));
        QVERIFY(!result.value);
        QVERIFY(fixture.server().requests().isEmpty());
    }

private:
    static SharedFile sharedFile(const ServiceFixture &fixture, const char *name,
                                 const char *mediaType, const QByteArray &contents)
    {
        SharedFile file;
        file.id = QUuid::createUuid();
        file.filename = QString::fromUtf8(name);
        file.fileURL = fixture.writeFile(file.filename, contents);
        file.mediaType = QString::fromUtf8(mediaType);
        file.sizeBytes = contents.size();
        return file;
    }
};

QTEST_GUILESS_MAIN(TestFileUpload)
#include "tst_fileupload.moc"
