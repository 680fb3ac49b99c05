#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <stdexcept>

class BundleConfiguration;

// A failed keychain write. The callers treat write-back as best effort and only log it.
class KeychainError : public std::runtime_error
{
public:
    enum class Status {
        Unsupported, // no access group is configured
        NotFound,    // no item, or the item no longer carries the expected fingerprint
        Failed,      // the store itself failed
    };

    KeychainError(Status status, const QString &message);
    Status status() const { return m_status; }

private:
    Status m_status;
};

// The one item the main application and the extension share: account "tovi-share", service
// "app.zelt.native-share-session" in the configured access group. Its data is the session JSON;
// its generic attribute is the session fingerprint (32 bytes, kept as lower-case hex).
class SessionKeychain
{
public:
    virtual ~SessionKeychain() = default;

    // What a read found.
    struct Contents
    {
        enum class State {
            Item,        // data is the item's
            NoItem,      // no item, or one that cannot be read back
            Unavailable, // the keyring could not be asked or stays locked: no bus, no Secret
                         // Service on it, or a locked collection that no unlock prompt opened
        };
        State state = State::NoItem;
        QByteArray data;
    };
    virtual Contents contents() = 0;
    // The item's data, or none when there is no item or it cannot be read.
    std::optional<QByteArray> read();
    // Stores data and fingerprint whatever the item held before: what the main application does
    // when it signs in.
    virtual void store(const QByteArray &fingerprint, const QByteArray &data) = 0;
    // Compare-and-replace: takes effect only while the item carries expectedFingerprint, so a
    // session that another writer stored meanwhile is never overwritten. Throws KeychainError.
    virtual void replace(const QByteArray &expectedFingerprint, const QByteArray &fingerprint,
                         const QByteArray &data) = 0;
    // Deletes the item; with expectedFingerprint only while the item still carries it.
    // Never reports an error.
    virtual void remove(const std::optional<QByteArray> &expectedFingerprint = std::nullopt) = 0;

    // The configured backend for the configured access group; null without an access group.
    static std::unique_ptr<SessionKeychain> create(const BundleConfiguration &configuration);
};
