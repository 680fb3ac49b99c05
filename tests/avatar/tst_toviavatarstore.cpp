#include "TestCertificates.h"
#include "TestHttpsServer.h"
#include "avatar/ToviAvatarStore.h"
#include "service/UserDefaults.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString defaultsKey = u"test.toviAvatar"_s;
const QString ignoredLine = u"Ignored a Tovi avatar with an unexpected ID or image URL"_s;
const QString couldNotLoadPrefix = u"Could not load the Tovi image: "_s;

QByteArray pngBytes(const QColor &color)
{
    QImage image(6, 8, QImage::Format_ARGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

ScriptedResponse answer(int status, const QByteArray &body)
{
    ScriptedResponse response;
    response.status = status;
    response.headers = {{"Content-Type", "image/png"}};
    response.body = body;
    return response;
}

QString cacheFile(const QString &name)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           u"/app.zelt.ZeltShareExtension/ToviAvatars/"_s + name + u".png"_s;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<ToviAvatar> remembered()
{
    const auto value = UserDefaults::standard()->value(defaultsKey);
    if (!value.isValid())
        return std::nullopt;
    return ToviAvatar::fromJson(QJsonDocument::fromJson(value.toByteArray()).object());
}

QColor colorOf(const QImage &image)
{
    return image.isNull() ? QColor() : image.pixelColor(0, 0);
}

// The avatar store's log lines while it is alive; every line still reaches the test's output.
class LogCapture
{
public:
    LogCapture()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&LogCapture::handle);
        s_previous = m_previous;
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    static const QStringList &lines() { return s_lines; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (qstrcmp(context.category, "app.zelt.ToviAvatar") == 0)
            s_lines.append(message);
        s_previous(type, context, message);
    }

    QtMessageHandler m_previous;
    static inline QtMessageHandler s_previous = nullptr;
    static inline QStringList s_lines;
};

} // namespace

class TestToviAvatarStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Test mode puts caches and defaults under $HOME/.qttest; HOME is a fresh directory.
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
                    .startsWith(m_home.path()));
        m_certificates = TestCertificates::generate();
        m_tls = QSslConfiguration::defaultConfiguration();
        m_tls.setCaCertificates({m_certificates.authority});
    }

    void init()
    {
        QVERIFY(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
                    .removeRecursively());
        UserDefaults::standard()->remove(defaultsKey);
        m_server = std::make_unique<TestHttpsServer>(m_certificates);
        QVERIFY(m_server->listen());
    }

    void cleanup() { m_server.reset(); }

    void classicImageResource()
    {
        const QImage &image = ToviAvatarStore::classicImage();
        QCOMPARE(image.size(), QSize(498, 602));

        // The eye whites are where the classic record puts them, with dark pupils, inside a head
        // of the skin colour on a transparent ground.
        const auto &face = ToviAvatar::classic().face;
        const QColor sclera(u"#e3dec7"_s);
        for (const auto &eye : {face.leftEye, face.rightEye}) {
            for (const QPointF direction : {QPointF(1, 0), QPointF(0, 1), QPointF(-1, 0)}) {
                const QPointF white = QPointF(eye.x, eye.y) + direction * eye.r * 0.75;
                QCOMPARE(image.pixelColor(white.toPoint()), sclera);
                const QPointF outside = QPointF(eye.x, eye.y) + direction * eye.r * 1.2;
                QVERIFY(image.pixelColor(outside.toPoint()) != sclera);
                QCOMPARE(image.pixelColor(outside.toPoint()).alpha(), 255);
            }
            QVERIFY(image.pixelColor(QPoint(qRound(eye.x), qRound(eye.y))).lightness() < 40);
        }
        for (const QPoint corner : {QPoint(0, 0), QPoint(497, 0), QPoint(0, 601), QPoint(497, 601)})
            QCOMPARE(image.pixelColor(corner).alpha(), 0);
    }

    void classicOfferNeedsNoRequest()
    {
        rememberCached(avatarAt(u"spring"_s, u"/spring.png"_s), pngBytes(Qt::red));
        ToviAvatarStore store(defaultsKey);
        QCOMPARE(colorOf(store.image()), QColor(Qt::red));
        QSignalSpy avatarSpy(&store, &ToviAvatarStore::avatarChanged);
        QSignalSpy imageSpy(&store, &ToviAvatarStore::imageChanged);

        // The service's classic record names an image on its own origin.
        auto classic = ToviAvatar::classic();
        classic.imageURL = url(u"/tovi/avatars/classic/image"_s);
        store.update(classic, m_server->origin(), m_tls);

        QCOMPARE(store.avatar(), classic);
        QCOMPARE(store.property("avatar").value<ToviAvatar>(), classic);
        QCOMPARE(store.image(), ToviAvatarStore::classicImage());
        QCOMPARE(avatarSpy.count(), 1);
        QCOMPARE(imageSpy.count(), 1);
        QCOMPARE(remembered(), classic);
        QCOMPARE(store.loadingID(), QString());
        QCOMPARE(store.runningDownloads(), 0);
        QVERIFY(m_server->requests().isEmpty());
    }

    void offers_data()
    {
        QTest::addColumn<QString>("id");
        // "{o}" stands for the test server's origin, "{port}" for its port.
        QTest::addColumn<QString>("imageURL");
        QTest::addColumn<QString>("baseOrigin");
        QTest::addColumn<bool>("accepted");

        const QString longest = u"0"_s + QString(63, u'z');
        const QString image = u"{o}/tovi/image.png?v=3"_s;
        QTest::newRow("service's origin") << u"spring"_s << image << u"{o}"_s << true;
        QTest::newRow("64 characters from a digit") << longest << image << u"{o}"_s << true;
        QTest::newRow("upper-case scheme and host")
            << u"spring"_s << u"HTTPS://LOCALHOST:{port}/tovi/image.png"_s
            << u"https://localhost:{port}"_s << true;

        QTest::newRow("65 characters") << longest + u'z' << image << u"{o}"_s << false;
        QTest::newRow("upper-case id") << u"Spring"_s << image << u"{o}"_s << false;
        QTest::newRow("leading dash") << u"-spring"_s << image << u"{o}"_s << false;
        QTest::newRow("empty id") << QString() << image << u"{o}"_s << false;
        QTest::newRow("path in id") << u"../spring"_s << image << u"{o}"_s << false;
        QTest::newRow("explicit 443 against none")
            << u"spring"_s << u"https://127.0.0.1:443/tovi/image.png"_s << u"https://127.0.0.1"_s
            << false;
        QTest::newRow("none against explicit 443")
            << u"spring"_s << u"https://127.0.0.1/tovi/image.png"_s << u"https://127.0.0.1:443"_s
            << false;
        QTest::newRow("other port")
            << u"spring"_s << u"https://127.0.0.1:1/tovi/image.png"_s << u"{o}"_s << false;
        QTest::newRow("other host")
            << u"spring"_s << u"https://localhost:{port}/tovi/image.png"_s << u"{o}"_s << false;
        QTest::newRow("other scheme")
            << u"spring"_s << u"http://127.0.0.1:{port}/tovi/image.png"_s << u"{o}"_s << false;
        QTest::newRow("relative image URL")
            << u"spring"_s << u"/tovi/image.png"_s << u"{o}"_s << false;
    }

    void offers()
    {
        QFETCH(QString, id);
        QFETCH(QString, imageURL);
        QFETCH(QString, baseOrigin);
        QFETCH(bool, accepted);

        m_server->setHandler(
            [](const RecordedRequest &) { return answer(200, pngBytes(Qt::red)); });
        ToviAvatarStore store(defaultsKey);
        QSignalSpy avatarSpy(&store, &ToviAvatarStore::avatarChanged);
        auto avatar = ToviAvatar::classic();
        avatar.id = id;
        avatar.imageURL = QUrl(expand(imageURL));

        LogCapture log;
        store.update(avatar, QUrl(expand(baseOrigin)), m_tls);

        if (!accepted) {
            QCOMPARE(log.lines(), QStringList{ignoredLine});
            QCOMPARE(store.loadingID(), QString());
            QCOMPARE(store.runningDownloads(), 0);
            QCOMPARE(store.avatar(), ToviAvatar::classic());
            QCOMPARE(store.image(), ToviAvatarStore::classicImage());
            QCOMPARE(avatarSpy.count(), 0);
            QCOMPARE(remembered(), std::nullopt);
            return;
        }
        QCOMPARE(store.loadingID(), id);
        QVERIFY(QTest::qWaitFor([&] { return store.runningDownloads() == 0; }, 10000));
        QCOMPARE(log.lines(), QStringList());
        QCOMPARE(store.avatar(), avatar);
        QCOMPARE(colorOf(store.image()), QColor(Qt::red));

        // A plain GET of the image: nothing of the session goes with it.
        QCOMPARE(m_server->requests().size(), 1);
        const auto &request = m_server->requests().first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.target,
                 avatar.imageURL.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority));
        QVERIFY(request.headerValues("Cookie").isEmpty());
        QVERIFY(request.headerValues("Origin").isEmpty());
    }

    void sameAvatarTwice_data()
    {
        QTest::addColumn<bool>("whileDownloading");

        QTest::newRow("image present") << false;
        QTest::newRow("while downloading") << true;
    }

    void sameAvatarTwice()
    {
        QFETCH(bool, whileDownloading);

        m_server->setHandler(
            [](const RecordedRequest &) { return answer(200, pngBytes(Qt::red)); });
        ToviAvatarStore store(defaultsKey);
        QSignalSpy avatarSpy(&store, &ToviAvatarStore::avatarChanged);
        QSignalSpy imageSpy(&store, &ToviAvatarStore::imageChanged);
        const auto spring = avatarAt(u"spring"_s, u"/spring.png"_s, u"v=3"_s);

        store.update(spring, m_server->origin(), m_tls);
        if (!whileDownloading) {
            QVERIFY(QTest::qWaitFor([&] { return store.runningDownloads() == 0; }, 10000));
            // Only the image in memory may stop the second offer, not the cache.
            QVERIFY(QFile::remove(cacheFile(u"spring-3"_s)));
        }
        store.update(spring, m_server->origin(), m_tls);
        QVERIFY(QTest::qWaitFor([&] { return store.runningDownloads() == 0; }, 10000));

        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(store.avatar(), spring);
        QCOMPARE(colorOf(store.image()), QColor(Qt::red));
        QCOMPARE(avatarSpy.count(), 1);
        QCOMPARE(imageSpy.count(), 1);
    }

    void laterOfferWins_data()
    {
        QTest::addColumn<QString>("second");

        QTest::newRow("second from cache") << u"cached"_s;
        QTest::newRow("second is classic") << u"classic"_s;
        QTest::newRow("second downloads too") << u"downloaded"_s;
    }

    // A is offered, then B before A's image has arrived: A's result is dropped whenever it
    // comes, and never cached.
    void laterOfferWins()
    {
        QFETCH(QString, second);

        m_server->setHandler([](const RecordedRequest &request) {
            return answer(200, pngBytes(request.target == "/a.png" ? Qt::red : Qt::blue));
        });
        ToviAvatarStore store(defaultsKey);
        QSignalSpy avatarSpy(&store, &ToviAvatarStore::avatarChanged);
        const auto a = avatarAt(u"autumn"_s, u"/a.png"_s);
        auto b = avatarAt(u"bloom"_s, u"/b.png"_s);
        QImage expectedImage = QImage(1, 1, QImage::Format_ARGB32);
        expectedImage.fill(Qt::blue);
        if (second == u"cached") {
            writeFile(cacheFile(u"bloom"_s), pngBytes(Qt::blue));
        } else if (second == u"classic") {
            b.id = ToviAvatar::classic().id;
            expectedImage = ToviAvatarStore::classicImage();
        }

        store.update(a, m_server->origin(), m_tls);
        QCOMPARE(store.loadingID(), a.id);
        store.update(b, m_server->origin(), m_tls);
        QVERIFY(QTest::qWaitFor([&] { return store.runningDownloads() == 0; }, 10000));

        QCOMPARE(m_server->requests().size(), second == u"downloaded" ? 2 : 1);
        QCOMPARE(store.avatar(), b);
        QCOMPARE(colorOf(store.image()), colorOf(expectedImage));
        QCOMPARE(avatarSpy.count(), 1);
        QCOMPARE(remembered(), b);
        QCOMPARE(store.loadingID(), QString());
        QVERIFY(!QFile::exists(cacheFile(u"autumn"_s)));
    }

    void downloads_data()
    {
        QTest::addColumn<ScriptedResponse>("response");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("cacheWritable");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<bool>("logged");

        const QByteArray image = pngBytes(Qt::red);
        QTest::newRow("200") << answer(200, image) << true << true << true << false;
        // Decoders stop at the image's end, so padding makes an image of any size.
        const auto padded = [&image](qint64 size) {
            return image + QByteArray(size - image.size(), '\0');
        };
        QTest::newRow("200 at the ceiling")
            << answer(200, padded(ToviAvatarStore::maximumImageSize)) << true << true << true
            << false;
        QTest::newRow("200 past the ceiling")
            << answer(200, padded(ToviAvatarStore::maximumImageSize + 1)) << true << true << false
            << true;
        auto unannounced = answer(200, padded(ToviAvatarStore::maximumImageSize + 1));
        unannounced.closeDelimited = true;
        QTest::newRow("200 past the ceiling without a length")
            << unannounced << true << true << false << true;
        QTest::newRow("404 with an image") << answer(404, image) << true << true << false << false;
        QTest::newRow("201 with an image") << answer(201, image) << true << true << false << false;
        QTest::newRow("200 not an image")
            << answer(200, "<html>sign in</html>") << true << true << false << false;
        auto redirect = answer(302, {});
        redirect.headers = {{"Location", "/moved.png"}};
        QTest::newRow("redirected") << redirect << true << true << true << false;
        QTest::newRow("untrusted certificate")
            << answer(200, image) << false << true << false << true;
        QTest::newRow("cache not writable") << answer(200, image) << true << false << true << false;
    }

    // One download and what it leaves behind; a failed one is retried by the next offer.
    void downloads()
    {
        QFETCH(ScriptedResponse, response);
        QFETCH(bool, trusted);
        QFETCH(bool, cacheWritable);
        QFETCH(bool, applied);
        QFETCH(bool, logged);

        const QByteArray good = pngBytes(Qt::red);
        m_server->setHandler([&](const RecordedRequest &request) {
            return request.target == "/moved.png" ? answer(200, good) : response;
        });
        if (!cacheWritable)
            writeFile(QFileInfo(cacheFile(u"spring-3"_s)).absolutePath(), "in the way");
        ToviAvatarStore store(defaultsKey);
        const auto spring = avatarAt(u"spring"_s, u"/spring.png"_s, u"v=3"_s);

        {
            LogCapture log;
            store.update(spring, m_server->origin(),
                         trusted ? m_tls : QSslConfiguration::defaultConfiguration());
            QCOMPARE(store.loadingID(), spring.id);
            QVERIFY(QTest::qWaitFor([&] { return store.runningDownloads() == 0; }, 20000));
            QCOMPARE(log.lines().size(), logged ? 1 : 0);
            if (logged)
                QVERIFY2(log.lines().first().startsWith(couldNotLoadPrefix),
                         qPrintable(log.lines().first()));
        }
        QCOMPARE(store.loadingID(), QString());

        if (applied) {
            QCOMPARE(store.avatar(), spring);
            QCOMPARE(colorOf(store.image()), QColor(Qt::red));
            QCOMPARE(remembered(), spring);
            if (cacheWritable) {
                const QByteArray body =
                    response.status == 200 ? response.body : answer(200, good).body;
                QCOMPARE(readFile(cacheFile(u"spring-3"_s)), body);
            }
            // The next launch shows it again, from the cache when there is one.
            ToviAvatarStore next(defaultsKey);
            QCOMPARE(next.avatar(), cacheWritable ? spring : ToviAvatar::classic());
            return;
        }

        QCOMPARE(store.avatar(), ToviAvatar::classic());
        QCOMPARE(store.image(), ToviAvatarStore::classicImage());
        QCOMPARE(remembered(), std::nullopt);
        QVERIFY(!QFile::exists(cacheFile(u"spring-3"_s)));

        const auto before = m_server->requests().size();
        m_server->setHandler([&](const RecordedRequest &) { return answer(200, good); });
        store.update(spring, m_server->origin(), m_tls);
        QVERIFY(QTest::qWaitFor([&] { return store.runningDownloads() == 0; }, 10000));
        QCOMPARE(m_server->requests().size(), before + 1);
        QCOMPARE(store.avatar(), spring);
        QCOMPARE(colorOf(store.image()), QColor(Qt::red));
    }

    // Going away mid-download aborts it quietly.
    void destroyedWhileDownloading()
    {
        ScriptedResponse stall;
        stall.stall = true;
        m_server->enqueue(stall);
        auto store = std::make_unique<ToviAvatarStore>(defaultsKey);
        LogCapture log;
        store->update(avatarAt(u"spring"_s, u"/spring.png"_s), m_server->origin(), m_tls);
        QVERIFY(QTest::qWaitFor([&] { return !m_server->requests().isEmpty(); }, 10000));
        store.reset();
        QTest::qWait(50);
        QCOMPARE(log.lines(), QStringList());
        QCOMPARE(remembered(), std::nullopt);
    }

    void restore_data()
    {
        QTest::addColumn<QByteArray>("stored");
        // Null for no cache file.
        QTest::addColumn<QByteArray>("cached");
        QTest::addColumn<bool>("restored");

        auto spring = ToviAvatar::classic();
        spring.id = u"spring"_s;
        spring.imageURL = QUrl(u"https://zelt.app/tovi/avatars/spring/image"_s);
        const QByteArray springJson = QJsonDocument(spring.toJson()).toJson();
        const QByteArray image = pngBytes(Qt::red);
        auto classic = ToviAvatar::classic();
        classic.imageURL = QUrl(u"https://zelt.app/tovi/avatars/classic/image?v=2"_s);
        const QByteArray classicJson = QJsonDocument(classic.toJson()).toJson();

        QTest::newRow("nothing remembered") << QByteArray() << QByteArray() << false;
        QTest::newRow("not JSON") << QByteArray("{") << image << false;
        QTest::newRow("not an avatar") << QByteArray(R"({"id":"spring"})") << image << false;
        QTest::newRow("cached image") << springJson << image << true;
        QTest::newRow("no cached image") << springJson << QByteArray() << false;
        QTest::newRow("cached file not an image") << springJson << QByteArray("PNG?") << false;
        QTest::newRow("classic") << classicJson << QByteArray() << true;
    }

    void restore()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, cached);
        QFETCH(bool, restored);

        if (!stored.isNull())
            UserDefaults::standard()->setValue(defaultsKey, stored);
        if (!cached.isNull())
            writeFile(cacheFile(u"spring"_s), cached);

        ToviAvatarStore store(defaultsKey);

        const auto rememberedAvatar =
            ToviAvatar::fromJson(QJsonDocument::fromJson(stored).object());
        if (!restored) {
            QCOMPARE(store.avatar(), ToviAvatar::classic());
            QCOMPARE(store.image(), ToviAvatarStore::classicImage());
        } else if (rememberedAvatar->id == ToviAvatar::classic().id) {
            QCOMPARE(store.avatar(), *rememberedAvatar);
            QCOMPARE(store.image(), ToviAvatarStore::classicImage());
        } else {
            QCOMPARE(store.avatar(), *rememberedAvatar);
            QCOMPARE(colorOf(store.image()), QColor(Qt::red));
        }
        // Construction writes nothing.
        QCOMPARE(UserDefaults::standard()->value(defaultsKey).toByteArray(), stored);
    }

private:
    QString expand(QString text) const
    {
        text.replace(u"{o}"_s, m_server->origin().toString());
        text.replace(u"{port}"_s, QString::number(m_server->origin().port()));
        return text;
    }

    QUrl url(const QString &path, const QString &query = {}) const
    {
        QUrl result = m_server->origin();
        result.setPath(path);
        if (!query.isEmpty())
            result.setQuery(query);
        return result;
    }

    ToviAvatar avatarAt(const QString &id, const QString &path, const QString &query = {}) const
    {
        auto avatar = ToviAvatar::classic();
        avatar.id = id;
        avatar.imageURL = url(path, query);
        return avatar;
    }

    static void rememberCached(const ToviAvatar &avatar, const QByteArray &image)
    {
        UserDefaults::standard()->setValue(defaultsKey, QJsonDocument(avatar.toJson()).toJson());
        writeFile(cacheFile(*avatar.cacheName()), image);
    }

    QTemporaryDir m_home;
    TestCertificates m_certificates;
    QSslConfiguration m_tls;
    std::unique_ptr<TestHttpsServer> m_server;
};

QTEST_MAIN(TestToviAvatarStore)
#include "tst_toviavatarstore.moc"
