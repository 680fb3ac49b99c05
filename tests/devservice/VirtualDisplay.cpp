#include "VirtualDisplay.h"

#include "DevServiceFixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

#include <sys/types.h>

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

} // namespace

bool VirtualDisplay::toolsInstalled()
{
    return !QStandardPaths::findExecutable(u"Xvfb"_s).isEmpty() &&
           !QStandardPaths::findExecutable(u"xdotool"_s).isEmpty();
}

VirtualDisplay::VirtualDisplay()
    : m_xdotool(QStandardPaths::findExecutable(u"xdotool"_s))
{
    const auto xvfb = QStandardPaths::findExecutable(u"Xvfb"_s);
    if (xvfb.isEmpty() || m_xdotool.isEmpty())
        return;
    // -noreset: the server otherwise resets whenever its last client goes, and each xdotool call
    // is a client of its own; a sheet connecting during such a reset would be refused.
    m_server.start(xvfb, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"1024x768x24"_s,
                          u"-nolisten"_s, u"tcp"_s, u"-noreset"_s});
    if (!m_server.waitForStarted())
        return;
    const QDeadlineTimer deadline(30000);
    while (!m_server.canReadLine() && !deadline.hasExpired() &&
           m_server.state() == QProcess::Running)
        m_server.waitForReadyRead(1000);
    if (m_server.canReadLine())
        m_display = u":"_s + QString::fromLatin1(m_server.readLine().trimmed());
}

VirtualDisplay::~VirtualDisplay()
{
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        m_server.waitForFinished();
    }
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

bool VirtualDisplay::sendFromSheet(const DevServiceFixture &service, int timeout) const
{
    const QDeadlineTimer deadline(timeout);
    const auto window = [this] { return xdotool({u"search"_s, u"--name"_s, u"^Send to Zelt$"_s}); };
    QString found;
    while ((found = window()).isEmpty()) {
        if (deadline.hasExpired()) {
            qWarning("no \"Send to Zelt\" window appeared");
            return false;
        }
        QTest::qWait(200);
    }
    const QString id = found.split(u'\n').last();
    // Not a child of the test: the host started it in a session of its own.
    const pid_t sheet = pid_t(xdotool({u"getwindowpid"_s, id}).toInt());
    const auto destinations = u"GET /api/tovi/native-share/destinations"_s;
    while (countLines(service, destinations) == 0 && !deadline.hasExpired())
        QTest::qWait(200);
    // The views take a moment to follow the model, more so under the sanitizers.
    QTest::qWait(1500);
    // There is no window manager to give the window the focus: a click on its empty lower part
    // does.
    xdotool({u"mousemove"_s, u"--window"_s, id, u"280"_s, u"560"_s, u"click"_s, u"1"_s});
    // Sends once everything is loaded; pressing again while sending does nothing.
    const auto submission = u"POST /api/tovi/native-share "_s;
    while (countLines(service, submission) == 0 && !window().isEmpty()) {
        if (deadline.hasExpired()) {
            qWarning("the sheet did not send");
            return false;
        }
        xdotool({u"key"_s, u"ctrl+Return"_s});
        QTest::qWait(1000);
    }
    while (!window().isEmpty()) {
        if (deadline.hasExpired()) {
            qWarning("the sheet did not close after sending");
            return false;
        }
        QTest::qWait(200);
    }
    // Gone once it has cleaned up after itself, which it does after the window closes.
    while (sheet > 0 && isRunning(sheet)) {
        if (deadline.hasExpired()) {
            qWarning("the sheet did not end after sending");
            return false;
        }
        QTest::qWait(200);
    }
    return true;
}
