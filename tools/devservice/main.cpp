#include "MainAppWatcher.h"
#include "ServeCommand.h"
#include "SessionCommand.h"
#include "SignInCommand.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

const char usage[] =
    "Usage: zelt-devservice COMMAND [options]   (COMMAND --help for its options)\n"
    "\n"
    "The development Zelt service and a stand-in for the main application.\n"
    "\n"
    "  serve     run the service on https://localhost:<port>\n"
    "  signin    sign in to the running service and store the session in the keychain\n"
    "  session   write, show or delete the stored session as the main application does\n"
    "  watch     own app.zelt.Zelt on the session bus and print what reaches it\n";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"zelt-devservice"_s);

    auto arguments = QCoreApplication::arguments();
    const auto command = arguments.value(1);
    // The parsers see "zelt-devservice COMMAND" as the program.
    if (arguments.size() >= 2) {
        arguments[1] = arguments.at(0) + u' ' + command;
        arguments.removeFirst();
    }
    if (command == u"serve"_s)
        return ServeCommand::run(arguments);
    if (command == u"signin"_s)
        return SignInCommand::run(arguments);
    if (command == u"session"_s)
        return SessionCommand::run(arguments);
    if (command == u"watch"_s)
        return MainAppWatcher::run(arguments);
    if (command == u"--help"_s || command == u"-h"_s || command == u"help"_s) {
        std::fputs(usage, stdout);
        return 0;
    }
    std::fputs(usage, stderr);
    return 2;
}
