#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// A certificate authority and a server certificate it signed, made fresh for a test run by the
// development service's generator: the server certificate names localhost and 127.0.0.1.
struct TestCertificates
{
    QSslCertificate authority;
    QSslCertificate server;
    QSslKey serverKey;

    static TestCertificates generate(const QString &commonName = QStringLiteral("Zelt test CA"));
};
