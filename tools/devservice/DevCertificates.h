#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The certificate authority and the server certificate of the development service, in PEM.
// The server certificate names localhost and 127.0.0.1, the two hosts the service answers on;
// clients trust the authority (the bundle key ZeltDevCertificateAuthorities points at ca.pem).
struct DevCertificates
{
    QByteArray authorityPem;
    QByteArray authorityKeyPem;
    QByteArray serverPem;
    QByteArray serverKeyPem;

    // A new authority (P-256) and a server certificate it signed, also valid for extraNames.
    // Throws std::runtime_error.
    static DevCertificates generate(const QString &authorityName, int validDays,
                                    const QStringList &extraNames = {});

    // The files in directory: ca.pem, ca-key.pem, server.pem (the server certificate followed
    // by the authority) and server-key.pem; keys are 0600. What is there is kept while it is
    // usable for another day; a server certificate that is not is issued again by the same
    // authority, and a missing or expiring authority is replaced with all the rest.
    static DevCertificates ensure(const QString &directory);

    static QString authorityFile(const QString &directory);
    static QString serverFile(const QString &directory);
    static QString serverKeyFile(const QString &directory);
};
