#pragma once

#include <QByteArray>

#include <optional>

// The security-key prompt of the step-up. For now only its signed assertion, reduced to bytes.
class PasskeyPrompt
{
public:
    struct Credential
    {
        QByteArray id;
        QByteArray clientDataJSON;
        QByteArray authenticatorData;
        QByteArray signature;
        std::optional<QByteArray> userHandle;
        // True only for a platform authenticator; security keys report false.
        bool isPlatform = false;
    };
};
