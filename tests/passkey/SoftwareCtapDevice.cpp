#include "SoftwareCtapDevice.h"

#include <QCborArray>
#include <QCborValue>
#include <QCryptographicHash>
#include <QtEndian>

#include <chrono>
#include <cstring>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <stdexcept>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// CTAP2 status codes, the first byte of every CBOR answer.
enum Status : quint8 {
    Success = 0x00,
    InvalidCommand = 0x01,
    InvalidParameter = 0x02,
    CborUnexpectedType = 0x11,
    InvalidCbor = 0x12,
    MissingParameter = 0x14,
    UnsupportedOption = 0x2b,
    KeepaliveCancel = 0x2d,
    NoCredentials = 0x2e,
    PinInvalid = 0x31,
    PinBlocked = 0x32,
    PinAuthInvalid = 0x33,
    PinAuthBlocked = 0x34,
    PinNotSet = 0x35,
    UnauthorizedPermission = 0x40,
};

enum CtapCommand : quint8 {
    GetAssertion = 0x02,
    GetInfo = 0x04,
    ClientPin = 0x06,
};

enum PinSubcommand {
    GetPinRetries = 0x01,
    GetKeyAgreement = 0x02,
    GetPinToken = 0x05,
    GetPinUvAuthTokenUsingPinWithPermissions = 0x09,
};

constexpr quint8 keepaliveUserPresenceNeeded = 0x02;
constexpr quint8 capabilityCbor = 0x04;
constexpr quint8 capabilityNoMessage = 0x08;
constexpr quint8 flagUserPresent = 0x01;
constexpr quint8 flagUserVerified = 0x04;
constexpr quint8 permissionMakeCredential = 0x01;
constexpr quint8 permissionGetAssertion = 0x02;
constexpr int maximumRetries = 8;
// Wrong PINs in a row after which the key takes no more until it is plugged in again.
constexpr int mismatchesBeforeReinsert = 3;
// How often a key that waits for the touch says so.
constexpr auto keepaliveInterval = 100ms;

using Key = std::shared_ptr<EVP_PKEY>;

Key adopt(EVP_PKEY *key)
{
    return Key(key, EVP_PKEY_free);
}

Key newP256Key()
{
    auto key = adopt(EVP_EC_gen("P-256"));
    if (!key)
        throw std::runtime_error("cannot make a P-256 key");
    return key;
}

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

QByteArray randomBytes(qsizetype count)
{
    QByteArray data(count, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(data.data()), int(count)) != 1)
        throw std::runtime_error("no random bytes");
    return data;
}

QByteArray sha256(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

QByteArray status(quint8 code)
{
    return QByteArray(1, char(code));
}

QByteArray answer(const QCborMap &map)
{
    return status(Success) + map.toCborValue().toCbor();
}

// x and y of a P-256 public key, 32 bytes each.
std::pair<QByteArray, QByteArray> coordinates(EVP_PKEY *key)
{
    unsigned char point[65];
    size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                        &length) != 1 ||
        length != sizeof point || point[0] != 0x04)
        throw std::runtime_error("no uncompressed P-256 point");
    const QByteArray data(reinterpret_cast<const char *>(point), qsizetype(length));
    return {data.mid(1, 32), data.mid(33, 32)};
}

// The platform's key-agreement key, from the x and y of its COSE key.
Key peerKey(const QByteArray &x, const QByteArray &y)
{
    if (x.size() != 32 || y.size() != 32)
        return nullptr;
    QByteArray point = QByteArray(1, '\x04') + x + y;
    char group[] = "prime256v1";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                          size_t(point.size())),
        OSSL_PARAM_construct_end(),
    };
    EVP_PKEY_CTX *context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY *key = nullptr;
    if (context && EVP_PKEY_fromdata_init(context) == 1)
        EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, const_cast<OSSL_PARAM *>(params));
    EVP_PKEY_CTX_free(context);
    return key ? adopt(key) : nullptr;
}

