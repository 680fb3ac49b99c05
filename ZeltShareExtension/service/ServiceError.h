#pragma once

#include <QNetworkReply>
#include <QString>

#include <exception>
#include <stdexcept>

// The errors of the service calls. Each carries the one line the user sees.

// The texts of the service calls, translatable with the English text as the key.
namespace ServiceText {
QString signInFirst();           // no session, or the service refused it
QString keyringUnavailable();    // no session could be read: the keyring is locked or not there
QString invalidResponse();       // the answer is not HTTP, or its body is not what was asked
QString couldNotReceive();       // an unsuccessful answer without the service's own message
QString unreachable();           // the request URL cannot be formed
QString invalidUploadResponse(); // an upload answered by something that is not HTTP
QString passkeyRequired();
QString timedOut();
QString proxyNeedsCredentials(); // the proxy answered 407: no user name and password, or wrong ones
} // namespace ServiceText

// Every error the user may see: one line of text.
class UserFacingError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
    virtual QString errorDescription() const = 0;
};

class ShareError : public UserFacingError
{
public:
    explicit ShareError(const QString &description);
    QString errorDescription() const override { return m_description; }

private:
    QString m_description;
};

// The service asks for a fresh sudo session: the send flow answers with the passkey step-up.
class PasskeyRequiredError : public UserFacingError
{
public:
    PasskeyRequiredError();
    QString errorDescription() const override { return ServiceText::passkeyRequired(); }
};

// The transfer failed without an HTTP answer (no connection, TLS, time-out, cancellation);
// the description is the network stack's own.
class TransportError : public UserFacingError
{
public:
    TransportError(QNetworkReply::NetworkError code, const QString &description);
    QNetworkReply::NetworkError code() const { return m_code; }
    QString errorDescription() const override { return m_description; }

private:
    QNetworkReply::NetworkError m_code;
    QString m_description;
};

// The one line the sheet shows for any failure.
QString userFacingMessage(std::exception_ptr error);
