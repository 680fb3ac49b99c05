#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

// An HTTP proxy on 127.0.0.1 that answers every CONNECT by tunnelling to one local port,
// whatever host was asked for. Lets a test reach its local server under a real-looking name.
class TestConnectProxy : public QObject
{
    Q_OBJECT

public:
    explicit TestConnectProxy(quint16 targetPort, QObject *parent = nullptr);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    // "host:port" of every CONNECT, in order.
    const QList<QByteArray> &tunnels() const { return m_tunnels; }

private:
    void onConnection();

    QTcpServer m_server;
    quint16 m_targetPort;
    QList<QByteArray> m_tunnels;
};
