#include "HeadlessShare.h"
#include "ShareComposeModel.h"
#include "ShareTemporaryDirectory.h"
#include "TerminationSignals.h"
#include "host/ExtensionContext.h"
#include "service/BundleConfiguration.h"
#include "service/ServiceEnvironment.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QNetworkProxyFactory>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace {

const char *usage = "Usage: zelt-share --headless [--message TEXT] [--tovi | --thread ID] ITEM…\n"
                    "       zelt-share --status\n"
                    "ITEM: a file path or URI, --text TEXT, --page JSON, or - (standard input).\n";

const char *sourceName(ServiceOrigin::Source source)
{
    switch (source) {
    case ServiceOrigin::Source::Development:
        return "development";
    case ServiceOrigin::Source::Adopted:
        return "adopted";
    case ServiceOrigin::Source::Production:
        break;
    }
    return "production";
}

int printStatus(const ServiceEnvironment &environment)
{
    const auto session = environment.sessionStore().loadSession(environment.baseOrigin());
    QTextStream out(stdout);
    out << "Base origin: " << environment.baseOrigin().toString() << " ("
        << sourceName(environment.originSource()) << ")\n"
        << "Shared session: " << (session ? "signed in" : "none (open Zelt and sign in)") << '\n';
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // No window yet: a display is not needed, though image preparation reads the palette.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"zelt-share"_s);
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    QTextStream errors(stderr);

    // Our own options come first; everything else (and all after "--") describes the items.
    HeadlessShare::Options options;
    bool headless = false;
    QStringList items;
    const auto arguments = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const auto &argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == u"--") {
            items += arguments.mid(i);
            break;
        } else if (argument == u"--headless") {
            headless = true;
        } else if (argument == u"--status") {
            const auto environment = ServiceEnvironment::fromBundle(
                BundleConfiguration::load(BundleConfiguration::defaultPath()));
            return printStatus(*environment);
        } else if (argument == u"--help" || argument == u"-h") {
            QTextStream(stdout) << usage;
            return 0;
        } else if (argument == u"--tovi") {
            options.tovi = true;
        } else if ((argument == u"--message" || argument == u"--thread") && hasValue) {
            (argument == u"--message" ? options.message : options.threadID) = arguments[++i];
        } else if (argument == u"--message" || argument == u"--thread") {
            errors << argument << ": a value is missing.\n" << usage;
            return 2;
        } else {
            items.append(argument);
        }
    }
    if (!headless) {
        // The window comes with the sheet's views; until then the status is what runs.
        const auto environment = ServiceEnvironment::fromBundle(
            BundleConfiguration::load(BundleConfiguration::defaultPath()));
        if (items.isEmpty())
            return printStatus(*environment);
        errors << "The share sheet window is not available yet; use --headless.\n" << usage;
        return 2;
    }
    if (options.tovi && options.threadID) {
        errors << "--tovi and --thread cannot be used together.\n" << usage;
        return 2;
    }

    std::unique_ptr<ExtensionContext> context;
    try {
        QFile input;
        input.open(stdin, QIODevice::ReadOnly);
        context = ExtensionContext::fromCommandLine(items, &input, QDir::currentPath());
    } catch (const CommandLineError &error) {
        errors << error.message() << '\n' << usage;
        return 2;
    }

    ShareTemporaryDirectory::sweepLeftovers();
    const auto environment = ServiceEnvironment::fromBundle(
        BundleConfiguration::load(BundleConfiguration::defaultPath()));
    int exitCode = 1;
    {
        ShareComposeModel model(environment, ShareComposeModel::intakeLoader(context.get()));
        model.setVideoProbe(ShareComposeModel::fileVideoProbe());
        HeadlessShare share(model, options, errors);
        QObject::connect(&share, &HeadlessShare::finished, &app, &QCoreApplication::exit);
        // A terminated share still removes its copies: the model goes when the loop ends.
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::terminationRequested, &app,
                         [&app](int signalNumber) { app.exit(128 + signalNumber); });
        exitCode = app.exec();
    }
    return exitCode;
}
