#include "PasskeyVerifier.h"

#include "Base64Url.h"

#include <QCryptographicHash>
#include <QJsonDocument>

#include <memory>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype authenticatorDataMinimum = 37;
constexpr unsigned char flagUserPresent = 0x01;
constexpr unsigned char flagUserVerified = 0x04;

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Key readPublicKey(const QByteArray &der)
{
    const auto *data = reinterpret_cast<const unsigned char *>(der.constData());
    EVP_PKEY *key = d2i_PUBKEY(nullptr, &data, long(der.size()));
    // Trailing bytes after the key make it something else.
    if (key && data != reinterpret_cast<const unsigned char *>(der.constData()) + der.size()) {
        EVP_PKEY_free(key);
        key = nullptr;
    }
    return Key(key, EVP_PKEY_free);
}

bool isP256(EVP_PKEY *key)
{
    char group[64] = {};
    size_t length = 0;
    return key && EVP_PKEY_get_base_id(key) == EVP_PKEY_EC &&
           EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof group, &length) == 1 &&
           QByteArray(group, qsizetype(length)) == "prime256v1";
}

bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    return a.size() == b.size() &&
           CRYPTO_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

std::optional<QByteArray> decodedField(const QJsonObject &object, const QString &key)
{
    const auto value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return Base64Url::decode(value.toString());
}

quint32 bigEndian32(const QByteArray &bytes, qsizetype offset)
{
    quint32 value = 0;
    for (qsizetype i = 0; i < 4; ++i)
        value = (value << 8) | quint8(bytes.at(offset + i));
    return value;
}

} // namespace

PasskeyVerifier::Result PasskeyVerifier::verify(const QJsonObject &response,
                                                const Expectation &expectation,
                                                const QList<PasskeyCredential> &credentials)
{
    Result result;
    const auto assertion = response.value(u"response"_s).toObject();
    const auto id = decodedField(response, u"id"_s);
    const auto clientDataJson = decodedField(assertion, u"clientDataJSON"_s);
    const auto authenticatorData = decodedField(assertion, u"authenticatorData"_s);
    const auto signature = decodedField(assertion, u"signature"_s);
    if (response.value(u"type"_s).toString() != u"public-key"_s || !id ||
        response.value(u"rawId"_s) != response.value(u"id"_s) || !clientDataJson ||
        !authenticatorData || !signature || authenticatorData->size() < authenticatorDataMinimum)
        return result;
    std::optional<QByteArray> userHandle;
    if (assertion.contains(u"userHandle"_s) && !assertion.value(u"userHandle"_s).isNull()) {
        userHandle = decodedField(assertion, u"userHandle"_s);
        if (!userHandle)
            return result;
    }

    const PasskeyCredential *credential = nullptr;
    for (const auto &candidate : credentials) {
        if (candidate.id == *id)
            credential = &candidate;
    }
    if (!credential) {
        result.failure = Failure::UnknownCredential;
        return result;
    }

    QJsonParseError parseError{};
    const auto clientData = QJsonDocument::fromJson(*clientDataJson, &parseError);
    if (parseError.error != QJsonParseError::NoError || !clientData.isObject())
        return result;
    const auto client = clientData.object();
    if (client.value(u"type"_s).toString() != u"webauthn.get"_s) {
        result.failure = Failure::ClientDataType;
        return result;
    }
    const auto challenge = decodedField(client, u"challenge"_s);
    if (!challenge || !sameBytes(*challenge, expectation.challenge)) {
        result.failure = Failure::Challenge;
        return result;
    }
    if (!expectation.origins.contains(client.value(u"origin"_s).toString()) ||
        client.value(u"crossOrigin"_s).toBool(false)) {
        result.failure = Failure::Origin;
        return result;
    }

    const auto rpIdHash =
        QCryptographicHash::hash(expectation.rpId.toUtf8(), QCryptographicHash::Sha256);
    if (!sameBytes(authenticatorData->left(32), rpIdHash)) {
        result.failure = Failure::RelyingParty;
        return result;
    }
    const auto flags = quint8(authenticatorData->at(32));
    if (!(flags & flagUserPresent)) {
        result.failure = Failure::UserPresence;
        return result;
    }
    if (expectation.userVerificationRequired && !(flags & flagUserVerified)) {
        result.failure = Failure::UserVerification;
        return result;
    }

    const auto clientDataHash =
        QCryptographicHash::hash(*clientDataJson, QCryptographicHash::Sha256);
    if (!verifySignature(credential->publicKey, *authenticatorData + clientDataHash, *signature)) {
        result.failure = Failure::Signature;
        return result;
    }
    // Only a signed counter counts; a counter that did not move means a cloned key.
    const quint32 signCount = bigEndian32(*authenticatorData, 33);
    if ((signCount != 0 || credential->signCount != 0) && signCount <= credential->signCount) {
        result.failure = Failure::SignCount;
        return result;
    }
    if (userHandle && !sameBytes(*userHandle, expectation.userHandle)) {
        result.failure = Failure::UserHandle;
        return result;
    }

    result.failure = Failure::None;
    result.credential = *credential;
    result.credential.signCount = signCount;
    return result;
}

bool PasskeyVerifier::verifySignature(const QByteArray &publicKey, const QByteArray &message,
                                      const QByteArray &signature)
{
    const Key key = readPublicKey(publicKey);
    if (!isP256(key.get()))
        return false;
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    const bool ok =
        context && EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context, reinterpret_cast<const unsigned char *>(signature.constData()),
                         size_t(signature.size()),
                         reinterpret_cast<const unsigned char *>(message.constData()),
                         size_t(message.size())) == 1;
    EVP_MD_CTX_free(context);
    return ok;
}

bool PasskeyVerifier::isP256PublicKey(const QByteArray &publicKey)
{
    return isP256(readPublicKey(publicKey).get());
}

QString PasskeyVerifier::reason(Failure failure)
{
    switch (failure) {
    case Failure::None:
        return u"none"_s;
    case Failure::Malformed:
        return u"malformed"_s;
    case Failure::UnknownCredential:
        return u"credential"_s;
    case Failure::ClientDataType:
        return u"type"_s;
    case Failure::Challenge:
        return u"challenge"_s;
    case Failure::Origin:
        return u"origin"_s;
    case Failure::RelyingParty:
        return u"rpid"_s;
    case Failure::UserPresence:
        return u"user-presence"_s;
    case Failure::UserVerification:
        return u"user-verification"_s;
    case Failure::Signature:
        return u"signature"_s;
    case Failure::SignCount:
        return u"sign-count"_s;
    case Failure::UserHandle:
        return u"user-handle"_s;
    }
    return u"malformed"_s;
}
