// zelt-share-purpose: "Send to Zelt…" in the Share menu of KDE applications. The menu runs the
// package's main.sh, which runs this program with --server SOCKET --pluginType TYPE
// --pluginPath PATH; it reads the request, starts the share sheet detached and answers at once.
// The menu shows a busy dialog until this process exits.
#include "PurposeChannel.h"
#include "PurposeError.h"
#include "PurposeRequest.h"
#include "SheetInvocation.h"
#include "SheetLauncher.h"
#include "Translations.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonObject>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

struct Text
{
    Q_DECLARE_TR_FUNCTIONS(PurposeHelper)
};

// KJob's first code of its own: the Share menu takes 1 (KJob's "killed") for the user's cancel
// and shows no message for it.
constexpr int failedJob = 100;

void printLine(const QString &line)
{
    std::fprintf(stderr, "zelt-share-purpose: %s\n", line.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    Translations::install();

    const QCommandLineOption server(u"server"_s, {}, u"socket"_s);
    const QCommandLineOption pluginType(u"pluginType"_s, {}, u"type"_s);
    const QCommandLineOption pluginPath(u"pluginPath"_s, {}, u"path"_s);
    QCommandLineParser parser;
    parser.addOptions({server, pluginType, pluginPath});
    // Whatever else the menu may add one day is no reason to leave it without an answer.
    parser.parse(application.arguments());
    if (parser.value(server).isEmpty()) {
        printLine(
            Text::tr("KDE's Share menu starts this program with --server SOCKET; run zelt-share "
                     "to share from a terminal."));
        return 2;
    }

    PurposeChannel channel;
    if (const auto failure = channel.connectTo(parser.value(server))) {
        printLine(Text::tr("The Share menu cannot be reached: %1").arg(*failure));
        return 1;
    }

    QJsonObject answer;
    try {
        const auto request =
            PurposeRequest::fromCbor(parser.value(pluginType), channel.readRequest());
        const auto invocation = SheetInvocation::forRequest(request);
        if (const auto failure = SheetLauncher::start(
                SheetLauncher::sheetProgram(), invocation.arguments, invocation.standardInput))
            throw PurposeError(Text::tr("Zelt could not be started: %1").arg(*failure));
        // No "url": the menu would open it in the browser.
        answer = {{u"output"_s, QJsonObject()}};
    } catch (const PurposeError &error) {
        printLine(error.text());
        answer = {{u"error"_s, failedJob}, {u"errorText"_s, error.text()}};
    }
    if (!channel.send(answer)) {
        printLine(Text::tr("The Share menu closed the connection before the answer."));
        return 1;
    }
    return answer.contains("error"_L1) ? 1 : 0;
}
