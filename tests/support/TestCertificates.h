#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>

// A certificate authority and a server certificate it signed, made fresh for a test run by the
// development service's generator: the server certificate names localhost, 127.0.0.1 and the
// extra DNS names given.
struct TestCertificates
{
    QSslCertificate authority;
    QSslCertificate server;
    QSslKey serverKey;

    static TestCertificates generate(const QString &commonName = QStringLiteral("Zelt test CA"),
                                     const QStringList &extraNames = {});
};
