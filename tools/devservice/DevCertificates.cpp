#include "DevCertificates.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSslCertificate>

#include <memory>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

template <typename T, void (*Free)(T *)>
struct Deleter
{
    void operator()(T *p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

constexpr int authorityValidDays = 3 * 365;
constexpr int serverValidDays = 365;

void check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(std::string("certificate generation failed: ") + what);
}

Key newKey()
{
    Key key(EVP_EC_gen("P-256"));
    check(key != nullptr, "EVP_EC_gen");
    return key;
}

void addExtension(X509 *certificate, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    check(extension != nullptr, "X509V3_EXT_conf_nid");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

Certificate newCertificate(EVP_PKEY *key, const QByteArray &commonName, int validDays)
{
    Certificate certificate(X509_new());
    check(certificate != nullptr, "X509_new");
    X509_set_version(certificate.get(), 2);
    // A random serial, so a re-issued certificate never repeats an earlier one.
    ASN1_INTEGER *number = X509_get_serialNumber(certificate.get());
    std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>> value(BN_new());
    check(value && BN_rand(value.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1, "BN_rand");
    check(BN_to_ASN1_INTEGER(value.get(), number) != nullptr, "BN_to_ASN1_INTEGER");
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), long(validDays) * 24 * 3600);
    X509_set_pubkey(certificate.get(), key);
    X509_NAME *name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(commonName.constData()), -1,
                               -1, 0);
    return certificate;
}

QByteArray pem(X509 *certificate)
{
    Bio bio(BIO_new(BIO_s_mem()));
    check(PEM_write_bio_X509(bio.get(), certificate) == 1, "PEM_write_bio_X509");
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

QByteArray pem(EVP_PKEY *key)
{
    Bio bio(BIO_new(BIO_s_mem()));
    check(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
          "PEM_write_bio_PrivateKey");
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

Certificate readCertificate(const QByteArray &text)
{
    Bio bio(BIO_new_mem_buf(text.constData(), int(text.size())));
    return Certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

Key readKey(const QByteArray &text)
{
    Bio bio(BIO_new_mem_buf(text.constData(), int(text.size())));
    return Key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

// The server certificate for localhost, 127.0.0.1 and the extra DNS names, signed by the
// authority.
std::pair<QByteArray, QByteArray> issueServer(X509 *authority, EVP_PKEY *authorityKey,
                                              const QStringList &extraNames = {})
{
    Key serverKey = newKey();
    Certificate server = newCertificate(serverKey.get(), "localhost", serverValidDays);
    X509_set_issuer_name(server.get(), X509_get_subject_name(authority));
    addExtension(server.get(), authority, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(server.get(), authority, NID_key_usage, "critical,digitalSignature");
    addExtension(server.get(), authority, NID_ext_key_usage, "serverAuth");
    QByteArray names = "DNS:localhost,IP:127.0.0.1";
    for (const auto &name : extraNames)
        names += ",DNS:" + name.toUtf8();
    addExtension(server.get(), authority, NID_subject_alt_name, names.constData());
    addExtension(server.get(), authority, NID_authority_key_identifier, "keyid");
    check(X509_sign(server.get(), authorityKey, EVP_sha256()) > 0, "X509_sign server");
    return {pem(server.get()), pem(serverKey.get())};
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &data, bool secret)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error(
            QStringLiteral("cannot write %1: %2").arg(path, file.errorString()).toStdString());
    if (secret)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(data);
    if (!file.commit())
        throw std::runtime_error(
            QStringLiteral("cannot write %1: %2").arg(path, file.errorString()).toStdString());
}

// Usable for at least another day.
bool isFresh(const QSslCertificate &certificate)
{
    const auto now = QDateTime::currentDateTimeUtc();
    return !certificate.isNull() && certificate.effectiveDate() <= now &&
           certificate.expiryDate() > now.addDays(1);
}

} // namespace

DevCertificates DevCertificates::generate(const QString &authorityName, int validDays,
                                          const QStringList &extraNames)
{
    Key authorityKey = newKey();
    Certificate authority = newCertificate(authorityKey.get(), authorityName.toUtf8(), validDays);
    X509_set_issuer_name(authority.get(), X509_get_subject_name(authority.get()));
    addExtension(authority.get(), authority.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(authority.get(), authority.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(authority.get(), authority.get(), NID_subject_key_identifier, "hash");
    check(X509_sign(authority.get(), authorityKey.get(), EVP_sha256()) > 0, "X509_sign CA");

    DevCertificates result;
    result.authorityPem = pem(authority.get());
    result.authorityKeyPem = pem(authorityKey.get());
    std::tie(result.serverPem, result.serverKeyPem) =
        issueServer(authority.get(), authorityKey.get(), extraNames);
    return result;
}

QString DevCertificates::authorityFile(const QString &directory)
{
    return QDir(directory).filePath(u"ca.pem"_s);
}

QString DevCertificates::serverFile(const QString &directory)
{
    return QDir(directory).filePath(u"server.pem"_s);
}

QString DevCertificates::serverKeyFile(const QString &directory)
{
    return QDir(directory).filePath(u"server-key.pem"_s);
}

DevCertificates DevCertificates::ensure(const QString &directory)
{
    if (!QDir().mkpath(directory))
        throw std::runtime_error(QStringLiteral("cannot create %1").arg(directory).toStdString());
    const QDir dir(directory);
    const auto authorityKeyFile = dir.filePath(u"ca-key.pem"_s);

    DevCertificates current;
    current.authorityPem = readFile(authorityFile(directory));
    current.authorityKeyPem = readFile(authorityKeyFile);
    current.serverPem = readFile(serverFile(directory));
    current.serverKeyPem = readFile(serverKeyFile(directory));

    Certificate authority = readCertificate(current.authorityPem);
    Key authorityKey = readKey(current.authorityKeyPem);
    const QSslCertificate authorityCertificate(current.authorityPem, QSsl::Pem);
    if (!authority || !authorityKey ||
        X509_check_private_key(authority.get(), authorityKey.get()) != 1 ||
        authorityCertificate.expiryDate() < QDateTime::currentDateTimeUtc().addDays(2)) {
        current = generate(u"Zelt development CA"_s, authorityValidDays);
    } else {
        const auto chain = QSslCertificate::fromData(current.serverPem, QSsl::Pem);
        Certificate server = readCertificate(current.serverPem);
        Key serverKey = readKey(current.serverKeyPem);
        const bool serverUsable =
            server && serverKey && !chain.isEmpty() && isFresh(chain.first()) &&
            X509_verify(server.get(), X509_get0_pubkey(authority.get())) == 1 &&
            X509_check_private_key(server.get(), serverKey.get()) == 1;
        if (serverUsable)
            return current;
        std::tie(current.serverPem, current.serverKeyPem) =
            issueServer(authority.get(), authorityKey.get());
    }
    // The server file carries the chain up to the authority.
    if (!current.serverPem.endsWith(current.authorityPem))
        current.serverPem += current.authorityPem;
    writeFile(authorityKeyFile, current.authorityKeyPem, true);
    writeFile(serverKeyFile(directory), current.serverKeyPem, true);
    writeFile(serverFile(directory), current.serverPem, false);
    writeFile(authorityFile(directory), current.authorityPem, false);
    return current;
}
