#include "VirtualDisplay.h"

#include "DevServiceFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

int countLines(const DevServiceFixture &service, const QString &start)
{
    int count = 0;
    for (const auto &line : service.logLines())
        count += line.startsWith(start);
    return count;
}

// Ended, or ended and not yet collected by whoever adopted it.
bool isRunning(pid_t process)
{
    QFile stat(u"/proc/%1/stat"_s.arg(process));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype name = line.lastIndexOf(')');
    return name > 0 && line.mid(name + 2, 1) != "Z";
}

// The sheet's own size: weston's shell places a window that fills its output at the origin.
constexpr int sheetWidth = 560;
constexpr int sheetHeight = 620;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The sheets whose environment names the compositor's socket: each display has one of its own.
QList<pid_t> sheetsConnectedTo(const QString &socket)
{
    QList<pid_t> sheets;
    const QByteArray variable = "WAYLAND_DISPLAY=" + QFile::encodeName(socket);
    for (const auto &entry : QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t process = pid_t(entry.toInt(&number));
        if (!number || readFile(u"/proc/%1/comm"_s.arg(entry)).trimmed() != "zelt-share")
            continue;
        if (readFile(u"/proc/%1/environ"_s.arg(entry)).split('\0').contains(variable) &&
            isRunning(process))
            sheets.append(process);
    }
    return sheets;
}

} // namespace

bool VirtualDisplay::toolsInstalled(Platform platform)
{
    const auto installed = [](const QString &program) {
        return !QStandardPaths::findExecutable(program).isEmpty();
    };
    const bool x11 = installed(u"Xvfb"_s) && installed(u"xdotool"_s);
    const bool weston = installed(u"weston"_s) && installed(u"weston-screenshooter"_s);
    switch (platform) {
    case Platform::X11:
        return x11;
    case Platform::Wayland:
        return x11 && weston;
    case Platform::WaylandWithoutSeat:
        return weston;
    case Platform::WaylandServerDecorations:
        break;
    }
    return installed(u"sway"_s) && installed(u"swaymsg"_s) && installed(u"grim"_s) &&
           installed(u"weston-flower"_s) && installed(u"setpriv"_s);
}

const char *VirtualDisplay::name(Platform platform)
{
    switch (platform) {
    case Platform::X11:
        return "X11";
    case Platform::Wayland:
        return "Wayland";
    case Platform::WaylandWithoutSeat:
        return "Wayland without a seat";
    case Platform::WaylandServerDecorations:
        break;
    }
    return "Wayland with server-side decorations";
}

VirtualDisplay::VirtualDisplay(Platform platform)
    : m_platform(platform)
    , m_xdotool(QStandardPaths::findExecutable(u"xdotool"_s))
{
    if (!toolsInstalled(platform))
        return;
    switch (platform) {
    case Platform::X11:
        startXvfb(u"1024x768x24"_s);
        break;
    case Platform::Wayland:
        if (startXvfb(u"%1x%2x24"_s.arg(sheetWidth).arg(sheetHeight)))
            startWeston(true);
        break;
    case Platform::WaylandWithoutSeat:
        startWeston(false);
        break;
    case Platform::WaylandServerDecorations:
        startSway();
        break;
    }
}

bool VirtualDisplay::startXvfb(const QString &screen)
{
    // -noreset: the server otherwise resets whenever its last client goes, and each xdotool call
    // is a client of its own; a sheet connecting during such a reset would be refused.
    m_server.start(QStandardPaths::findExecutable(u"Xvfb"_s),
                   {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, screen, u"-nolisten"_s, u"tcp"_s,
                    u"-noreset"_s});
    if (!m_server.waitForStarted())
        return false;
    const QDeadlineTimer deadline(30000);
    while (!m_server.canReadLine() && !deadline.hasExpired() &&
           m_server.state() == QProcess::Running)
        m_server.waitForReadyRead(1000);
    if (m_server.canReadLine())
        m_display = u":"_s + QString::fromLatin1(m_server.readLine().trimmed());
    return !m_display.isEmpty();
}

