#pragma once

#include "TestCertificates.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslServer>
#include <QSslSocket>
#include <QUrl>

#include <chrono>
#include <functional>

// A request as the server read it off the wire.
struct RecordedRequest
{
    QByteArray method;
    QByteArray target;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // All values of a header, case-insensitive name.
    QList<QByteArray> headerValues(const QByteArray &name) const;
    QByteArray header(const QByteArray &name) const;
};

// A scripted answer.
struct ScriptedResponse
{
    int status = 200;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // Never answer: the connection stays open and silent.
    bool stall = false;
    // Send no Content-Length and end the body by closing the connection.
    bool closeDelimited = false;
    // Close the connection after this answer ("Connection: close"); else it stays open for
    // the next request.
    bool close = false;
    // Send the body one byte at a time at this interval, after the head; 0 sends it at once.
    std::chrono::milliseconds trickle{0};

    static ScriptedResponse json(int status, const QByteArray &body);
};

// An HTTPS/1.1 server on 127.0.0.1 for tests: answers in order from a queue (or a handler),
// records every request, and keeps connections open between requests (it counts them).
class TestHttpsServer : public QObject
{
    Q_OBJECT

public:
    explicit TestHttpsServer(const TestCertificates &certificates, QObject *parent = nullptr);

    bool listen();
    // https://127.0.0.1:<port>
    QUrl origin() const;

    void enqueue(const ScriptedResponse &response) { m_queue.append(response); }
    void setHandler(std::function<ScriptedResponse(const RecordedRequest &)> handler)
    {
        m_handler = std::move(handler);
    }

    // Cuts the connection with a TCP reset, before any answer, once a request whose head
    // matches has sent afterBodyBytes of its body (or all of it, when shorter): a connection
    // lost half-way through an upload. Such a request is recorded with the part of the body
    // that arrived.
    void setReset(std::function<bool(const RecordedRequest &head)> matches, qint64 afterBodyBytes)
    {
        m_resetMatches = std::move(matches);
        m_resetAfter = afterBodyBytes;
    }
    int resets() const { return m_resets; }
    // Connections accepted so far, each with a full TLS handshake.
    int connections() const { return m_connections; }

    const QList<RecordedRequest> &requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

Q_SIGNALS:
    void requestReceived();

private:
    void onConnection();
    void onReadyRead(QSslSocket *socket);
    // Takes one whole request off the buffer and answers it; false when none is complete.
    bool handleRequest(QSslSocket *socket, QByteArray &buffer);
    void answer(QSslSocket *socket, const RecordedRequest &request);
    void reset(QSslSocket *socket);

    QSslServer m_server;
    QList<ScriptedResponse> m_queue;
    std::function<ScriptedResponse(const RecordedRequest &)> m_handler;
    QList<RecordedRequest> m_requests;
    QHash<QSslSocket *, QByteArray> m_buffers;
    std::function<bool(const RecordedRequest &)> m_resetMatches;
    qint64 m_resetAfter = 0;
    int m_resets = 0;
    int m_connections = 0;
};
