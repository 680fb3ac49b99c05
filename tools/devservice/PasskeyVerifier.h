#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// A passkey the service knows for a user: the credential ID, the DER SubjectPublicKeyInfo of
// its P-256 key, and the last signature counter it reported.
struct PasskeyCredential
{
    QByteArray id;
    QByteArray publicKey;
    quint32 signCount = 0;
};

// Checks one WebAuthn assertion (ES256) against the challenge the service handed out:
//   - the credential shape: type "public-key", id equal to rawId, one of the allowed credentials;
//   - the client data: type "webauthn.get", the challenge, an expected origin, not cross-origin;
//   - the authenticator data: SHA-256 of the relying party ID, user presence (and user
//     verification when asked for), a signature counter that moved forward unless the
//     authenticator keeps none (0 before and after);
//   - the signature: ECDSA P-256 with SHA-256 over authenticatorData ‖ SHA-256(clientDataJSON);
//   - the user handle, when one is given, equal to the user's.
class PasskeyVerifier
{
public:
    enum class Failure {
        None,
        Malformed,
        UnknownCredential,
        ClientDataType,
        Challenge,
        Origin,
        RelyingParty,
        UserPresence,
        UserVerification,
        Signature,
        SignCount,
        UserHandle,
    };

    struct Expectation
    {
        QByteArray challenge;
        QString rpId;
        QStringList origins;
        bool userVerificationRequired = false;
        QByteArray userHandle;
    };

    struct Result
    {
        Failure failure = Failure::Malformed;
        // The credential that signed, with its new counter, on success.
        PasskeyCredential credential;
    };

    // response: the public-key credential object of the completion.
    static Result verify(const QJsonObject &response, const Expectation &expectation,
                         const QList<PasskeyCredential> &credentials);

    // ECDSA P-256 / SHA-256 with a DER signature; false for a key of any other kind.
    static bool verifySignature(const QByteArray &publicKey, const QByteArray &message,
                                const QByteArray &signature);
    // A DER SubjectPublicKeyInfo of a P-256 key.
    static bool isP256PublicKey(const QByteArray &publicKey);

    // A short word for the log and the error's "reason": "signature", "origin", …
    static QString reason(Failure failure);
};