bool VirtualDisplay::startWeston(bool nested)
{
    m_runtime = std::make_unique<QTemporaryDir>();
    if (!m_runtime->isValid())
        return false;
    QFile::setPermissions(m_runtime->path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // No panel (the sheet fills the output), no screen lock or fade when idle, and no on-screen
    // keyboard over the sheet when a text field takes the focus.
    QFile configuration(m_runtime->filePath(u"weston.ini"_s));
    if (!configuration.open(QIODevice::WriteOnly))
        return false;
    configuration.write("[core]\nidle-time=0\n"
                        "[shell]\npanel-position=none\nlocking=false\n"
                        "background-color=0xff7f8c8d\n"
                        "[input-method]\npath=\n");
    configuration.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_RUNTIME_DIR"_s, m_runtime->path());
    environment.remove(u"WAYLAND_DISPLAY"_s);
    environment.remove(u"WAYLAND_SOCKET"_s);
    if (nested)
        environment.insert(u"DISPLAY"_s, m_display);
    m_compositor.setProcessEnvironment(environment);
    m_compositor.setStandardOutputFile(QProcess::nullDevice());
    m_compositor.setStandardErrorFile(QProcess::nullDevice());
    // --debug lets weston-screenshooter take the output.
    m_compositor.start(QStandardPaths::findExecutable(u"weston"_s),
                       {nested ? u"--backend=x11-backend.so"_s : u"--backend=headless-backend.so"_s,
                        u"--socket=wayland-zelt"_s, u"--config="_s + configuration.fileName(),
                        u"--log="_s + m_runtime->filePath(u"weston.log"_s), u"--use-pixman"_s,
                        u"--debug"_s, u"--idle-time=0"_s, u"--width=%1"_s.arg(sheetWidth),
                        u"--height=%1"_s.arg(sheetHeight)});
    if (!m_compositor.waitForStarted())
        return false;
    // Weston listens once it has made the socket, and takes clients once it has started.
    const QString socket = m_runtime->filePath(u"wayland-zelt"_s);
    const QDeadlineTimer deadline(30000);
    while (!QFileInfo::exists(socket + u".lock"_s) || !QFileInfo::exists(socket)) {
        if (deadline.hasExpired() || m_compositor.state() != QProcess::Running) {
            qWarning("weston did not start:\n%s",
                     readFile(m_runtime->filePath(u"weston.log"_s)).constData());
            return false;
        }
        QTest::qWait(50);
    }
    m_waylandDisplay = socket;
    return true;
}

bool VirtualDisplay::startSway()
{
    m_runtime = std::make_unique<QTemporaryDir>();
    if (!m_runtime->isValid())
        return false;
    QFile configuration(m_runtime->filePath(u"sway.conf"_s));
    if (!configuration.open(QIODevice::WriteOnly))
        return false;
    configuration.write("output HEADLESS-1 resolution 800x700\n"
                        "xwayland disable\n"
                        "focus_on_window_activation focus\n"
                        "no_focus [app_id=\"app.zelt.ZeltShare\"]\n"
                        "for_window [app_id=\"app.zelt.ZeltShare\"] floating enable\n");
    configuration.close();
    QStringList command{QStandardPaths::findExecutable(u"sway"_s), u"--config"_s,
                        configuration.fileName()};
    // Sway refuses to run as root: there it runs as nobody, whose socket root still reaches.
    if (::geteuid() == 0) {
        if (::chown(QFile::encodeName(m_runtime->path()).constData(), 65534, 65534) != 0)
            return false;
        command = QStringList{QStandardPaths::findExecutable(u"setpriv"_s), u"--reuid=65534"_s,
                              u"--regid=65534"_s, u"--clear-groups"_s} +
                  command;
    }
    QFile::setPermissions(m_runtime->path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment;
    environment.insert(u"PATH"_s, qEnvironmentVariable("PATH"));
    environment.insert(u"HOME"_s, m_runtime->path());
    environment.insert(u"XDG_RUNTIME_DIR"_s, m_runtime->path());
    // Headless, drawn in memory, and no input devices to look for.
    environment.insert(u"WLR_BACKENDS"_s, u"headless"_s);
    environment.insert(u"WLR_RENDERER"_s, u"pixman"_s);
    environment.insert(u"WLR_LIBINPUT_NO_DEVICES"_s, u"1"_s);
    m_compositor.setProcessEnvironment(environment);
    m_compositor.setWorkingDirectory(m_runtime->path());
    m_compositor.setStandardOutputFile(QProcess::nullDevice());
    m_compositor.setStandardErrorFile(m_runtime->filePath(u"sway.log"_s));
    m_compositor.start(command.first(), command.mid(1));
    if (!m_compositor.waitForStarted())
        return false;
    // Its Wayland socket, the first free wayland-N, and its IPC socket.
    const QDeadlineTimer deadline(30000);
    const QDir runtime(m_runtime->path());
    while (runtime.entryList({u"wayland-*.lock"_s}, QDir::Files).isEmpty() ||
           runtime.entryList({u"sway-ipc.*.sock"_s}, QDir::System).isEmpty()) {
        if (deadline.hasExpired() || m_compositor.state() != QProcess::Running) {
            qWarning("sway did not start:\n%s",
                     readFile(m_runtime->filePath(u"sway.log"_s)).constData());
            return false;
        }
        QTest::qWait(50);
    }
    const QString lock = runtime.entryList({u"wayland-*.lock"_s}, QDir::Files).first();
    m_swaySocket =
        runtime.filePath(runtime.entryList({u"sway-ipc.*.sock"_s}, QDir::System).first());
    // Answers once it has set up its outputs.
    while (tree().isEmpty()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
    m_waylandDisplay = runtime.filePath(lock.chopped(5));
    return true;
}

QJsonObject VirtualDisplay::tree() const
{
    QProcess tool;
    tool.start(QStandardPaths::findExecutable(u"swaymsg"_s),
               {u"--socket"_s, m_swaySocket, u"--raw"_s, u"--type"_s, u"get_tree"_s});
    tool.waitForFinished(30000);
    return QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
}

QJsonObject VirtualDisplay::windowOf(const Sheet &sheet) const
{
    if (m_platform != Platform::WaylandServerDecorations)
        return {};
    QList<QJsonObject> nodes{tree()};
    while (!nodes.isEmpty()) {
        const QJsonObject node = nodes.takeFirst();
        if (node.value("pid"_L1).toInteger() == sheet.process)
            return node;
        for (const auto &children : {node.value("nodes"_L1), node.value("floating_nodes"_L1)}) {
            for (const auto &child : children.toArray())
                nodes.append(child.toObject());
        }
    }
    return {};
}

bool VirtualDisplay::showOtherWindow()
{
    if (m_platform != Platform::WaylandServerDecorations)
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"WAYLAND_DISPLAY"_s, m_waylandDisplay);
    m_otherWindow.setProcessEnvironment(environment);
    m_otherWindow.setStandardOutputFile(QProcess::nullDevice());
    m_otherWindow.setStandardErrorFile(QProcess::nullDevice());
    m_otherWindow.start(QStandardPaths::findExecutable(u"weston-flower"_s), {});
    if (!m_otherWindow.waitForStarted())
        return false;
    return QTest::qWaitFor(
        [this] {
            return windowOf({pid_t(m_otherWindow.processId()), {}}).value("focused"_L1).toBool();
        },
        30000);
}

void VirtualDisplay::closeWindow(const Sheet &sheet) const
{
    QProcess tool;
    tool.start(QStandardPaths::findExecutable(u"swaymsg"_s),
               {u"--socket"_s, m_swaySocket, u"[pid=%1] kill"_s.arg(sheet.process)});
    tool.waitForFinished(30000);
}

QString VirtualDisplay::activationToken() const
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"WAYLAND_DISPLAY"_s, m_waylandDisplay);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral(ZELT_ACTIVATION_TOKEN_PROGRAM), {});
    tool.waitForFinished(30000);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

