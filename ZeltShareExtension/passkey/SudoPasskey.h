#pragma once

#include "service/InternalAppAPI.h"
#include "service/ServiceError.h"

#include <QByteArray>
#include <QCoroTask>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <optional>

class SessionHolder;

// The records of the sudo step-up: options from the service, the assertion it asks for, and
// the completion sent back; byte values travel as base64url text.
namespace SudoPasskey {

// What "beginSudoPasskeyAuthentication" answers. All five keys are required.
struct Options
{
    QString passkeyAttemptID;
    QString challenge; // base64url
    QString rpID;
    QStringList allowCredentialIDs; // base64url each
    QString userVerification;       // "required", "preferred" or "discouraged", passed on as is

    static std::optional<Options> fromJson(const QJsonValue &value);
};

// What an authenticator signed, reduced to bytes (the prompt's result).
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

// What the prompt is asked to sign.
struct AssertionParameters
{
    QString relyingPartyIdentifier;
    QByteArray challenge;
    QList<QByteArray> allowedCredentialIDs;
    QString userVerification;
};

// The params of "completeSudoPasskeyAuthentication": the assertion shaped as a WebAuthn
// public-key credential.
struct Completion
{
    struct Assertion
    {
        QString clientDataJSON;
        QString authenticatorData;
        QString signature;
        std::optional<QString> userHandle;
    };
    struct Response
    {
        QString id;
        QString rawId;
        QString type;
        Assertion response;
        QString authenticatorAttachment;
    };

    QString passkeyAttemptID;
    Response response;

    QJsonObject toJson() const;
};

class CeremonyError : public UserFacingError
{
public:
    enum class Kind { invalidOptions, canceled };

    explicit CeremonyError(Kind kind);
    Kind kind() const { return m_kind; }
    QString errorDescription() const override;

private:
    Kind m_kind;
};

// Standard base64 with or without padding, or base64url; strict: any other character,
// whitespace included, gives none.
std::optional<QByteArray> base64URLDecode(const QString &text);
// Unpadded base64url.
QString base64URLEncode(const QByteArray &bytes);

// Throws CeremonyError::invalidOptions when the challenge does not decode; undecodable
// credential IDs are dropped.
AssertionParameters assertionParameters(const Options &options);
Completion completion(const Credential &credential, const QString &passkeyAttemptID);

QCoro::Task<Options> beginSudoPasskeyAuthentication(QPointer<SessionHolder> holder);
QCoro::Task<SudoSessionResult> completeSudoPasskeyAuthentication(QPointer<SessionHolder> holder,
                                                                 Completion completion);

} // namespace SudoPasskey
