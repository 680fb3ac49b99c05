#include "TestCertificates.h"

#include "DevCertificates.h"

TestCertificates TestCertificates::generate(const QString &commonName,
                                            const QStringList &extraNames)
{
    const auto pem = DevCertificates::generate(commonName, 7, extraNames);
    TestCertificates result;
    result.authority = QSslCertificate(pem.authorityPem, QSsl::Pem);
    result.server = QSslCertificate(pem.serverPem, QSsl::Pem);
    result.serverKey = QSslKey(pem.serverKeyPem, QSsl::Ec, QSsl::Pem);
    return result;
}