VirtualDisplay::~VirtualDisplay()
{
    // The compositor first: its X11 backend is a client of the X server.
    for (QProcess *process : {&m_otherWindow, &m_compositor, &m_server}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            process->waitForFinished();
        }
    }
}

bool VirtualDisplay::isReady() const
{
    return m_platform == Platform::X11 ? !m_display.isEmpty() : !m_waylandDisplay.isEmpty();
}

void VirtualDisplay::addTo(QProcessEnvironment &environment) const
{
    if (m_platform == Platform::X11) {
        environment.insert(u"DISPLAY"_s, m_display);
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        environment.remove(u"WAYLAND_DISPLAY"_s);
    } else {
        environment.insert(u"WAYLAND_DISPLAY"_s, m_waylandDisplay);
        environment.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
        environment.remove(u"DISPLAY"_s);
    }
    environment.remove(u"WAYLAND_SOCKET"_s);
}

QString VirtualDisplay::xdotool(const QStringList &arguments) const
{
    QProcess tool;
    QProcessEnvironment environment;
    environment.insert(u"DISPLAY"_s, m_display);
    tool.setProcessEnvironment(environment);
    tool.start(m_xdotool, arguments);
    tool.waitForFinished(30000);
    return QString::fromLatin1(tool.readAllStandardOutput()).trimmed();
}

