#include "VirtualDisplay.h"
#include "window/DisplayServer.h"
#include "window/WindowActivation.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Sets the variables for the scope of one case, and puts the test's own back after it.
class ScopedEnvironment
{
public:
    explicit ScopedEnvironment(const QList<std::pair<const char *, QByteArray>> &variables)
    {
        for (const char *name : {"WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM",
                                 "QT_IM_MODULE", "XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
            m_saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            qunsetenv(name);
        }
        for (const auto &[name, value] : variables)
            qputenv(name, value);
    }
    ~ScopedEnvironment()
    {
        for (const auto &saved : m_saved) {
            if (saved.set)
                qputenv(saved.name, saved.value);
            else
                qunsetenv(saved.name);
        }
    }

private:
    struct Saved
    {
        const char *name;
        QByteArray value;
        bool set;
    };
    QList<Saved> m_saved;
};

QByteArray inputMethod()
{
    return qEnvironmentVariableIsSet("QT_IM_MODULE") ? qgetenv("QT_IM_MODULE") : "<unset>";
}

} // namespace

// What the sheet asks the compositor before Qt connects, against real compositors.
class TestDisplayServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void probe_data()
    {
        QTest::addColumn<QString>("compositor");
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<QByteArray>("chosenInputMethod");
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<bool>("seat");
        // What QT_IM_MODULE is while Qt connects.
        QTest::addColumn<QByteArray>("inputMethod");
        // xdg-decoration and xdg-activation, which sway offers and weston does not.
        QTest::addColumn<bool>("decorationsAndActivation");

        QTest::newRow("a seat") << u"seat"_s << QByteArray() << QByteArray() << true << true
                                << QByteArray("<unset>") << false;
        // Qt's text input would reach for the seat that is not there.
        QTest::newRow("no seat") << u"no seat"_s << QByteArray() << QByteArray() << true << false
                                 << QByteArray("compose") << false;
        QTest::newRow("no seat, an input method chosen")
            << u"no seat"_s << QByteArray() << QByteArray("ibus") << true << false
            << QByteArray("ibus") << false;
        QTest::newRow("no seat, X11 chosen") << u"no seat"_s << QByteArray("xcb") << QByteArray()
                                             << false << false << QByteArray("<unset>") << false;
        QTest::newRow("no compositor") << u"none"_s << QByteArray() << QByteArray() << false
                                       << false << QByteArray("<unset>") << false;
        // WAYLAND_SOCKET can be taken once, and that is Qt's: whether there is a seat is unknown.
        QTest::newRow("a connection handed over")
            << u"handed over"_s << QByteArray() << QByteArray() << true << false
            << QByteArray("compose") << false;
        QTest::newRow("sway") << u"sway"_s << QByteArray() << QByteArray() << true << true
                              << QByteArray("<unset>") << true;
    }

    void probe()
    {
        QFETCH(QString, compositor);
        QFETCH(QByteArray, platform);
        QFETCH(QByteArray, chosenInputMethod);
        QFETCH(bool, reachable);
        QFETCH(bool, seat);
        QFETCH(QByteArray, inputMethod);
        QFETCH(bool, decorationsAndActivation);

        const auto kind = compositor == u"seat" ? VirtualDisplay::Platform::Wayland
                          : compositor == u"sway"
                              ? VirtualDisplay::Platform::WaylandServerDecorations
                              : VirtualDisplay::Platform::WaylandWithoutSeat;
        if (!VirtualDisplay::toolsInstalled(kind))
            QSKIP("needs Xvfb, xdotool and weston (scripts/install-deps installs them)");
        std::unique_ptr<VirtualDisplay> screen;
        QList<std::pair<const char *, QByteArray>> variables;
        if (compositor == u"none") {
            variables.emplaceBack("WAYLAND_DISPLAY", "/nonexistent/wayland-0");
        } else if (compositor == u"handed over") {
            variables.emplaceBack("WAYLAND_SOCKET", "97");
        } else {
            screen = std::make_unique<VirtualDisplay>(kind);
            QVERIFY(screen->isReady());
            variables.emplaceBack("WAYLAND_DISPLAY", QFile::encodeName(screen->waylandDisplay()));
        }
        if (!platform.isEmpty())
            variables.emplaceBack("QT_QPA_PLATFORM", platform);
        if (!chosenInputMethod.isEmpty())
            variables.emplaceBack("QT_IM_MODULE", chosenInputMethod);
        const ScopedEnvironment environment(variables);

        const auto server = DisplayServer::prepare();
        QCOMPARE(server.reachable(), reachable);
        QCOMPARE(server.hasSeat(), seat);
        QCOMPARE(server.hasDecorationManager(), decorationsAndActivation);
        QCOMPARE(server.hasActivation(), decorationsAndActivation);
        // Without xdg-decoration (or without knowing of it) the sheet frames itself.
        QCOMPARE(server.windowFrame(u"wayland"_s), decorationsAndActivation
                                                       ? DisplayServer::WindowFrame::ServerDecorated
                                                       : DisplayServer::WindowFrame::Sheet);
        QCOMPARE(server.windowFrame(u"xcb"_s), DisplayServer::WindowFrame::System);
        QCOMPARE(::inputMethod(), inputMethod);
        server.applicationStarted();
        // Gone again once Qt has connected, unless it was the user's.
        QCOMPARE(::inputMethod(),
                 chosenInputMethod.isEmpty() ? QByteArray("<unset>") : chosenInputMethod);
    }

    // A token is good for one window: once the sheet has taken them, a program it starts gets
    // neither.
    void tokensReachNoOtherProgram()
    {
        const ScopedEnvironment environment(
            {{"XDG_ACTIVATION_TOKEN", "token-1"}, {"DESKTOP_STARTUP_ID", "launch-1_TIME1"}});
        const auto activation = WindowActivation::takeFromEnvironment();
        activation.applicationStarted();
        QCOMPARE(activation.token(), u"token-1"_s);
        QCOMPARE(activation.startupId(), QByteArray("launch-1_TIME1"));

        QProcess child;
        child.start(u"/usr/bin/env"_s, {});
        QVERIFY(child.waitForFinished());
        const auto started = child.readAllStandardOutput();
        QVERIFY(!started.contains("XDG_ACTIVATION_TOKEN"));
        QVERIFY(!started.contains("DESKTOP_STARTUP_ID"));
    }
};

QTEST_GUILESS_MAIN(TestDisplayServer)
#include "tst_displayserver.moc"