// The x coordinate of the ECDH point.
QByteArray agree(EVP_PKEY *ours, EVP_PKEY *theirs)
{
    EVP_PKEY_CTX *context = EVP_PKEY_CTX_new(ours, nullptr);
    QByteArray secret(32, Qt::Uninitialized);
    size_t length = size_t(secret.size());
    const bool ok =
        context && EVP_PKEY_derive_init(context) == 1 &&
        EVP_PKEY_derive_set_peer(context, theirs) == 1 &&
        EVP_PKEY_derive(context, reinterpret_cast<unsigned char *>(secret.data()), &length) == 1 &&
        length == 32;
    EVP_PKEY_CTX_free(context);
    return ok ? secret : QByteArray();
}

// HKDF-SHA-256 with 32 zero bytes of salt, 32 bytes out.
QByteArray hkdf(const QByteArray &secret, const char *info)
{
    EVP_KDF *kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX *context = kdf ? EVP_KDF_CTX_new(kdf) : nullptr;
    EVP_KDF_free(kdf);
    QByteArray salt(32, '\0');
    QByteArray key = secret;
    QByteArray infoText(info);
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string("digest", digest, 0),
        OSSL_PARAM_construct_octet_string("key", key.data(), size_t(key.size())),
        OSSL_PARAM_construct_octet_string("salt", salt.data(), size_t(salt.size())),
        OSSL_PARAM_construct_octet_string("info", infoText.data(), size_t(infoText.size())),
        OSSL_PARAM_construct_end(),
    };
    QByteArray out(32, Qt::Uninitialized);
    const bool ok =
        context && EVP_KDF_derive(context, reinterpret_cast<unsigned char *>(out.data()),
                                  size_t(out.size()), params) == 1;
    EVP_KDF_CTX_free(context);
    return ok ? out : QByteArray();
}

// The shared secret of a PIN protocol: SHA-256 of the point for one; for two, an HMAC key and
// an AES key, each derived with HKDF.
QByteArray sharedSecret(int protocol, const QByteArray &point)
{
    if (protocol == 1)
        return sha256(point);
    return hkdf(point, "CTAP2 HMAC key") + hkdf(point, "CTAP2 AES key");
}

std::optional<QByteArray> aes256Cbc(bool encrypt, const QByteArray &key, const QByteArray &iv,
                                    const QByteArray &data)
{
    if (key.size() != 32 || iv.size() != 16 || data.isEmpty() || data.size() % 16 != 0)
        return std::nullopt;
    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    QByteArray out(data.size() + 16, Qt::Uninitialized);
    int written = 0;
    int last = 0;
    const bool ok =
        context &&
        EVP_CipherInit_ex(context, EVP_aes_256_cbc(), nullptr, bytes(key), bytes(iv),
                          encrypt ? 1 : 0) == 1 &&
        EVP_CIPHER_CTX_set_padding(context, 0) == 1 &&
        EVP_CipherUpdate(context, reinterpret_cast<unsigned char *>(out.data()), &written,
                         bytes(data), int(data.size())) == 1 &&
        EVP_CipherFinal_ex(context, reinterpret_cast<unsigned char *>(out.data()) + written,
                           &last) == 1;
    EVP_CIPHER_CTX_free(context);
    if (!ok)
        return std::nullopt;
    out.resize(written + last);
    return out;
}

// Protocol one encrypts with a zero IV; two with a random IV sent in front.
QByteArray encrypt(int protocol, const QByteArray &secret, const QByteArray &data)
{
    if (protocol == 1)
        return aes256Cbc(true, secret, QByteArray(16, '\0'), data).value_or(QByteArray());
    const QByteArray iv = randomBytes(16);
    return iv + aes256Cbc(true, secret.mid(32), iv, data).value_or(QByteArray());
}

std::optional<QByteArray> decrypt(int protocol, const QByteArray &secret, const QByteArray &data)
{
    if (protocol == 1)
        return aes256Cbc(false, secret, QByteArray(16, '\0'), data);
    return aes256Cbc(false, secret.mid(32), data.left(16), data.mid(16));
}

// HMAC-SHA-256; protocol one keeps its first 16 bytes.
QByteArray authenticate(int protocol, const QByteArray &key, const QByteArray &message)
{
    unsigned char digest[32];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key.constData(), int(key.size()), bytes(message),
              size_t(message.size()), digest, &length))
        return {};
    return QByteArray(reinterpret_cast<const char *>(digest), protocol == 1 ? 16 : int(length));
}

