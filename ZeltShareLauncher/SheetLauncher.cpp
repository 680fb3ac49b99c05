#include "SheetLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// A descriptor closed when it goes out of scope.
struct Descriptor
{
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int descriptor)
        : fd(descriptor)
    {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

QString systemError(const char *what, int error)
{
    return QString::fromLatin1(what) + u": "_s + QString::fromLocal8Bit(std::strerror(error));
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// Only async-signal-safe calls from here on: the parent may have threads.
[[noreturn]] void runDetached(int input, int output, int report, const char *program,
                              char *const *argv)
{
    // The intermediate child leads the new session and leaves at once, so that the program is
    // no session leader and can never take a controlling terminal.
    if (::setsid() < 0) {
        const int error = errno;
        (void)!::write(report, &error, sizeof error);
        ::_exit(1);
    }
    const pid_t grandchild = ::fork();
    if (grandchild < 0) {
        const int error = errno;
        (void)!::write(report, &error, sizeof error);
        ::_exit(1);
    }
    if (grandchild > 0)
        ::_exit(0);

    // A signal that the host ignores or blocks would stay ignored or blocked in the sheet.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
        ::signal(signalNumber, SIG_DFL);

    int error = 0;
    if (::dup2(input, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
        ::dup2(output, STDERR_FILENO) < 0 || ::dup2(report, 3) < 0 ||
        ::fcntl(3, F_SETFD, FD_CLOEXEC) < 0 || ::chdir("/") < 0)
        error = errno;
    if (error == 0) {
        // Nothing else of the host's (its sockets, the browser's pipes) reaches the sheet.
        ::close_range(4, ~0U, 0);
        ::execv(program, argv);
        error = errno;
    }
    (void)!::write(3, &error, sizeof error);
    ::_exit(127);
}

} // namespace

QString SheetLauncher::sheetProgram()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + u'/' +
                           QString::fromUtf8(ZELT_SHEET_FROM_LIBEXEC));
}

std::optional<QString> SheetLauncher::start(const QString &program, const QStringList &arguments,
                                            const QByteArray &standardInput)
{
    // A host may start its helper with standard descriptors closed; taken now, they keep what is
    // opened below off 0 to 3, which the program's own descriptors are moved onto.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDWR) < 0)
            return systemError("/dev/null", errno);
    }

    // Everything the children need is made before the fork.
    const QByteArray programPath = QFile::encodeName(program);
    std::vector<QByteArray> argumentBytes;
    argumentBytes.push_back(programPath);
    for (const auto &argument : arguments)
        argumentBytes.push_back(argument.toUtf8());
    std::vector<char *> argv;
    for (auto &argument : argumentBytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const Descriptor input(::memfd_create("zelt-share-input", MFD_CLOEXEC));
    if (input.fd < 0)
        return systemError("memfd_create", errno);
    if (!writeAll(input.fd, standardInput.constData(), standardInput.size()) ||
        ::lseek(input.fd, 0, SEEK_SET) != 0)
        return systemError("the standard input of zelt-share", errno);
    const Descriptor output(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (output.fd < 0)
        return systemError("/dev/null", errno);
    int reportPipe[2];
    if (::pipe2(reportPipe, O_CLOEXEC) < 0)
        return systemError("pipe", errno);
    const Descriptor reportRead(reportPipe[0]);
    Descriptor reportWrite(reportPipe[1]);

    const pid_t child = ::fork();
    if (child < 0)
        return systemError("fork", errno);
    if (child == 0)
        runDetached(input.fd, output.fd, reportWrite.fd, programPath.constData(), argv.data());

    ::close(reportWrite.fd);
    reportWrite.fd = -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes without a word once the program has been executed.
    int error = 0;
    ssize_t count;
    while ((count = ::read(reportRead.fd, &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (count == sizeof error)
        return systemError(programPath.constData(), error);
    if (count != 0)
        return u"zelt-share could not be started"_s;
    return std::nullopt;
}
