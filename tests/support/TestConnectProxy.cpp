#include "TestConnectProxy.h"

#include <QPointer>
#include <QTcpSocket>

#include <memory>

TestConnectProxy::TestConnectProxy(quint16 targetPort, QObject *parent)
    : QObject(parent)
    , m_targetPort(targetPort)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestConnectProxy::onConnection);
}

bool TestConnectProxy::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void TestConnectProxy::onConnection()
{
    while (auto *client = m_server.nextPendingConnection()) {
        client->setParent(this);
        auto *upstream = new QTcpSocket(client);
        // Goes with the connection below, whichever of the sockets and the proxy goes first.
        const auto request = std::make_shared<QByteArray>();
        connect(client, &QTcpSocket::readyRead, this, [this, client, upstream, request] {
            if (upstream->state() == QAbstractSocket::ConnectedState) {
                upstream->write(client->readAll());
                return;
            }
            *request += client->readAll();
            const auto end = request->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const auto line = request->left(request->indexOf("\r\n")).split(' ');
            if (line.size() < 2 || line[0] != "CONNECT") {
                client->write("HTTP/1.1 405 Method Not Allowed\r\n\r\n");
                client->disconnectFromHost();
                return;
            }
            m_tunnels.append(line[1]);
            const QByteArray early = request->mid(end + 4);
            connect(upstream, &QTcpSocket::connected, client, [client, upstream, early] {
                client->write("HTTP/1.1 200 Connection established\r\n\r\n");
                if (!early.isEmpty())
                    upstream->write(early);
            });
            connect(upstream, &QTcpSocket::readyRead, client,
                    [client, upstream] { client->write(upstream->readAll()); });
            connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            connect(client, &QTcpSocket::disconnected, upstream, &QTcpSocket::disconnectFromHost);
            upstream->connectToHost(QHostAddress::LocalHost, m_targetPort);
        });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    }
}