QByteArray signES256(EVP_PKEY *key, const QByteArray &message)
{
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    size_t length = 0;
    QByteArray signature;
    bool ok =
        context && EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
        EVP_DigestSign(context, nullptr, &length, bytes(message), size_t(message.size())) == 1;
    if (ok) {
        signature.resize(qsizetype(length));
        ok = EVP_DigestSign(context, reinterpret_cast<unsigned char *>(signature.data()), &length,
                            bytes(message), size_t(message.size())) == 1;
        signature.resize(qsizetype(length));
    }
    EVP_MD_CTX_free(context);
    if (!ok)
        throw std::runtime_error("ECDSA signing failed");
    return signature;
}

QByteArray bigEndian32(quint32 value)
{
    QByteArray data(4, Qt::Uninitialized);
    qToBigEndian(value, data.data());
    return data;
}

} // namespace

SoftwareCtapDevice::SoftwareCtapDevice(const QString &rpId, const QByteArray &userHandle,
                                       Settings settings)
    : m_settings(std::move(settings))
    , m_rpId(rpId)
    , m_userHandle(userHandle)
    , m_credentialId(randomBytes(32))
    , m_credentialKey(newP256Key())
    , m_retries(m_settings.pinRetries)
{
    newKeyAgreement();
}

SoftwareCtapDevice::~SoftwareCtapDevice() = default;

QByteArray SoftwareCtapDevice::publicKey() const
{
    unsigned char *der = nullptr;
    const int length = i2d_PUBKEY(m_credentialKey.get(), &der);
    if (length <= 0)
        return {};
    QByteArray result(reinterpret_cast<const char *>(der), length);
    OPENSSL_free(der);
    return result;
}

void SoftwareCtapDevice::newKeyAgreement()
{
    m_keyAgreement = newP256Key();
}

int SoftwareCtapDevice::write(const unsigned char *data, size_t length)
{
    std::function<void()> notify;
    {
        std::lock_guard lock(m_mutex);
        // The report ID first, then one report.
        if (!m_pluggedIn || length < size_t(1 + CtapHidFraming::reportSize))
            return -1;
        const QByteArray report(reinterpret_cast<const char *>(data) + 1,
                                CtapHidFraming::reportSize);
        const auto received = m_framing.receive(report);
        if (received.error)
            sendReports(
                {CtapHidFraming::errorReport(received.error->first, received.error->second)});
        if (received.frame)
            handle(*received.frame, notify);
    }
    if (notify)
        notify();
    return int(length);
}

int SoftwareCtapDevice::read(unsigned char *buffer, size_t length, int milliseconds)
{
    std::unique_lock lock(m_mutex);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (!m_pluggedIn)
            return -1;
        if (!m_output.empty()) {
            const QByteArray report = m_output.front();
            m_output.pop_front();
            const size_t count = qMin(length, size_t(report.size()));
            std::memcpy(buffer, report.constData(), count);
            return int(count);
        }
        auto until = std::chrono::steady_clock::now() + keepaliveInterval;
        if (milliseconds >= 0 && deadline < until)
            until = deadline;
        if (m_readable.wait_until(lock, until) == std::cv_status::timeout) {
            if (m_waiting && m_output.empty())
                send(m_waiting->channel, CtapHidFraming::Keepalive,
                     QByteArray(1, char(keepaliveUserPresenceNeeded)));
            else if (milliseconds >= 0 && std::chrono::steady_clock::now() >= deadline)
                return -1;
        }
    }
}

void SoftwareCtapDevice::touch()
{
    std::lock_guard lock(m_mutex);
    if (!m_waiting)
        return;
    send(m_waiting->channel, CtapHidFraming::Cbor, m_waiting->response);
    m_waiting.reset();
}

void SoftwareCtapDevice::unplug()
{
    std::lock_guard lock(m_mutex);
    m_pluggedIn = false;
    m_waiting.reset();
    m_output.clear();
    m_readable.notify_all();
}

bool SoftwareCtapDevice::isPluggedIn() const
{
    std::lock_guard lock(m_mutex);
    return m_pluggedIn;
}