VirtualDisplay::Sheet VirtualDisplay::waitForSheet(int timeout) const
{
    const QDeadlineTimer deadline(timeout);
    for (;;) {
        if (m_platform == Platform::X11) {
            // Qt's client leader window bears the title too, but no process.
            const QString found = xdotool({u"search"_s, u"--name"_s, u"^Send to Zelt$"_s});
            for (const auto &window : found.split(u'\n', Qt::SkipEmptyParts)) {
                if (const auto process = pid_t(xdotool({u"getwindowpid"_s, window}).toInt()))
                    return {process, window};
            }
        } else if (const auto sheets = sheetsConnectedTo(m_waylandDisplay); !sheets.isEmpty()) {
            return {sheets.last(), {}};
        }
        if (deadline.hasExpired())
            return {};
        QTest::qWait(200);
    }
}

QByteArray VirtualDisplay::startedWith(const Sheet &sheet, const QByteArray &variable)
{
    // The environment block as it was at exec, whatever the process did to its own since.
    const QByteArray start = variable + '=';
    for (const auto &entry : readFile(u"/proc/%1/environ"_s.arg(sheet.process)).split('\0')) {
        if (entry.startsWith(start))
            return entry.mid(start.size());
    }
    return {};
}

QString VirtualDisplay::startupId(const Sheet &sheet) const
{
    QProcess property;
    property.start(QStandardPaths::findExecutable(u"xprop"_s),
                   {u"-display"_s, m_display, u"-id"_s, sheet.window, u"_NET_STARTUP_ID"_s});
    property.waitForFinished(30000);
    return QString::fromUtf8(property.readAllStandardOutput()).trimmed();
}

bool VirtualDisplay::isShowing(const Sheet &sheet) const
{
    if (m_platform == Platform::X11)
        return !xdotool({u"search"_s, u"--name"_s, u"^Send to Zelt$"_s}).isEmpty();
    return sheet.process > 0 && isRunning(sheet.process);
}

