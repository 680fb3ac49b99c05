// The second writer of the concurrent rotation test:
//   keychain-rotator BACKEND DIRECTORY ACCESS_GROUP WRITER COUNT
// prints one "<previous> <new>" line per rotation that took effect.
#include "KeychainRotator.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const auto args = QCoreApplication::arguments();
    if (args.size() != 6)
        return 2;
    const auto keychain = KeychainRotator::open(args[1], args[2], args[3]);
    QTextStream out(stdout);
    for (const auto &line : KeychainRotator::rotate(*keychain, args[4], args[5].toInt()))
        out << line << '\n';
    return 0;
}
