#include "HeadlessShare.h"
#include "ProcessShutdown.h"
#include "ShareComposeModel.h"
#include "ShareTemporaryDirectory.h"
#include "ShareViewController.h"
#include "TerminationSignals.h"
#include "Translations.h"
#include "host/ExtensionContext.h"
#include "service/BundleConfiguration.h"
#include "service/ServiceEnvironment.h"
#include "window/DisplayServer.h"
#include "window/WindowActivation.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QLoggingCategory>
#include <QNetworkProxyFactory>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTextStream>
#include <QtQml/qqmlextensionplugin.h>

#include <fcntl.h>
#include <unistd.h>

Q_IMPORT_QML_PLUGIN(Zelt_SharePlugin)

using namespace Qt::StringLiterals;

namespace {

struct Text
{
    Q_DECLARE_TR_FUNCTIONS(ZeltShareCommand)
};

QString usage()
{
    //: The command's usage. Keep the options and tovi, thread:ID, search:TEXT, JSON and ITEM as
    //: they are; the lines are at most 80 characters wide.
    return Text::tr("Usage: zelt-share [ITEM…]\n"
                    "       zelt-share --headless [--to tovi|thread:ID|search:TEXT]\n"
                    "                  [--message TEXT] ITEM…\n"
                    "       zelt-share --headless --list-destinations\n"
                    "       zelt-share --status\n"
                    "ITEM: a file path or URI (data: URIs too), --text TEXT, --page JSON, or -\n"
                    "(standard input). --page - reads the page from standard input, --uri-list -\n"
                    "a list of URIs. Without --headless the share sheet opens with the items.\n");
}

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
    const auto loaded = environment.sessionStore().loadSessionWithState(environment.baseOrigin());
    QTextStream out(stdout);
    //: The origin's source is one of "production", "development" and "adopted", untranslated.
    out << Text::tr("Base origin: %1 (%2)")
               .arg(environment.baseOrigin().toString(),
                    QString::fromLatin1(sourceName(environment.originSource())))
        << '\n'
        << Text::tr("Shared session: %1")
               .arg(loaded.session              ? Text::tr("signed in")
                    : loaded.keyringUnavailable ? Text::tr("unknown (the keyring is locked or "
                                                           "unreachable)")
                                                : Text::tr("none (open Zelt and sign in)"))
        << '\n';
    return 0;
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

struct CommandLine
{
    bool headless = false;
    bool status = false;
    bool help = false;
    HeadlessShare::Options options;
    QStringList items;
    // A usage error, to print before the usage: a text of the ZeltShareCommand context, with
    // the option it names for its %1.
    const char *error = nullptr;
    QString errorArgument;

    QString errorText() const
    {
        const QString text = Text::tr(error);
        return errorArgument.isNull() ? text : text.arg(errorArgument);
    }
};

// Our own options come first; everything else (and all after "--") describes the items.
CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments[i];
        bool hasValue = i + 1 < arguments.size();
        // --message=TEXT and --to=DEST, as --text=TEXT.
        std::optional<QString> attached;
        for (const auto &option : {u"--message="_s, u"--to="_s}) {
            if (argument.startsWith(option)) {
                attached = argument.mid(option.size());
                argument = option.chopped(1);
            }
        }
        const auto value = [&]() -> QString { return attached ? *attached : arguments[++i]; };
        if (attached)
            hasValue = true;
        if (argument == u"--") {
            line.items += arguments.mid(i);
            break;
        } else if (argument == u"--headless") {
            line.headless = true;
        } else if (argument == u"--status") {
            line.status = true;
        } else if (argument == u"--help" || argument == u"-h") {
            line.help = true;
        } else if (argument == u"--list-destinations") {
            line.options.listDestinations = true;
        } else if (argument == u"--message" && hasValue) {
            line.options.message = value();
        } else if (argument == u"--to" && hasValue) {
            line.options.destination = parseDestination(value());
            if (!line.options.destination)
                line.error = QT_TRANSLATE_NOOP("ZeltShareCommand",
                                               "--to takes tovi, thread:ID or search:TEXT.");
        } else if (argument == u"--message" || argument == u"--to") {
            line.error = QT_TRANSLATE_NOOP("ZeltShareCommand", "%1: a value is missing.");
            line.errorArgument = argument;
        } else {
            line.items.append(argument);
        }
    }
    const auto &options = line.options;
    if (!line.headless && (options.listDestinations || options.destination || options.message))
        line.error = QT_TRANSLATE_NOOP("ZeltShareCommand",
                                       "--to, --message and --list-destinations need --headless.");
    else if (options.listDestinations && !line.items.isEmpty())
        line.error = QT_TRANSLATE_NOOP("ZeltShareCommand", "--list-destinations takes no items.");
    return line;
}

// An argument as text. A file name that is not valid UTF-8 has no text that names it again, so
// such a file is opened by its bytes and named by its descriptor: the intake reads it through
// /proc/self/fd, and knows it by the valid UTF-8 rendering of its name.
QString argumentText(const char *argument)
{
    const QString text = QString::fromLocal8Bit(argument);
    if (text.toLocal8Bit() == QByteArrayView(argument))
        return text;
    const int descriptor = ::open(argument, O_PATH | O_CLOEXEC);
    if (descriptor < 0)
        return text;
    return u"/proc/self/fd/"_s + QString::number(descriptor);
}

} // namespace

