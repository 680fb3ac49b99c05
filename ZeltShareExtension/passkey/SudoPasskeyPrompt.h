#pragma once

#include "SudoPasskey.h"

#include <QByteArray>
#include <QCoroTask>

#include <optional>

// Shows an assertion prompt for the step-up and reports what the authenticator signed.
// Implementations: security keys over libfido2, and a software authenticator in tests and the
// development service.
class SudoPasskeyPrompt
{
public:
    using Credential = SudoPasskey::Credential;

    virtual ~SudoPasskeyPrompt() = default;

    // Options to completion: the assertion parameters (an undecodable challenge throws
    // CeremonyError::invalidOptions before any prompt), the prompt, then the completion record
    // carrying the options' attempt ID.
    QCoro::Task<SudoPasskey::Completion> authenticate(SudoPasskey::Options options);

    // The client data a browser would sign for this challenge and relying party:
    // {"type":"webauthn.get","challenge":…,"origin":"https://<rpID>","crossOrigin":false}
    static QByteArray clientDataJSON(const QByteArray &challenge, const QString &rpID);

protected:
    // Throws CeremonyError::canceled when the user dismisses the prompt, any other error for
    // anything else that goes wrong.
    virtual QCoro::Task<Credential>
    requestAssertion(SudoPasskey::AssertionParameters parameters) = 0;
};
