#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <optional>

// Lets the owner of a call abort it while it is in flight (a superseded search, Cancel).
class RequestAbort : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    void abort();
    bool isAborted() const { return m_aborted; }

Q_SIGNALS:
    void aborted();

private:
    bool m_aborted = false;
};

struct HttpResponse
{
    // Absent when the answer was not HTTP.
    std::optional<int> statusCode;
    QUrl url;
    QList<QNetworkReply::RawHeaderPair> headerFields;
    QByteArray body;
    // The body went past the ceiling and was abandoned; the status and headers are those of
    // the answer, when it had come that far.
    bool bodyTooLarge = false;
};

// One HTTP exchange on a network access manager of its own: no redirect followed (unless the
// request asks for it), no cookie stored or sent from a jar, nothing cached, the system proxy
// honoured, TLS always verified.
class HttpTransfer
{
public:
    static constexpr qint64 defaultMaximumBodySize = 16 * 1024 * 1024;

    struct Request
    {
        QNetworkRequest request;
        QByteArray method = "GET";
        QByteArray body;
        qint64 maximumBodySize = defaultMaximumBodySize;
        // Follow redirects as Qt does by default (never from https to http) instead of
        // handing the redirect back. Only for plain fetches that carry no credentials.
        bool followRedirects = false;
        QPointer<RequestAbort> abort;
    };

    // "ZeltShare/<version> (Linux)"
    static QByteArray userAgent();

    // Applies the settings every call shares to a request: redirects, cookies, cache.
    static void applyCommonSettings(QNetworkRequest &request);

    // Throws TransportError when the transfer ends without an HTTP answer, including the
    // inactivity time-out set on the request and an abort.
    static QCoro::Task<HttpResponse> run(Request request);

    // Aborts every transfer in flight (its caller sees a canceled transfer) and makes every
    // later one fail the same way at once. Qt's network objects must be gone before the
    // application object is: a process calls this on its way out, then lets liveTransfers()
    // reach 0.
    static void abortAll();
    // Transfers whose network objects still exist, the ones waiting for deletion included.
    static int liveTransfers();
};
