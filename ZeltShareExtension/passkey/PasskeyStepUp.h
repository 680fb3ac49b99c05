#pragma once

#include "SudoPasskeyPrompt.h"

#include <QCoroTask>
#include <QPointer>

#include <functional>
#include <memory>

class ServiceEnvironment;
class SessionHolder;

// The sudo step-up of a send: options from the service, the prompt over the sheet, the signed
// assertion back. Anything but the user's cancel hands the step to the main application.
class PasskeyStepUp
{
public:
    // The prompt over the sheet's window; null when the sheet has none.
    using PromptProvider = std::function<std::unique_ptr<SudoPasskeyPrompt>()>;

    // Returns once the service opened a sudo session. Throws PasskeyRequiredError when the user
    // canceled the prompt, and ShareError with handOffMessage() after a hand-off.
    static QCoro::Task<> authenticateWithPasskey(QPointer<SessionHolder> holder,
                                                 PromptProvider promptProvider);

    // Logs the reason, stores the time under "ZeltNativeSharedPasskeyRequestedAt" in the shared
    // defaults and signals the main application.
    static void handOff(const ServiceEnvironment &environment, const QString &reason);

    static QString handOffMessage();
    static QString noPromptMessage();
};
