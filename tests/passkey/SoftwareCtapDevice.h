#pragma once

#include "CtapHidFraming.h"

#include <QByteArray>
#include <QCborMap>
#include <QList>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

typedef struct evp_pkey_st EVP_PKEY;

// A CTAP2 security key in software, reached over CTAPHID reports as libfido2 writes and reads
// them. It holds one discoverable ES256 credential for one relying party and user, and answers
// authenticatorGetInfo, authenticatorGetAssertion (allow list, user presence, user verification
// by PIN) and authenticatorClientPIN (getPINRetries, getKeyAgreement, getPinToken of PIN
// protocol one, getPinUvAuthTokenUsingPinWithPermissions of protocol two). While a request waits
// for the user's touch it sends keepalives and listens for a cancel.
//
// Thread-safe: libfido2 reads on one thread while it cancels from another.
class SoftwareCtapDevice
{
public:
    enum class Touch {
        Immediately, // the user touches the key as soon as it asks
        WhenTouched, // it waits for touch(), a cancel or unplug()
    };
    // How the key answers an assertion.
    enum class Answer {
        Correct,
        NotCbor,                    // a status of success and then bytes that are no CBOR
        TruncatedAuthenticatorData, // authenticator data shorter than its fixed 37 bytes
        FramesOutOfSequence,        // the answer's continuation packets numbered from 1
        BadSignature,               // a signature over other bytes than the ones it signs
        Silent, // takes the request and says nothing more, not even to a cancel, until unplugged
        SilentFromTheStart, // does not answer even the INIT that opens it
    };

    struct Settings
    {
        // 0: no PIN support; 1: PIN protocol one (CTAP 2.0); 2: protocols two and one, with
        // pinUvAuthToken (CTAP 2.1), so that libfido2 picks two.
        int pinProtocol = 2;
        // The PIN set on the key; none: no PIN set.
        std::optional<QByteArray> pin;
        int pinRetries = 8;
        Touch touch = Touch::Immediately;
        Answer answer = Answer::Correct;
    };

    // A new P-256 key and a random 32-byte credential ID. Throws std::runtime_error.
    SoftwareCtapDevice(const QString &rpId, const QByteArray &userHandle, Settings settings);
    ~SoftwareCtapDevice();
    SoftwareCtapDevice(const SoftwareCtapDevice &) = delete;
    SoftwareCtapDevice &operator=(const SoftwareCtapDevice &) = delete;

    const QByteArray &credentialId() const { return m_credentialId; }
    // The credential's public key as a DER SubjectPublicKeyInfo, the form the service registers.
    QByteArray publicKey() const;

    // The host's side, as libfido2's I/O functions see it: an output report with its report ID
    // in front, and an input report of 64 bytes. Both fail once the key is unplugged; read()
    // fails when nothing came within milliseconds (-1: no limit).
    int write(const unsigned char *data, size_t length);
    int read(unsigned char *buffer, size_t length, int milliseconds);

    // The person at the key.
    void touch();
    void unplug();
    bool isPluggedIn() const;
    // Called on the writing thread, without the key's lock, when a request starts to wait: for
    // the user's touch, or for ever on a silent key.
    void setWaiting(std::function<void()> handler);

    // What the key was asked: the CTAP2 command bytes and the clientPIN subcommands, in order.
    QList<quint8> commands() const;
    QList<quint8> pinSubcommands() const;
    int pinRetries() const;

private:
    struct Waiting
    {
        quint32 channel = 0;
        QByteArray response;
    };

    void handle(const CtapHidFraming::Frame &frame, std::function<void()> &notify);
    QByteArray handleCbor(quint32 channel, const QByteArray &request,
                          std::function<void()> &notify);
    QByteArray getInfo() const;
    QByteArray getAssertion(const QCborMap &request, quint32 channel,
                            std::function<void()> &notify);
    QByteArray clientPin(const QCborMap &request);
    QByteArray pinToken(const QCborMap &request, int subcommand);
    QByteArray assertionResponse(const QByteArray &clientDataHash, bool userPresent,
                                 bool userVerified);
    void send(quint32 channel, quint8 command, const QByteArray &payload);
    void sendReports(QList<QByteArray> reports);
    void newKeyAgreement();

    const Settings m_settings;
    const QString m_rpId;
    const QByteArray m_userHandle;
    QByteArray m_credentialId;
    std::shared_ptr<EVP_PKEY> m_credentialKey;

    mutable std::mutex m_mutex;
    std::condition_variable m_readable;
    std::deque<QByteArray> m_output;
    CtapHidFraming m_framing;
    quint32 m_nextChannel = 0x01000000;
    QList<quint32> m_channels;
    std::optional<Waiting> m_waiting;
    bool m_pluggedIn = true;
    std::function<void()> m_waitingHandler;

    quint32 m_signCount = 0;
    int m_retries = 0;
    int m_mismatches = 0;
    std::shared_ptr<EVP_PKEY> m_keyAgreement;
    QByteArray m_pinToken;
    int m_tokenProtocol = 0;
    quint8 m_tokenPermissions = 0;
    QString m_tokenRpId;

    QList<quint8> m_commands;
    QList<quint8> m_pinSubcommands;
};
