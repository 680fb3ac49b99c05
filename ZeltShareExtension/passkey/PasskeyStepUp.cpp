#include "PasskeyStepUp.h"

#include "Logging.h"
#include "service/AppIdentifiers.h"
#include "service/ServiceError.h"
#include "service/SessionHolder.h"
#include "service/SharedStateNotifier.h"

#include <QCoreApplication>
#include <QDateTime>

QString PasskeyStepUp::handOffMessage()
{
    return QCoreApplication::translate(
        "PasskeyStepUp", "Open Zelt to authenticate with your passkey, then share again.");
}

QString PasskeyStepUp::noPromptMessage()
{
    return QCoreApplication::translate("PasskeyStepUp", "Zelt could not show the passkey prompt.");
}

void PasskeyStepUp::handOff(const ServiceEnvironment &environment, const QString &reason)
{
    // An expected way out of the step-up, not a fault of the sheet: the main application takes
    // it from here.
    qCWarning(lcShareExtension, "passkey ceremony failed: %s", qUtf8Printable(reason));
    {
        const auto defaults = environment.sharedDefaults();
        defaults->setValue(AppIdentifiers::passkeyRequestedAtKey,
                           double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
        defaults->sync();
    }
    SharedStateNotifier::post();
}

QCoro::Task<> PasskeyStepUp::authenticateWithPasskey(QPointer<SessionHolder> holder,
                                                     PromptProvider promptProvider)
{
    if (!holder)
        throw TransportError(QNetworkReply::OperationCanceledError,
                             QNetworkReply::tr("Operation canceled"));
    // Kept for the hand-off, which must still happen when the sheet went away meanwhile.
    const auto environment = holder->environment();

    std::exception_ptr failure;
    try {
        auto prompt = promptProvider ? promptProvider() : nullptr;
        if (!prompt)
            throw ShareError(noPromptMessage());
        const auto options = co_await SudoPasskey::beginSudoPasskeyAuthentication(holder);
        const auto completion = co_await prompt->authenticate(options);
        // Any result counts: the service opened the session or will say so on the retry.
        co_await SudoPasskey::completeSudoPasskeyAuthentication(holder, completion);
        co_return;
    } catch (const SudoPasskey::CeremonyError &error) {
        if (error.kind() == SudoPasskey::CeremonyError::Kind::canceled)
            throw PasskeyRequiredError();
        failure = std::current_exception();
    } catch (...) {
        failure = std::current_exception();
    }
    handOff(*environment, userFacingMessage(failure));
    throw ShareError(handOffMessage());
}
