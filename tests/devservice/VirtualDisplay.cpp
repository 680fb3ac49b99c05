#include "VirtualDisplay.h"

#include "DevServiceFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

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
        break;
    }
    return weston;
}

const char *VirtualDisplay::name(Platform platform)
{
    switch (platform) {
    case Platform::X11:
        return "X11";
    case Platform::Wayland:
        return "Wayland";
    case Platform::WaylandWithoutSeat:
        break;
    }
    return "Wayland without a seat";
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

VirtualDisplay::~VirtualDisplay()
{
    // The compositor first: its X11 backend is a client of the X server.
    for (QProcess *process : {&m_compositor, &m_server}) {
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
    if (m_platform == Platform::WaylandWithoutSeat) {
        qWarning("no input reaches a compositor without a seat");
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
