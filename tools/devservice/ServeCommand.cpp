#include "ServeCommand.h"

#include "DevCommandLine.h"
#include "DevService.h"

#include <QSaveFile>

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

std::optional<int> number(const QCommandLineParser &parser, const QString &name, int minimum)
{
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < minimum) {
        DevCommandLine::error(u"--%1 needs a whole number of at least %2"_s.arg(name).arg(minimum));
        return std::nullopt;
    }
    return value;
}

} // namespace

int ServeCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Runs the development Zelt service on 127.0.0.1."_s);
    parser.addOptions({
        {u"port"_s, u"Port (default: the one of ZeltDevBaseOrigin, else 8443; 0: any)."_s, u"n"_s},
        {u"data"_s,
         u"Directory for certificates, sessions, uploads and shares (default: the "
         u"directory of ZeltDevCertificateAuthorities)."_s,
         u"dir"_s},
        {u"require-passkey"_s, u"Shares need a sudo session opened with a passkey."_s},
        {u"user-verification"_s,
         u"What the step-up asks of the passkey: preferred, required or discouraged."_s, u"mode"_s,
         u"preferred"_s},
        {u"rotate-every"_s, u"Rotate the session cookie on every Nth request (0: never)."_s, u"n"_s,
         u"0"_s},
        {u"rotation-grace"_s, u"Seconds a rotated-away cookie value is still accepted."_s,
         u"seconds"_s, u"60"_s},
        {u"sudo-seconds"_s, u"Lifetime of a sudo session."_s, u"seconds"_s, u"300"_s},
        {u"direct-upload"_s, u"What the direct upload target does: ok, fail-403, fail-network."_s,
         u"mode"_s, u"ok"_s},
        {u"latency"_s, u"Milliseconds added before every answer."_s, u"ms"_s, u"0"_s},
        {u"public-port"_s,
         u"The port clients connect to when a relay in front forwards to the service's own."_s,
         u"n"_s},
        {u"ready-file"_s, u"Written with the origin once the port is open."_s, u"file"_s},
        {u"port-file"_s, u"Written with the port the service listens on once it is open."_s,
         u"file"_s},
    });
    DevCommandLine::addBundleOption(parser);
    if (!DevCommandLine::parse(parser, arguments))
        return 2;
    const auto configuration = DevCommandLine::bundle(parser);

    DevServiceOptions options;
    options.dataDirectory =
        parser.isSet(u"data"_s)
            ? parser.value(u"data"_s)
            : DevCommandLine::defaultDataDirectory(configuration).value_or(QString());
    if (options.dataDirectory.isEmpty()) {
        DevCommandLine::error(
            u"no --data, and the bundle configuration names no ZeltDevCertificateAuthorities"_s);
        return 2;
    }
    options.port = DevCommandLine::defaultPort(configuration);
    if (parser.isSet(u"port"_s)) {
        const auto port = number(parser, u"port"_s, 0);
        if (!port || *port > 65535)
            return 2;
        options.port = quint16(*port);
    }
    if (parser.isSet(u"public-port"_s)) {
        const auto port = number(parser, u"public-port"_s, 1);
        if (!port || *port > 65535)
            return 2;
        options.publicPort = quint16(*port);
    }
    options.requirePasskey = parser.isSet(u"require-passkey"_s);
    options.userVerification = parser.value(u"user-verification"_s);
    if (!QStringList{u"preferred"_s, u"required"_s, u"discouraged"_s}.contains(
            options.userVerification)) {
        DevCommandLine::error(u"--user-verification is preferred, required or discouraged"_s);
        return 2;
    }
    const auto rotateEvery = number(parser, u"rotate-every"_s, 0);
    const auto grace = number(parser, u"rotation-grace"_s, 0);
    const auto sudo = number(parser, u"sudo-seconds"_s, 1);
    const auto latency = number(parser, u"latency"_s, 0);
    if (!rotateEvery || !grace || !sudo || !latency)
        return 2;
    options.rotateEvery = *rotateEvery;
    options.rotationGrace = std::chrono::seconds(*grace);
    options.sudoDuration = std::chrono::seconds(*sudo);
    options.latency = std::chrono::milliseconds(*latency);
    const auto mode = parser.value(u"direct-upload"_s);
    if (mode == u"ok"_s) {
        options.directUpload = DevServiceOptions::DirectUpload::Ok;
    } else if (mode == u"fail-403"_s) {
        options.directUpload = DevServiceOptions::DirectUpload::Fail403;
    } else if (mode == u"fail-network"_s) {
        options.directUpload = DevServiceOptions::DirectUpload::FailNetwork;
    } else {
        DevCommandLine::error(u"--direct-upload is ok, fail-403 or fail-network"_s);
        return 2;
    }

    // The signals are taken by one thread of their own; every other thread, the server's
    // included, inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        DevService service(options);
        service.bind();
        std::fprintf(
            stderr, "zelt-devservice: serving %s (data %s; clients trust %s)%s%s\n",
            qUtf8Printable(service.origin()), qUtf8Printable(options.dataDirectory),
            qUtf8Printable(service.certificateAuthorityFile()),
            options.requirePasskey ? "; passkeys required" : "",
            options.rotateEvery > 0
                ? qUtf8Printable(u"; cookie rotated every %1 requests"_s.arg(options.rotateEvery))
                : "");
        if (parser.isSet(u"ready-file"_s)) {
            QSaveFile ready(parser.value(u"ready-file"_s));
            if (!ready.open(QIODevice::WriteOnly) ||
                ready.write(service.origin().toUtf8() + '\n') < 0 || !ready.commit())
                DevCommandLine::error(u"cannot write the ready file"_s);
        }
        if (parser.isSet(u"port-file"_s)) {
            QSaveFile ready(parser.value(u"port-file"_s));
            if (!ready.open(QIODevice::WriteOnly) ||
                ready.write(QByteArray::number(service.port()) + '\n') < 0 || !ready.commit())
                DevCommandLine::error(u"cannot write the port file"_s);
        }
        std::thread waiter([&service, signals] {
            int received = 0;
            sigwait(&signals, &received);
            service.stop();
        });
        service.run();
        // Ends the waiter when the server stopped for another reason.
        pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
        std::fprintf(stderr, "zelt-devservice: stopped\n");
    } catch (const std::exception &e) {
        DevCommandLine::error(QString::fromLocal8Bit(e.what()));
        return 1;
    }
    return 0;
}