void SoftwareCtapDevice::setWaiting(std::function<void()> handler)
{
    std::lock_guard lock(m_mutex);
    m_waitingHandler = std::move(handler);
}

QList<quint8> SoftwareCtapDevice::commands() const
{
    std::lock_guard lock(m_mutex);
    return m_commands;
}

QList<quint8> SoftwareCtapDevice::pinSubcommands() const
{
    std::lock_guard lock(m_mutex);
    return m_pinSubcommands;
}

int SoftwareCtapDevice::pinRetries() const
{
    std::lock_guard lock(m_mutex);
    return m_retries;
}

void SoftwareCtapDevice::send(quint32 channel, quint8 command, const QByteArray &payload)
{
    sendReports(CtapHidFraming::reports({channel, command, payload}));
}

void SoftwareCtapDevice::sendReports(QList<QByteArray> reports)
{
    for (auto &report : reports)
        m_output.push_back(std::move(report));
    m_readable.notify_all();
}

void SoftwareCtapDevice::handle(const CtapHidFraming::Frame &frame, std::function<void()> &notify)
{
    switch (frame.command) {
    case CtapHidFraming::Init: {
        if (m_settings.answer == Answer::SilentFromTheStart) {
            notify = m_waitingHandler;
            return;
        }
        if (frame.payload.size() != 8) {
            sendReports(
                {CtapHidFraming::errorReport(frame.channel, CtapHidFraming::InvalidLength)});
            return;
        }
        // On the broadcast channel it hands out a new channel; on its own it starts over.
        const quint32 channel =
            frame.channel == CtapHidFraming::broadcastChannel ? m_nextChannel++ : frame.channel;
        if (!m_channels.contains(channel))
            m_channels.append(channel);
        if (m_waiting && m_waiting->channel == channel)
            m_waiting.reset();
        // Nonce, channel, CTAPHID version 2, device version 1.0.0, capabilities.
        QByteArray reply = frame.payload + bigEndian32(channel);
        reply.append(char(2)).append(char(1)).append(char(0)).append(char(0));
        reply.append(char(capabilityCbor | capabilityNoMessage));
        send(frame.channel, CtapHidFraming::Init, reply);
        return;
    }
    case CtapHidFraming::Cbor: {
        if (!m_channels.contains(frame.channel)) {
            sendReports(
                {CtapHidFraming::errorReport(frame.channel, CtapHidFraming::InvalidChannel)});
            return;
        }
        if (m_waiting) {
            sendReports({CtapHidFraming::errorReport(frame.channel, CtapHidFraming::ChannelBusy)});
            return;
        }
        if (frame.payload.isEmpty()) {
            sendReports(
                {CtapHidFraming::errorReport(frame.channel, CtapHidFraming::InvalidLength)});
            return;
        }
        const QByteArray reply = handleCbor(frame.channel, frame.payload, notify);
        if (reply.isNull())
            return;
        auto reports = CtapHidFraming::reports({frame.channel, CtapHidFraming::Cbor, reply});
        if (m_settings.answer == Answer::FramesOutOfSequence &&
            quint8(frame.payload[0]) == GetAssertion)
            for (qsizetype i = 1; i < reports.size(); ++i)
                reports[i][4] = char(i);
        sendReports(std::move(reports));
        return;
    }
    case CtapHidFraming::Cancel:
        if (m_waiting && m_waiting->channel == frame.channel) {
            m_waiting.reset();
            send(frame.channel, CtapHidFraming::Cbor, status(KeepaliveCancel));
        }
        return;
    default:
        sendReports({CtapHidFraming::errorReport(frame.channel, CtapHidFraming::InvalidCommand)});
        return;
    }
}

QByteArray SoftwareCtapDevice::handleCbor(quint32 channel, const QByteArray &request,
                                          std::function<void()> &notify)
{
    const quint8 command = quint8(request[0]);
    m_commands.append(command);
    QCborMap parameters;
    if (request.size() > 1) {
        QCborParserError error;
        const auto value = QCborValue::fromCbor(request.mid(1), &error);
        if (error.error != QCborError::NoError)
            return status(InvalidCbor);
        if (!value.isMap())
            return status(CborUnexpectedType);
        parameters = value.toMap();
    }
    switch (command) {
    case GetInfo:
        return getInfo();
    case GetAssertion:
        return getAssertion(parameters, channel, notify);
    case ClientPin:
        return clientPin(parameters);
    default:
        return status(InvalidCommand);
    }
}

