// zelt-controls: the five Zelt controls of the launcher.
//
//   zelt-controls run KIND   performs the control's intent: opens Zelt on its action
//   zelt-controls open       opens Zelt (the desktop entry's own command)
//   zelt-controls list       prints the controls, one per line, in launcher order
//
// Exit status: 0 done, 1 Zelt could not be reached (said on stderr and in a desktop
// notification), 2 usage error. Nothing is remembered between runs.

#include "DesktopNotification.h"
#include "MainApplication.h"
#include "Translations.h"
#include "ZeltControls.h"

#include <QCoreApplication>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int exitUnreachable = 1;
constexpr int exitUsage = 2;

struct Text
{
    Q_DECLARE_TR_FUNCTIONS(ZeltControls)
};

QString usage()
{
    QStringList kinds;
    for (const auto &control : ZeltMacWidgetBundle::body())
        kinds.append(control.kindText());
    return Text::tr("usage: zelt-controls run KIND | open | list (KIND is one of %1)")
        .arg(kinds.join(u", "_s));
}

void printLine(FILE *stream, const QString &line)
{
    QTextStream(stream) << line << '\n';
}

int usageError(const QString &problem)
{
    printLine(stderr, u"zelt-controls: "_s + problem + u"; "_s + usage());
    return exitUsage;
}

void list()
{
    QTextStream out(stdout);
    for (const auto &control : ZeltMacWidgetBundle::body()) {
        out << control.kindText() << '\t' << control.displayNameText() << '\t'
            << control.intentTypeText() << '\t'
            << QString::fromLatin1(control.image.name.data(), qsizetype(control.image.name.size()))
            << '\t' << control.descriptionText() << '\n';
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Translations::install();
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    if (arguments.isEmpty())
        return usageError(Text::tr("no command given"));
    const QString command = arguments.takeFirst();

    if (command == "--help"_L1 || command == "-h"_L1) {
        printLine(stdout, usage());
        return 0;
    }
    if (command == "list"_L1 && arguments.isEmpty()) {
        list();
        return 0;
    }

    const auto platformData =
        MainApplication::platformData(QProcessEnvironment::systemEnvironment());
    try {
        if (command == "open"_L1 && arguments.isEmpty()) {
            MainApplication::activate(platformData);
            return 0;
        }
        if (command == "run"_L1) {
            if (arguments.size() != 1)
                return usageError(Text::tr("run takes exactly one KIND"));
            const ZeltControl *control = ZeltMacWidgetBundle::control(arguments.first());
            if (!control)
                return usageError(Text::tr("unknown control kind \"%1\"").arg(arguments.first()));
            MainApplication::activateAction(control->intentTypeText(), platformData);
            return 0;
        }
    } catch (const MainApplication::Error &error) {
        printLine(stderr, u"zelt-controls: "_s + error.message());
        // Started from a launcher, nobody reads stderr: the desktop says it instead.
        if (error.kind() != MainApplication::Error::Kind::NoBus) {
            DesktopNotification::show(error.kind() == MainApplication::Error::Kind::NotInstalled
                                          ? Text::tr("Zelt is not installed")
                                          : Text::tr("Zelt could not be opened"),
                                      error.message());
        }
        return exitUnreachable;
    }
    return usageError(Text::tr("unknown command \"%1\"").arg(command));
}
