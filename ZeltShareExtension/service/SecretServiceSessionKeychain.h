#pragma once

#include "SessionKeychain.h"

// The keychain item in the desktop keyring over the Secret Service API (libsecret). Schema
// "app.zelt.NativeSharedSession" with the attributes accessGroup, account, service and
// generic (the fingerprint in lower-case hex); the secret is the session JSON ("text/plain").
//
// The Secret Service has no compare-and-replace, so writers serialise on flock() of
// $XDG_RUNTIME_DIR/app.zelt.native-share-session.lock, which the main application takes too.
// Nor can it set a secret and its attributes in one step: replace() and a bound remove() go by
// the fingerprint of the session in the secret, so that an item a killed writer left with a
// new secret under the old attribute is rotated on (and so repaired) like any other.
class SecretServiceSessionKeychain final : public SessionKeychain
{
public:
    explicit SecretServiceSessionKeychain(const QString &accessGroup);

    static QString lockFilePath();

    Contents contents() override;
    void store(const QByteArray &fingerprint, const QByteArray &data) override;
    void replace(const QByteArray &expectedFingerprint, const QByteArray &fingerprint,
                 const QByteArray &data) override;
    void remove(const std::optional<QByteArray> &expectedFingerprint) override;

private:
    QString m_accessGroup;
};
