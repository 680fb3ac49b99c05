// zelt-share-browser-host: the native messaging host of the browser extension. The browser starts
// it for each share with one message on standard input; it checks the message, starts the share
// sheet detached (the browser ends its host's process group once the answer is read), answers
// {"ok": true} or {"ok": false, "error": LINE}, and exits.

#include "BrowserShareRequest.h"
#include "NativeMessageChannel.h"
#include "SheetLauncher.h"
#include "Translations.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <optional>
#include <unistd.h>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    // Standard output carries the frames alone: it is moved to a descriptor of its own, and
    // whatever else writes to standard output (a library, a stray debug line) goes to standard
    // error, which the browser shows in its log.
    const int frames = ::dup(STDOUT_FILENO);
    if (frames < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return 1;
    // A browser that went away fails the write of the answer instead of ending the host.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication application(argc, argv);
    Translations::install();
    const NativeMessageChannel channel(STDIN_FILENO, frames);
    const auto answer = [&channel](const std::optional<QString> &error) {
        QJsonObject reply{{u"ok"_s, !error}};
        if (error)
            reply.insert(u"error"_s, *error);
        channel.write(QJsonDocument(reply).toJson(QJsonDocument::Compact));
        return error ? 1 : 0;
    };

    const auto message = channel.read();
    if (std::holds_alternative<NativeMessageChannel::Closed>(message))
        return 0;
    if (const auto *error = std::get_if<QString>(&message))
        return answer(*error);

    const auto request = BrowserShareRequest::invocation(std::get<QByteArray>(message));
    if (const auto *error = std::get_if<QString>(&request))
        return answer(*error);
    const auto &invocation = std::get<SheetInvocation>(request);
    if (const auto failure = SheetLauncher::start(SheetLauncher::sheetProgram(),
                                                  invocation.arguments, invocation.standardInput))
        return answer(QCoreApplication::translate("zelt-share-browser-host",
                                                  "The share sheet could not be started: %1")
                          .arg(*failure));
    return answer(std::nullopt);
}
