#include "TestHttpsServer.h"

#include <QSslConfiguration>
#include <QTimer>

#include <sys/socket.h>

using namespace Qt::StringLiterals;

QList<QByteArray> RecordedRequest::headerValues(const QByteArray &name) const
{
    QList<QByteArray> values;
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            values.append(value);
    }
    return values;
}

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    const auto values = headerValues(name);
    return values.isEmpty() ? QByteArray() : values.first();
}

ScriptedResponse ScriptedResponse::json(int status, const QByteArray &body)
{
    ScriptedResponse response;
    response.status = status;
    response.headers = {{"Content-Type", "application/json"}};
    response.body = body;
    return response;
}

TestHttpsServer::TestHttpsServer(const TestCertificates &certificates, QObject *parent)
    : QObject(parent)
{
    auto configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificates.server);
    configuration.setPrivateKey(certificates.serverKey);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_server.setSslConfiguration(configuration);
    connect(&m_server, &QSslServer::pendingConnectionAvailable, this,
            &TestHttpsServer::onConnection);
}

bool TestHttpsServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl TestHttpsServer::origin() const
{
    QUrl url;
    url.setScheme(u"https"_s);
    url.setHost(u"127.0.0.1"_s);
    url.setPort(m_server.serverPort());
    return url;
}

void TestHttpsServer::onConnection()
{
    while (m_server.hasPendingConnections()) {
        auto *socket = qobject_cast<QSslSocket *>(m_server.nextPendingConnection());
        if (!socket)
            continue;
        socket->setParent(this);
        ++m_connections;
        connect(socket, &QSslSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QSslSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void TestHttpsServer::onReadyRead(QSslSocket *socket)
{
    auto &buffer = m_buffers[socket];
    buffer += socket->readAll();
    // Requests one after another on the same connection.
    while (m_buffers.contains(socket) && handleRequest(socket, m_buffers[socket])) {
    }
}

bool TestHttpsServer::handleRequest(QSslSocket *socket, QByteArray &buffer)
{
    const auto headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return false;

    RecordedRequest request;
    const auto lines = buffer.left(headerEnd).split('\n');
    const auto requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3)
        return false;
    request.method = requestLine[0];
    request.target = requestLine[1];
    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const auto line = lines[i].trimmed();
        const auto colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const auto name = line.left(colon).trimmed();
        const auto value = line.mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name.compare("content-length", Qt::CaseInsensitive) == 0)
            contentLength = value.toLongLong();
    }
    if (m_resetMatches && m_resetMatches(request)) {
        const qint64 received = buffer.size() - (headerEnd + 4);
        if (received < std::min(m_resetAfter, contentLength))
            return false;
        request.body = buffer.mid(headerEnd + 4, std::min(received, contentLength));
        m_requests.append(request);
        reset(socket);
        Q_EMIT requestReceived();
        return false;
    }
    if (buffer.size() < headerEnd + 4 + contentLength)
        return false;
    request.body = buffer.mid(headerEnd + 4, contentLength);
    buffer.remove(0, headerEnd + 4 + contentLength);
    m_requests.append(request);
    answer(socket, request);
    Q_EMIT requestReceived();
    return true;
}

void TestHttpsServer::answer(QSslSocket *socket, const RecordedRequest &request)
{
    ScriptedResponse response;
    if (m_handler)
        response = m_handler(request);
    else if (!m_queue.isEmpty())
        response = m_queue.takeFirst();
    else
        response = ScriptedResponse::json(500, R"({"message":"no scripted answer"})");
    if (response.stall)
        return;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Scripted\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    const bool close = response.close || response.closeDelimited;
    if (!response.closeDelimited)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += close ? "Connection: close\r\n\r\n" : "\r\n";
    socket->write(head);
    if (response.trickle <= std::chrono::milliseconds::zero() || response.body.isEmpty()) {
        socket->write(response.body);
        if (close)
            socket->disconnectFromHost();
        return;
    }
    // One byte per tick; the timer belongs to the socket, so a client that goes away ends it.
    auto *timer = new QTimer(socket);
    timer->setInterval(response.trickle);
    connect(timer, &QTimer::timeout, socket,
            [socket, timer, close, body = response.body, sent = 0]() mutable {
                socket->write(body.mid(sent++, 1));
                if (sent == body.size()) {
                    timer->stop();
                    if (close)
                        socket->disconnectFromHost();
                }
            });
    timer->start();
}

void TestHttpsServer::reset(QSslSocket *socket)
{
    ++m_resets;
    // A zero linger time makes the close send a reset instead of an orderly end.
    const linger immediately{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &immediately,
                 sizeof immediately);
    m_buffers.remove(socket);
    socket->abort();
}