void VirtualDisplay::click(const Sheet &sheet, int x, int y) const
{
    const QString column = QString::number(x);
    const QString row = QString::number(y);
    if (m_platform == Platform::X11) {
        xdotool({u"mousemove"_s, u"--window"_s, sheet.window, column, row, u"click"_s, u"1"_s});
        return;
    }
    // The sheet fills the output from its origin. Past the bottom right corner and back to the
    // top left, weston's pointer stops at each edge as the X pointer does, and so ends where the
    // X pointer is.
    if (!m_pointerAligned) {
        xdotool({u"mousemove"_s, QString::number(sheetWidth - 1), QString::number(sheetHeight - 1),
                 u"mousemove"_s, u"0"_s, u"0"_s});
        m_pointerAligned = true;
    }
    xdotool({u"mousemove"_s, column, row, u"click"_s, u"1"_s});
}

void VirtualDisplay::key(const QStringList &keys) const
{
    xdotool(QStringList{u"key"_s} + keys);
}

void VirtualDisplay::type(const QString &text) const
{
    xdotool({u"type"_s, u"--delay"_s, u"30"_s, text});
}

bool VirtualDisplay::screenshot(const QString &path) const
{
    QProcess tool;
    if (m_platform == Platform::X11) {
        tool.start(QStandardPaths::findExecutable(u"import"_s),
                   {u"-display"_s, m_display, u"-window"_s, u"root"_s, path});
        return tool.waitForFinished(30000) && tool.exitCode() == 0;
    }
    if (m_platform == Platform::WaylandServerDecorations) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"WAYLAND_DISPLAY"_s, m_waylandDisplay);
        tool.setProcessEnvironment(environment);
        tool.start(QStandardPaths::findExecutable(u"grim"_s), {path});
        return tool.waitForFinished(30000) && tool.exitCode() == 0;
    }
    // weston-screenshooter writes the output into its working directory, named by the time.
    QTemporaryDir directory;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"WAYLAND_DISPLAY"_s, m_waylandDisplay);
    tool.setProcessEnvironment(environment);
    tool.setWorkingDirectory(directory.path());
    tool.start(QStandardPaths::findExecutable(u"weston-screenshooter"_s), {});
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
        return false;
    const auto taken = QDir(directory.path()).entryList({u"*.png"_s});
    QFile::remove(path);
    return taken.size() == 1 && QFile::rename(directory.filePath(taken.first()), path);
}

bool VirtualDisplay::sendFromSheet(const DevServiceFixture &service, int timeout) const
{
    if (m_display.isEmpty()) {
        qWarning("no input reaches this compositor");
        return false;
    }
    const QDeadlineTimer deadline(timeout);
    const Sheet sheet = waitForSheet(timeout);
    if (sheet.process == 0 && sheet.window.isEmpty()) {
        qWarning("no sheet showed its window");
        return false;
    }
    const auto destinations = u"GET /api/tovi/native-share/destinations"_s;
    while (countLines(service, destinations) == 0 && !deadline.hasExpired())
        QTest::qWait(200);
    // The views take a moment to follow the model, more so under the sanitizers.
    QTest::qWait(1500);
    // There is no window manager to give the window the focus: a click on its empty lower part
    // does.
    click(sheet, 280, 560);
    // Sends once everything is loaded; pressing again while sending does nothing.
    const auto submission = u"POST /api/tovi/native-share "_s;
    while (countLines(service, submission) == 0 && isShowing(sheet)) {
        if (deadline.hasExpired()) {
            qWarning("the sheet did not send");
            return false;
        }
        key({u"ctrl+Return"_s});
        QTest::qWait(1000);
    }
    while (isShowing(sheet)) {
        if (deadline.hasExpired()) {
            qWarning("the sheet did not close after sending");
            return false;
        }
        QTest::qWait(200);
    }
    // Gone once it has cleaned up after itself, which it does after the window closes.
    while (sheet.process > 0 && isRunning(sheet.process)) {
        if (deadline.hasExpired()) {
            qWarning("the sheet did not end after sending");
            return false;
        }
        QTest::qWait(200);
    }
    return true;
}