QByteArray SoftwareCtapDevice::getInfo() const
{
    const bool ctap21 = m_settings.pinProtocol == 2;
    QCborMap options{{u"rk"_s, true}, {u"up"_s, true}, {u"plat"_s, false}};
    if (m_settings.pinProtocol > 0)
        options.insert(u"clientPin"_s, m_settings.pin.has_value());
    if (ctap21)
        options.insert(u"pinUvAuthToken"_s, true);
    QCborMap info;
    info.insert(1, ctap21 ? QCborArray{u"FIDO_2_0"_s, u"FIDO_2_1"_s} : QCborArray{u"FIDO_2_0"_s});
    info.insert(3, QByteArray::fromHex("5a656c74536f66747761726543746170"));
    info.insert(4, options);
    info.insert(5, 1200);
    if (m_settings.pinProtocol > 0)
        info.insert(6, ctap21 ? QCborArray{2, 1} : QCborArray{1});
    return answer(info);
}

QByteArray SoftwareCtapDevice::getAssertion(const QCborMap &request, quint32 channel,
                                            std::function<void()> &notify)
{
    const auto rpId = request.value(1);
    const auto clientDataHash = request.value(2);
    if (!rpId.isString() || !clientDataHash.isByteArray())
        return status(MissingParameter);
    const auto options = request.value(5).toMap();
    const bool userPresence = options.value(u"up"_s).toBool(true);
    if (options.value(u"uv"_s).toBool(false))
        return status(UnsupportedOption); // no verification of its own: only the PIN

    bool verified = false;
    if (const auto pinAuth = request.value(6); pinAuth.isByteArray()) {
        const auto protocol = request.value(7);
        if (!protocol.isInteger())
            return status(MissingParameter);
        if (m_pinToken.isEmpty() || protocol.toInteger() != m_tokenProtocol ||
            authenticate(m_tokenProtocol, m_pinToken, clientDataHash.toByteArray()) !=
                pinAuth.toByteArray())
            return status(PinAuthInvalid);
        if (!(m_tokenPermissions & permissionGetAssertion) ||
            (!m_tokenRpId.isEmpty() && m_tokenRpId != rpId.toString()))
            return status(UnauthorizedPermission);
        verified = true;
    }

    bool allowed = rpId.toString() == m_rpId;
    if (allowed && request.contains(3)) {
        const auto list = request.value(3);
        if (!list.isArray())
            return status(CborUnexpectedType);
        allowed = list.toArray().isEmpty();
        for (const auto &entry : list.toArray()) {
            if (!entry.isMap())
                return status(CborUnexpectedType);
            if (entry.toMap().value(u"id"_s).toByteArray() == m_credentialId)
                allowed = true;
        }
    }
    if (!allowed)
        return status(NoCredentials);

    if (m_settings.answer == Answer::Silent) {
        notify = m_waitingHandler;
        return {};
    }
    const QByteArray reply =
        assertionResponse(clientDataHash.toByteArray(), userPresence, verified);
    if (!userPresence)
        return reply;
    // The key blinks: a keepalive first, then the answer once touched.
    send(channel, CtapHidFraming::Keepalive, QByteArray(1, char(keepaliveUserPresenceNeeded)));
    if (m_settings.touch == Touch::Immediately)
        return reply;
    m_waiting = Waiting{channel, reply};
    notify = m_waitingHandler;
    return {};
}

