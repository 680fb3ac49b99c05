#pragma once

#include "SessionKeychain.h"

// The keychain item as a file, for machines without a desktop keyring:
//   <directory>/<access group>/tovi-share@app.zelt.native-share-session.json   (0600, in 0700)
// holding {"accessGroup", "account", "service", "generic": hex fingerprint, "data": base64}.
// Writers hold flock() on "<file>.lock" around read-compare-write and replace the file by an
// atomic rename, so readers never see a partial item and need no lock. The temporary is
// "<file>.new-<pid>"; those of writers killed before their rename go at the next write.
class FileSessionKeychain final : public SessionKeychain
{
public:
    FileSessionKeychain(const QString &directory, const QString &accessGroup);

    // $XDG_DATA_HOME/app.zelt.keychain
    static QString defaultDirectory();
    QString itemPath() const;

    Contents contents() override;
    void store(const QByteArray &fingerprint, const QByteArray &data) override;
    void replace(const QByteArray &expectedFingerprint, const QByteArray &fingerprint,
                 const QByteArray &data) override;
    void remove(const std::optional<QByteArray> &expectedFingerprint) override;

private:
    struct Item
    {
        QByteArray fingerprint;
        QByteArray data;
    };
    std::optional<Item> readItem() const;
    // Called with the lock held: removes the temporaries of writers that are gone.
    void sweepTemporaries() const;
    void write(const QByteArray &fingerprint, const QByteArray &data);

    QString m_directory;
    QString m_accessGroup;
};
