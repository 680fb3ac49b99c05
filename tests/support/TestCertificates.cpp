#include "TestCertificates.h"

#include <memory>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace {

template <typename T, void (*Free)(T *)>
struct Deleter
{
    void operator()(T *p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

void check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(what);
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

Certificate newCertificate(EVP_PKEY *key, const char *commonName, long serial)
{
    Certificate certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 7L * 24 * 3600);
    X509_set_pubkey(certificate.get(), key);
    X509_NAME *name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(commonName), -1, -1, 0);
    return certificate;
}

QByteArray pem(X509 *certificate)
{
    Bio bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), certificate);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

QByteArray pem(EVP_PKEY *key)
{
    Bio bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

} // namespace

TestCertificates TestCertificates::generate(const QString &commonName,
                                            const QStringList &extraNames)
{
    const auto authorityName = commonName.toUtf8();
    Key authorityKey = newKey();
    Certificate authority = newCertificate(authorityKey.get(), authorityName.constData(), 1);
    X509_set_issuer_name(authority.get(), X509_get_subject_name(authority.get()));
    addExtension(authority.get(), authority.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(authority.get(), authority.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(authority.get(), authority.get(), NID_subject_key_identifier, "hash");
    check(X509_sign(authority.get(), authorityKey.get(), EVP_sha256()) > 0, "X509_sign CA");

    Key serverKey = newKey();
    Certificate server = newCertificate(serverKey.get(), "localhost", 2);
    X509_set_issuer_name(server.get(), X509_get_subject_name(authority.get()));
    addExtension(server.get(), authority.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(server.get(), authority.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(server.get(), authority.get(), NID_ext_key_usage, "serverAuth");
    QByteArray names = "DNS:localhost,IP:127.0.0.1";
    for (const auto &name : extraNames)
        names += ",DNS:" + name.toUtf8();
    addExtension(server.get(), authority.get(), NID_subject_alt_name, names.constData());
    check(X509_sign(server.get(), authorityKey.get(), EVP_sha256()) > 0, "X509_sign server");

    TestCertificates result;
    result.authority = QSslCertificate(pem(authority.get()), QSsl::Pem);
    result.server = QSslCertificate(pem(server.get()), QSsl::Pem);
    result.serverKey = QSslKey(pem(serverKey.get()), QSsl::Ec, QSsl::Pem);
    return result;
}