int main(int argc, char *argv[])
{
    // Read before the application exists: the platform plug-in is chosen then, and a usage
    // error needs no display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(argumentText(argv[i]));
    const auto commandLine = parseCommandLine(arguments);
    // What ends before a window could open speaks the user's language too.
    const auto answer = [&](FILE *stream, const auto &text, int status) {
        QCoreApplication core(argc, argv);
        Translations::install();
        QTextStream(stream) << text();
        return status;
    };
    if (commandLine.help)
        return answer(stdout, usage, 0);
    if (commandLine.error) {
        return answer(
            stderr,
            [&] { return HeadlessShare::terminalText(commandLine.errorText()) + u'\n' + usage(); },
            2);
    }
    // In a terminal, stderr carries the share's progress and its one line; the sheet's log
    // stays out of it unless asked for (QT_LOGGING_RULES, which takes precedence).
    if (commandLine.headless)
        QLoggingCategory::setFilterRules(u"app.zelt.*.debug=false\napp.zelt.*.info=false\n"
                                         u"app.zelt.*.warning=false"_s);
    // Without a window no display is needed, though image preparation reads the palette.
    const bool windowless = commandLine.headless || commandLine.status;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        if (windowless) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        } else if (qEnvironmentVariableIsEmpty("DISPLAY") &&
                   qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            return answer(
                stderr,
                [] {
                    return Text::tr("There is no display for the share sheet; use --headless to "
                                    "share from a terminal.") +
                           u'\n';
                },
                1);
        }
    }
    // What must be settled before Qt connects to the display.
    const auto displayServer = windowless ? DisplayServer() : DisplayServer::prepare();
    const auto activation = WindowActivation::takeFromEnvironment();
    QGuiApplication app(argc, argv);
    displayServer.applicationStarted();
    activation.applicationStarted();
    Translations::install();
    QCoreApplication::setApplicationName(u"zelt-share"_s);
    QGuiApplication::setApplicationDisplayName(Text::tr("Send to Zelt"));
    QGuiApplication::setDesktopFileName(u"app.zelt.ZeltShare"_s);
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    QTextStream errors(stderr);

    if (commandLine.status) {
        const auto environment = ServiceEnvironment::fromBundle(
            BundleConfiguration::load(BundleConfiguration::defaultPath()));
        return printStatus(*environment);
    }
    const bool headless = commandLine.headless;
    const auto &options = commandLine.options;
    const auto &items = commandLine.items;

    std::unique_ptr<ExtensionContext> context;
    try {
        QFile input;
        input.open(stdin, QIODevice::ReadOnly);
        context = ExtensionContext::fromCommandLine(items, &input, QDir::currentPath());
    } catch (const CommandLineError &error) {
        errors << HeadlessShare::terminalText(error.message()) << '\n';
        if (error.kind() == CommandLineError::Kind::Input)
            return 1;
        errors << usage();
        return 2;
    }

    ShareTemporaryDirectory::sweepLeftovers();
    const auto environment = ServiceEnvironment::fromBundle(
        BundleConfiguration::load(BundleConfiguration::defaultPath()));
    // A terminated share still removes its copies: the model goes when the loop ends.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &app,
                     [&app](int signalNumber) { app.exit(128 + signalNumber); });

    // Whatever ends the loop, the work it started ends before the model and the application
    // go: nothing may run on (or write into the copies) after that.
    int status = 0;
    if (headless) {
        {
            ShareComposeModel model(environment, ShareComposeModel::intakeLoader(context.get()));
            model.setVideoProbe(ShareComposeModel::fileVideoProbe());
            QTextStream output(stdout);
            auto share = std::make_unique<HeadlessShare>(model, options, errors, &output,
                                                         isatty(STDERR_FILENO) == 1);
            QObject::connect(share.get(), &HeadlessShare::finished, &app, &QCoreApplication::exit);
            status = app.exec();
            // Says nothing more: its one line is out.
            share.reset();
            ProcessShutdown::stopWork();
        }
        ProcessShutdown::finish();
        return status;
    }

    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE"))
        QQuickStyle::setStyle(u"Fusion"_s);
    // The sheet is a small dialog that lives for one share: Qt Quick's software renderer draws
    // it without loading the graphics driver stack (with Mesa, the driver and LLVM), which took
    // most of its start-up. The views use nothing it lacks (no shader effects, no particles).
    // QT_QUICK_BACKEND or QSG_RHI_BACKEND still choose another.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") &&
        qEnvironmentVariableIsEmpty("QSG_RHI_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication::setWindowIcon(QIcon::fromTheme(u"app.zelt.ZeltShare"_s));
    {
        ShareViewController controller;
        controller.setColorScheme(ShareViewController::desktopColorScheme());
        controller.setWindowFrame(displayServer.windowFrame(QGuiApplication::platformName()));
        controller.setActivation(activation);
        auto model = std::make_unique<ShareComposeModel>(
            environment, ShareComposeModel::intakeLoader(context.get()));
        model->setVideoProbe(ShareComposeModel::fileVideoProbe());
        controller.viewDidLoad(std::move(model));
        if (controller.window()) {
            QObject::connect(&controller, &ShareViewController::finished, &app,
                             [&app] { app.exit(0); });
            controller.show();
            // bench/startup measures the time to the sheet's first frame as the length of the
            // run.
            if (qEnvironmentVariableIsSet("ZELT_SHARE_EXIT_AFTER_FIRST_FRAME"))
                QObject::connect(
                    controller.window(), &QQuickWindow::frameSwapped, &app, [&app] { app.exit(0); },
                    Qt::QueuedConnection);
            status = app.exec();
            controller.window()->hide();
        } else {
            status = 1;
        }
        ProcessShutdown::stopWork();
    }
    ProcessShutdown::finish();
    return status;
}
