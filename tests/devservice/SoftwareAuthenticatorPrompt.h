#pragma once

#include "SoftwareAuthenticator.h"
#include "passkey/SudoPasskeyPrompt.h"
#include "service/ServiceError.h"

#include <QCryptographicHash>

// The development service's software authenticator behind the sheet's prompt: it signs what a
// security key would, or the user cancels.
class SoftwareAuthenticatorPrompt : public SudoPasskeyPrompt
{
public:
    // Null: the user cancels the prompt.
    SoftwareAuthenticatorPrompt(SoftwareAuthenticator *authenticator, int &prompts)
        : m_authenticator(authenticator)
        , m_prompts(prompts)
    {}

protected:
    QCoro::Task<Credential> requestAssertion(SudoPasskey::AssertionParameters parameters) override
    {
        ++m_prompts;
        if (!m_authenticator)
            throw SudoPasskey::CeremonyError(SudoPasskey::CeremonyError::Kind::canceled);
        const auto clientData =
            clientDataJSON(parameters.challenge, parameters.relyingPartyIdentifier);
        const auto assertion =
            m_authenticator->sign(QCryptographicHash::hash(clientData, QCryptographicHash::Sha256),
                                  parameters.relyingPartyIdentifier);
        if (!assertion)
            throw ShareError(QStringLiteral("The key has no passkey for this site."));
        co_return Credential{m_authenticator->credentialId(), clientData,
                             assertion->authenticatorData,    assertion->signature,
                             m_authenticator->userHandle(),   false};
    }

private:
    SoftwareAuthenticator *m_authenticator;
    int &m_prompts;
};
