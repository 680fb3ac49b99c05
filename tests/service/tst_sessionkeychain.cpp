#include "KeychainRotator.h"
#include "service/BundleConfiguration.h"
#include "service/FileSessionKeychain.h"
#include "service/SharedSessionStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

NativeSharedSession session(const QString &value)
{
    NativeSharedSession s;
    s.baseOrigin = u"https://zelt.app"_s;
    s.cookieName = u"sid"_s;
    s.cookieValue = value;
    s.userID = u"user-1"_s;
    return s;
}

} // namespace

// Every case runs against both backends: the file store and the desktop keyring.
class TestSessionKeychain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("file") << u"file"_s;
        QTest::newRow("secret-service") << u"secret-service"_s;
    }

    void init()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend == u"secret-service" && qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs the session bus with a keyring (run through ctest)");
        // A fresh access group per case keeps cases and parallel test processes apart.
        m_accessGroup =
            u"app.zelt.test.%1.%2"_s.arg(QCoreApplication::applicationPid()).arg(++m_case);
        m_store = std::make_unique<SharedSessionStore>(
            KeychainRotator::open(backend, m_dir.path(), m_accessGroup));
        m_keychain = m_store->keychain();
    }

    void cleanup()
    {
        if (m_keychain)
            m_keychain->remove();
        m_keychain = nullptr;
        m_store.reset();
    }

    void readAbsent()
    {
        QVERIFY(!m_keychain->read());
        QVERIFY(!m_store->loadStoredSession());
    }

    void storeAndRead()
    {
        const auto s = session(u"abc"_s);
        m_keychain->store(s.fingerprint(), s.toJson());
        QCOMPARE(m_keychain->read(), std::optional(s.toJson()));
        // Storing again replaces the one item.
        const auto t = session(u"def"_s);
        m_keychain->store(t.fingerprint(), t.toJson());
        QCOMPARE(m_keychain->read(), std::optional(t.toJson()));
    }

    // A fresh account has no data directory yet.
    void storeCreatesMissingParents()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend != u"file")
            QSKIP("the file store only");
        const QString nested = m_dir.filePath(u"fresh/share/app.zelt.keychain"_s);
        FileSessionKeychain keychain(nested, m_accessGroup);
        const auto s = session(u"abc"_s);
        keychain.store(s.fingerprint(), s.toJson());
        QCOMPARE(keychain.read(), std::optional(s.toJson()));
        QCOMPARE(QFileInfo(nested).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFile::Permissions());
    }

    void badJsonReadsAsNoSession()
    {
        m_keychain->store(QByteArray(32, 'x'), "{not json");
        QCOMPARE(m_keychain->read(), std::optional("{not json"_ba));
        QVERIFY(!m_store->loadStoredSession());
    }

    void compareAndReplace()
    {
        const auto a = session(u"a"_s);
        const auto b = session(u"b"_s);
        m_keychain->store(a.fingerprint(), a.toJson());
        m_store->storeRotatedSession(a, b);
        QCOMPARE(m_store->loadStoredSession(), std::optional(b));
        // The new fingerprint is what the next compare-and-replace matches.
        const auto c = session(u"c"_s);
        m_store->storeRotatedSession(b, c);
        QCOMPARE(m_store->loadStoredSession(), std::optional(c));
    }

    void compareAndReplaceNeverOverwritesAnotherWriter()
    {
        const auto a = session(u"a"_s);
        auto other = session(u"a"_s);
        other.storeID = u"other-store"_s; // same cookie, another fingerprint
        m_keychain->store(other.fingerprint(), other.toJson());
        try {
            m_store->storeRotatedSession(a, session(u"b"_s));
            QFAIL("replaced a session another writer stored");
        } catch (const KeychainError &error) {
            QCOMPARE(error.status(), KeychainError::Status::NotFound);
        }
        QCOMPARE(m_store->loadStoredSession(), std::optional(other));
    }

    void compareAndReplaceWithoutItem()
    {
        try {
            m_keychain->replace(session(u"a"_s).fingerprint(), session(u"b"_s).fingerprint(), "{}");
            QFAIL("replace created an item");
        } catch (const KeychainError &error) {
            QCOMPARE(error.status(), KeychainError::Status::NotFound);
        }
        QVERIFY(!m_keychain->read());
    }

    void deletion()
    {
        const auto a = session(u"a"_s);
        const auto b = session(u"b"_s);
        m_keychain->store(b.fingerprint(), b.toJson());
        // A delete bound to a session the item no longer holds leaves the item alone.
        m_keychain->remove(a.fingerprint());
        QCOMPARE(m_keychain->read(), std::optional(b.toJson()));
        m_keychain->remove(b.fingerprint());
        QVERIFY(!m_keychain->read());

        m_keychain->store(a.fingerprint(), a.toJson());
        m_keychain->remove();
        QVERIFY(!m_keychain->read());
        m_keychain->remove(); // deleting nothing is not an error
    }

    // A writer killed between the secret and its attribute leaves the new session under the
    // old fingerprint. What the item holds is the session readers get: a writer that read it
    // rotates or deletes it, one that read the session before the interrupted write does not.
    void interruptedRewrite_data()
    {
        QTest::addColumn<bool>("refused"); // the holder of the new session is signed out
        QTest::newRow("rotated on") << false;
        QTest::newRow("deleted") << true;
    }

    void interruptedRewrite()
    {
        QFETCH_GLOBAL(QString, backend);
        QFETCH(bool, refused);
        if (backend != u"secret-service")
            QSKIP("the file store replaces data and fingerprint in one rename");
        const auto before = session(u"before"_s);
        const auto after = session(u"after"_s);
        m_keychain->store(before.fingerprint(), after.toJson());
        QCOMPARE(m_store->loadStoredSession(), std::optional(after));

        try {
            m_store->storeRotatedSession(before, session(u"stale"_s));
            QFAIL("a rotation of the session before the interrupted write took effect");
        } catch (const KeychainError &error) {
            QCOMPARE(error.status(), KeychainError::Status::NotFound);
        }
        m_store->deleteStoredSession(before);
        QCOMPARE(m_store->loadStoredSession(), std::optional(after));

        if (refused) {
            m_store->deleteStoredSession(after);
            QVERIFY(!m_keychain->read());
            return;
        }
        const auto next = session(u"next"_s);
        m_store->storeRotatedSession(after, next);
        QCOMPARE(m_store->loadStoredSession(), std::optional(next));
        // The item carries its session's fingerprint again.
        const auto last = session(u"last"_s);
        m_store->storeRotatedSession(next, last);
        QCOMPARE(m_store->loadStoredSession(), std::optional(last));
    }

    // A writer killed before its rename leaves "<item>.new-<pid>" behind, a session inside.
    // The next write sweeps those of processes that are gone, never a running writer's.
    void leftoverTemporariesAreSwept()
    {
        QFETCH_GLOBAL(QString, backend);
        if (backend != u"file")
            QSKIP("the file store only");
        const auto a = session(u"a"_s);
        m_keychain->store(a.fingerprint(), a.toJson());
        const auto itemPath = static_cast<FileSessionKeychain *>(m_keychain)->itemPath();

        QProcess gone;
        gone.start(u"true"_s, {});
        QVERIFY(gone.waitForStarted());
        const auto gonePid = gone.processId();
        QVERIFY(gone.waitForFinished());
        QProcess running;
        running.start(u"sleep"_s, {u"60"_s});
        QVERIFY(running.waitForStarted());
        const auto leftover = itemPath + u".new-"_s + QString::number(gonePid);
        const auto inFlight = itemPath + u".new-"_s + QString::number(running.processId());
        for (const auto &path : {leftover, inFlight}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(a.toJson());
        }

        m_store->storeRotatedSession(a, session(u"b"_s));
        const bool leftoverSwept = !QFileInfo::exists(leftover);
        const bool inFlightKept = QFileInfo::exists(inFlight);
        running.kill();
        running.waitForFinished();
        QFile::remove(inFlight);
        QVERIFY(leftoverSwept);
        QVERIFY(inFlightKept);
        QCOMPARE(m_store->loadStoredSession(), std::optional(session(u"b"_s)));
    }

    // A second process rotates the item while this one does too. Every rotation that takes
    // effect must start from the value the previous one left: if two ever started from the
    // same value, one of them overwrote a newer session.
    void concurrentRotations()
    {
        QFETCH_GLOBAL(QString, backend);
        const int count = backend == u"file" ? 400 : 60;
        const auto initial = session(u"initial"_s);
        m_keychain->store(initial.fingerprint(), initial.toJson());

        QProcess other;
        other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        other.start(QCoreApplication::applicationDirPath() + u"/keychain-rotator"_s,
                    {backend, m_dir.path(), m_accessGroup, u"other"_s, QString::number(count)});
        QVERIFY(other.waitForStarted());
        QStringList applied = KeychainRotator::rotate(*m_keychain, u"self"_s, count);
        QVERIFY(other.waitForFinished(120000));
        QCOMPARE(other.exitCode(), 0);
        for (const auto &line : QString::fromUtf8(other.readAllStandardOutput()).split(u'\n'))
            if (!line.isEmpty())
                applied.append(line);

        QHash<QString, QString> nextOf;
        for (const auto &line : applied) {
            const auto parts = line.split(u' ');
            QVERIFY2(!nextOf.contains(parts[0]),
                     qPrintable(u"two rotations replaced "_s + parts[0]));
            nextOf.insert(parts[0], parts[1]);
        }
        QString value = initial.cookieValue;
        for (qsizetype i = 0; i < applied.size(); ++i)
            value = nextOf.value(value);
        const auto final = NativeSharedSession::fromJson(m_keychain->read().value_or(QByteArray()));
        QVERIFY(final);
        QCOMPARE(final->cookieValue, value);
        QVERIFY(applied.size() >= count / 4);
    }

private:
    QTemporaryDir m_dir;
    QString m_accessGroup;
    int m_case = 0;
    std::unique_ptr<SharedSessionStore> m_store;
    SessionKeychain *m_keychain = nullptr;
};

QTEST_GUILESS_MAIN(TestSessionKeychain)
#include "tst_sessionkeychain.moc"
