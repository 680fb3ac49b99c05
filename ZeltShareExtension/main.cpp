#include "HeadlessShare.h"
#include "ShareComposeModel.h"
#include "ShareTemporaryDirectory.h"
#include "ShareViewController.h"
#include "TerminationSignals.h"
#include "host/ExtensionContext.h"
#include "service/BundleConfiguration.h"
#include "service/ServiceEnvironment.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QNetworkProxyFactory>
#include <QQuickStyle>
#include <QTextStream>
#include <QtQml/qqmlextensionplugin.h>

#include <cstring>
#include <unistd.h>

Q_IMPORT_QML_PLUGIN(Zelt_SharePlugin)

using namespace Qt::StringLiterals;

namespace {

const char *usage =
    "Usage: zelt-share [ITEM…]\n"
    "       zelt-share --headless [--to tovi|thread:ID|search:TEXT] [--message TEXT] ITEM…\n"
    "       zelt-share --headless --list-destinations\n"
    "       zelt-share --status\n"
    "ITEM: a file path or URI, --text TEXT, --page JSON, or - (standard input).\n"
    "Without --headless the share sheet opens over the items.\n";

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

// Whether the process runs without a window; decided before the application exists, since the
// platform plug-in is chosen then.
bool runsWithoutWindow(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        for (const char *option : {"--headless", "--status", "--help", "-h"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

std::optional<HeadlessShare::Destination> parseDestination(const QString &value)
{
    if (value == u"tovi")
        return HeadlessShare::Destination{HeadlessShare::Destination::Kind::Tovi, {}};
    for (const auto &[prefix, kind] :
         {std::pair(u"thread:"_s, HeadlessShare::Destination::Kind::Thread),
          std::pair(u"search:"_s, HeadlessShare::Destination::Kind::Search)}) {
        if (value.startsWith(prefix) && value.size() > prefix.size())
            return HeadlessShare::Destination{kind, value.mid(prefix.size())};
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool windowless = runsWithoutWindow(argc, argv);
    // Without a window no display is needed, though image preparation reads the palette.
    if (windowless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"zelt-share"_s);
    QGuiApplication::setApplicationDisplayName(u"Send to Zelt"_s);
    QGuiApplication::setDesktopFileName(u"app.zelt.ZeltShare"_s);
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
        } else if (argument == u"--list-destinations") {
            options.listDestinations = true;
        } else if (argument == u"--message" && hasValue) {
            options.message = arguments[++i];
        } else if (argument == u"--to" && hasValue) {
            options.destination = parseDestination(arguments[++i]);
            if (!options.destination) {
                errors << "--to takes tovi, thread:ID or search:TEXT.\n" << usage;
                return 2;
            }
        } else if (argument == u"--message" || argument == u"--to") {
            errors << argument << ": a value is missing.\n" << usage;
            return 2;
        } else {
            items.append(argument);
        }
    }
    if (!headless && (options.listDestinations || options.destination || options.message)) {
        errors << "--to, --message and --list-destinations need --headless.\n" << usage;
        return 2;
    }
    if (options.listDestinations && !items.isEmpty()) {
        errors << "--list-destinations takes no items.\n" << usage;
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
    // A terminated share still removes its copies: the model goes when the loop ends.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &app,
                     [&app](int signalNumber) { app.exit(128 + signalNumber); });

    if (headless) {
        ShareComposeModel model(environment, ShareComposeModel::intakeLoader(context.get()));
        model.setVideoProbe(ShareComposeModel::fileVideoProbe());
        QTextStream output(stdout);
        HeadlessShare share(model, options, errors, &output, isatty(STDERR_FILENO) == 1);
        QObject::connect(&share, &HeadlessShare::finished, &app, &QCoreApplication::exit);
        return app.exec();
    }

    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE"))
        QQuickStyle::setStyle(u"Fusion"_s);
    ShareViewController controller;
    controller.setColorScheme(ShareViewController::desktopColorScheme());
    auto model = std::make_unique<ShareComposeModel>(
        environment, ShareComposeModel::intakeLoader(context.get()));
    model->setVideoProbe(ShareComposeModel::fileVideoProbe());
    controller.viewDidLoad(std::move(model));
    if (!controller.window())
        return 1;
    QObject::connect(&controller, &ShareViewController::finished, &app, [&app] { app.exit(0); });
    controller.show();
    return app.exec();
}
