#pragma once

#include "passkey/SudoPasskeyPrompt.h"
#include "service/ServiceError.h"

#include <QList>

// Stands in for the authenticator at the prompt boundary: records what it was asked to sign and
// ends the way the test says. Its signature is not a real one; the scripted service accepts it.
class ScriptedPasskeyPrompt : public SudoPasskeyPrompt
{
public:
    enum class Outcome { Signs, Cancels, Fails };

    ScriptedPasskeyPrompt(Outcome outcome, QList<SudoPasskey::AssertionParameters> &asked)
        : m_outcome(outcome)
        , m_asked(asked)
    {}

protected:
    QCoro::Task<Credential> requestAssertion(SudoPasskey::AssertionParameters parameters) override
    {
        m_asked.append(parameters);
        if (m_outcome == Outcome::Cancels)
            throw SudoPasskey::CeremonyError(SudoPasskey::CeremonyError::Kind::canceled);
        if (m_outcome == Outcome::Fails)
            throw ShareError(QStringLiteral("The security key stopped answering."));
        co_return Credential{
            "cred",       clientDataJSON(parameters.challenge, parameters.relyingPartyIdentifier),
            "auth",       "sig",
            std::nullopt, false};
    }

private:
    Outcome m_outcome;
    QList<SudoPasskey::AssertionParameters> &m_asked;
};
