#include "SoftwareAuthenticator.h"

#include "Base64Url.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

// Flags of the authenticator data: user present (bit 0) and user verified (bit 2).
constexpr char flagsPresentAndVerified = 0x05;

std::shared_ptr<EVP_PKEY> adopt(EVP_PKEY *key)
{
    return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

QByteArray privateKeyPem(EVP_PKEY *key)
{
    BIO *bio = BIO_new(BIO_s_mem());
    QByteArray result;
    if (PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1) {
        char *data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        result = QByteArray(data, size);
    }
    BIO_free(bio);
    return result;
}

std::shared_ptr<EVP_PKEY> readPrivateKey(const QByteArray &text)
{
    BIO *bio = BIO_new_mem_buf(text.constData(), int(text.size()));
    EVP_PKEY *key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (!key)
        return nullptr;
    char group[64] = {};
    size_t length = 0;
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC ||
        EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof group, &length) != 1 ||
        QByteArray(group, qsizetype(length)) != "prime256v1") {
        EVP_PKEY_free(key);
        return nullptr;
    }
    return adopt(key);
}

} // namespace

SoftwareAuthenticator SoftwareAuthenticator::create(const QString &rpId,
                                                    const QByteArray &userHandle)
{
    SoftwareAuthenticator authenticator;
    authenticator.m_rpId = rpId;
    authenticator.m_userHandle = userHandle;
    authenticator.m_credentialId.resize(32);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(authenticator.m_credentialId.data()),
                   int(authenticator.m_credentialId.size())) != 1)
        throw std::runtime_error("no random bytes for a credential ID");
    authenticator.m_key = adopt(EVP_EC_gen("P-256"));
    if (!authenticator.m_key)
        throw std::runtime_error("cannot make a P-256 key");
    return authenticator;
}

std::optional<SoftwareAuthenticator> SoftwareAuthenticator::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto object = QJsonDocument::fromJson(file.read(1024 * 1024)).object();
    const auto credentialId = Base64Url::decode(object.value(u"credentialID"_s).toString());
    const auto userHandle = Base64Url::decode(object.value(u"userHandle"_s).toString());
    const auto count = object.value(u"signCount"_s).toDouble(-1);
    SoftwareAuthenticator authenticator;
    authenticator.m_rpId = object.value(u"rpID"_s).toString();
    authenticator.m_key = readPrivateKey(object.value(u"privateKey"_s).toString().toUtf8());
    if (authenticator.m_rpId.isEmpty() || !credentialId || credentialId->isEmpty() || !userHandle ||
        !authenticator.m_key || count < 0 || count > 0xffffffffu)
        return std::nullopt;
    authenticator.m_credentialId = *credentialId;
    authenticator.m_userHandle = *userHandle;
    authenticator.m_signCount = quint32(count);
    authenticator.m_path = path;
    return authenticator;
}

bool SoftwareAuthenticator::save(const QString &path)
{
    if (!write(path))
        return false;
    m_path = path;
    return true;
}

bool SoftwareAuthenticator::write(const QString &path) const
{
    const QJsonObject object{
        {u"rpID"_s, m_rpId},
        {u"credentialID"_s, Base64Url::encode(m_credentialId)},
        {u"userHandle"_s, Base64Url::encode(m_userHandle)},
        {u"signCount"_s, double(m_signCount)},
        {u"privateKey"_s, QString::fromLatin1(privateKeyPem(m_key.get()))},
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(object).toJson());
    return file.commit();
}

QByteArray SoftwareAuthenticator::publicKey() const
{
    unsigned char *der = nullptr;
    const int length = i2d_PUBKEY(m_key.get(), &der);
    if (length <= 0)
        return {};
    QByteArray result(reinterpret_cast<const char *>(der), length);
    OPENSSL_free(der);
    return result;
}

std::optional<SoftwareAuthenticator::Assertion>
SoftwareAuthenticator::sign(const QByteArray &clientDataHash, const QString &rpId)
{
    if (rpId != m_rpId)
        return std::nullopt;
    const quint32 count = m_signCount + 1;
    // The count is kept before the signature leaves, so a crash can never repeat it.
    m_signCount = count;
    if (!m_path.isEmpty() && !write(m_path))
        throw std::runtime_error("cannot keep the signature counter");

    Assertion assertion;
    assertion.authenticatorData =
        QCryptographicHash::hash(m_rpId.toUtf8(), QCryptographicHash::Sha256);
    assertion.authenticatorData.append(flagsPresentAndVerified);
    for (int shift = 24; shift >= 0; shift -= 8)
        assertion.authenticatorData.append(char((count >> shift) & 0xff));

    const QByteArray message = assertion.authenticatorData + clientDataHash;
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    size_t length = 0;
    bool ok = context &&
              EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, m_key.get()) == 1 &&
              EVP_DigestSign(context, nullptr, &length,
                             reinterpret_cast<const unsigned char *>(message.constData()),
                             size_t(message.size())) == 1;
    if (ok) {
        assertion.signature.resize(qsizetype(length));
        ok = EVP_DigestSign(context, reinterpret_cast<unsigned char *>(assertion.signature.data()),
                            &length, reinterpret_cast<const unsigned char *>(message.constData()),
                            size_t(message.size())) == 1;
        assertion.signature.resize(qsizetype(length));
    }
    EVP_MD_CTX_free(context);
    if (!ok)
        throw std::runtime_error("ECDSA signing failed");
    return assertion;
}
