#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <optional>

class QNetworkAccessManager;

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

// One HTTP exchange through QtNetwork: no redirect followed (unless the request asks for it), no
// cookie stored or sent from a jar, nothing cached, the proxy of the environment, TLS always
// verified. A call runs on the network manager it is given, whose connections (and TLS
// sessions) the calls of one share reuse, or on a manager of its own.
class HttpTransfer
{
public:
    static constexpr qint64 defaultMaximumBodySize = 16 * 1024 * 1024;

    struct Request
    {
        QNetworkRequest request;
        QByteArray method = "GET";
        QByteArray body;
        // The body is this file, streamed as the connection takes it (never read whole);
        // replaces body.
        QString bodyFile;
        // The body bytes sent so far, as the network takes them.
        std::function<void(qint64)> onUploadProgress;
        qint64 maximumBodySize = defaultMaximumBodySize;
        // Follow redirects as Qt does by default (never from https to http) instead of
        // handing the redirect back. Only for plain fetches that carry no credentials.
        bool followRedirects = false;
        QPointer<RequestAbort> abort;
        // The share's manager (see makeManager()); none: one for this call alone.
        QPointer<QNetworkAccessManager> manager;
    };

    // "ZeltShare/<version> (Linux)"
    static QByteArray userAgent();

    // Applies the settings every call shares to a request: redirects, cookies, cache, and one
    // try: a body is never sent a second time on a new connection.
    static void applyCommonSettings(QNetworkRequest &request);

    // A network manager for the calls of one share: no cookie jar in use, no cache, the
    // environment's proxy. Its owner gives it back with releaseManager(); abortAll() takes it
    // away too. Nothing when the process is on its way out.
    static QNetworkAccessManager *makeManager();
    // New calls on the manager fail at once; those still running on it are aborted from the
    // event loop, and it is deleted then.
    static void releaseManager(QNetworkAccessManager *manager);

    // Throws TransportError when the transfer ends without an HTTP answer, including the
    // inactivity time-out set on the request, an abort, a file body that cannot be read, and
    // a proxy that asks for credentials it was not given.
    static QCoro::Task<HttpResponse> run(Request request);

    // Aborts every transfer in flight (its caller sees a canceled transfer), takes away every
    // network manager, and makes every later call fail the same way at once. Qt's network
    // objects must be gone before the application object is: a process calls this on its way
    // out, then lets liveTransfers() reach 0.
    static void abortAll();
    // Network managers and replies that still exist, the ones waiting for deletion included.
    static int liveTransfers();
};
