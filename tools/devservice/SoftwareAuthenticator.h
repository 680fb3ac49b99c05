#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

typedef struct evp_pkey_st EVP_PKEY;

// A FIDO2-style authenticator in software: one ES256 (P-256) credential for one relying party
// and one user, standing in for a security key in the tests and on machines without one.
//
// An assertion is what a security key returns: the authenticator data, 37 bytes made of
// SHA-256(rpId), the flags (user present and user verified) and the signature counter as a
// big-endian 32-bit number, and an ECDSA signature (ASN.1 DER) over authenticator data ‖
// clientDataHash. The counter goes up by one with every assertion; an authenticator loaded
// from a file writes the new count back before it returns, as a key keeps it in its own memory.
class SoftwareAuthenticator
{
public:
    struct Assertion
    {
        QByteArray authenticatorData;
        QByteArray signature;
    };

    // A new credential with a random 32-byte credential ID. Throws std::runtime_error.
    static SoftwareAuthenticator create(const QString &rpId, const QByteArray &userHandle);
    // The file that save() writes (JSON, with the private key; kept 0600). None when it is
    // missing or not an authenticator.
    static std::optional<SoftwareAuthenticator> load(const QString &path);
    // Writes the credential to path; from then on each assertion updates that file.
    bool save(const QString &path);

    const QString &rpId() const { return m_rpId; }
    const QByteArray &credentialId() const { return m_credentialId; }
    const QByteArray &userHandle() const { return m_userHandle; }
    quint32 signCount() const { return m_signCount; }
    // The public key as a DER SubjectPublicKeyInfo, the form the service registers.
    QByteArray publicKey() const;

    // Signs clientDataHash (SHA-256 of the client data JSON) for rpId. None when rpId is not
    // the credential's relying party: like a security key, it then has nothing to offer.
    std::optional<Assertion> sign(const QByteArray &clientDataHash, const QString &rpId);

private:
    SoftwareAuthenticator() = default;
    bool write(const QString &path) const;

    QString m_rpId;
    QByteArray m_credentialId;
    QByteArray m_userHandle;
    quint32 m_signCount = 0;
    std::shared_ptr<EVP_PKEY> m_key;
    QString m_path;
};