QByteArray SoftwareCtapDevice::assertionResponse(const QByteArray &clientDataHash, bool userPresent,
                                                 bool userVerified)
{
    if (m_settings.answer == Answer::NotCbor)
        return status(Success) + QByteArray::fromHex("ffffff1c");
    const quint8 flags =
        (userPresent ? flagUserPresent : 0) | (userVerified ? flagUserVerified : 0);
    QByteArray authenticatorData = sha256(m_rpId.toUtf8());
    authenticatorData.append(char(flags));
    authenticatorData.append(bigEndian32(++m_signCount));
    const QByteArray signed_ = m_settings.answer == Answer::BadSignature
                                   ? authenticatorData + sha256(clientDataHash)
                                   : authenticatorData + clientDataHash;
    const QByteArray signature = signES256(m_credentialKey.get(), signed_);
    if (m_settings.answer == Answer::TruncatedAuthenticatorData)
        authenticatorData.truncate(20);

    QCborMap reply;
    reply.insert(1, QCborMap{{u"id"_s, m_credentialId}, {u"type"_s, u"public-key"_s}});
    reply.insert(2, authenticatorData);
    reply.insert(3, signature);
    reply.insert(4, QCborMap{{u"id"_s, m_userHandle}});
    return answer(reply);
}

QByteArray SoftwareCtapDevice::clientPin(const QCborMap &request)
{
    const auto protocol = request.value(1).toInteger(-1);
    const auto subcommand = request.value(2).toInteger(-1);
    m_pinSubcommands.append(quint8(subcommand));
    if (m_settings.pinProtocol == 0)
        return status(InvalidCommand);
    if (protocol != 1 && !(protocol == 2 && m_settings.pinProtocol == 2))
        return status(InvalidParameter);
    switch (subcommand) {
    case GetPinRetries:
        return answer(QCborMap{{3, m_retries}});
    case GetKeyAgreement: {
        const auto [x, y] = coordinates(m_keyAgreement.get());
        // COSE_Key: EC2, ECDH-ES+HKDF-256 (as the protocols name it), P-256, x, y.
        QCborMap key;
        key.insert(1, 2);
        key.insert(3, -25);
        key.insert(-1, 1);
        key.insert(-2, x);
        key.insert(-3, y);
        return answer(QCborMap{{1, key}});
    }
    case GetPinToken:
        return pinToken(request, GetPinToken);
    case GetPinUvAuthTokenUsingPinWithPermissions:
        if (m_settings.pinProtocol != 2)
            return status(InvalidParameter);
        return pinToken(request, GetPinUvAuthTokenUsingPinWithPermissions);
    default:
        return status(InvalidParameter);
    }
}

QByteArray SoftwareCtapDevice::pinToken(const QCborMap &request, int subcommand)
{
    if (!m_settings.pin)
        return status(PinNotSet);
    const int protocol = int(request.value(1).toInteger());
    const auto platformKey = request.value(3).toMap();
    const auto pinHashEnc = request.value(6);
    if (platformKey.isEmpty() || !pinHashEnc.isByteArray())
        return status(MissingParameter);
    quint8 permissions = permissionMakeCredential | permissionGetAssertion;
    QString rpId;
    if (subcommand == GetPinUvAuthTokenUsingPinWithPermissions) {
        permissions = quint8(request.value(9).toInteger(0));
        if (permissions == 0)
            return status(MissingParameter);
        rpId = request.value(10).toString();
    }
    if (m_retries == 0)
        return status(PinBlocked);
    if (m_mismatches >= mismatchesBeforeReinsert)
        return status(PinAuthBlocked);

    const auto peer =
        peerKey(platformKey.value(-2).toByteArray(), platformKey.value(-3).toByteArray());
    if (!peer)
        return status(InvalidParameter);
    const QByteArray point = agree(m_keyAgreement.get(), peer.get());
    if (point.isEmpty())
        return status(InvalidParameter);
    const QByteArray secret = sharedSecret(protocol, point);

    // The try counts before the PIN is checked, so pulling the key mid-check saves none.
    --m_retries;
    const auto pinHash = decrypt(protocol, secret, pinHashEnc.toByteArray());
    if (!pinHash || *pinHash != sha256(*m_settings.pin).left(16)) {
        newKeyAgreement();
        ++m_mismatches;
        if (m_retries == 0)
            return status(PinBlocked);
        if (m_mismatches >= mismatchesBeforeReinsert)
            return status(PinAuthBlocked);
        return status(PinInvalid);
    }
    m_retries = maximumRetries;
    m_mismatches = 0;
    m_pinToken = randomBytes(32);
    m_tokenProtocol = protocol;
    m_tokenPermissions = permissions;
    m_tokenRpId = rpId;
    return answer(QCborMap{{2, encrypt(protocol, secret, m_pinToken)}});
}
