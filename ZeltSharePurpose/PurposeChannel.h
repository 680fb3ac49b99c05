#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QLocalSocket>
#include <QString>

#include <optional>

// The Share menu's end of the conversation: the local socket that the menu's process job listens
// on (--server), over which it sends the request as a decimal length line and that many bytes of
// CBOR, and reads answers as JSON objects, one a line. The job reads the answers when this
// process exits, and takes a process that ends without ever having connected for a broken
// invariant (the application crashes), so connecting comes before anything else.
class PurposeChannel
{
public:
    // The most a request may be: ten items, each a data: URI at the sheet's bound of 64 MiB,
    // base64 encoded, fit with room to spare.
    static constexpr qint64 maximumRequestSize = qint64(1) << 30;

    // Gives why the socket could not be reached, or nothing once connected.
    std::optional<QString> connectTo(const QString &serverName);

    // The request's CBOR bytes. Throws PurposeError when the length line is not a length, the
    // request is larger than maximumRequestSize, or the socket closes or falls silent first.
    QByteArray readRequest();

    // Sends one answer and waits until it has left; gives false when the socket is gone.
    bool send(const QJsonObject &answer);

private:
    // Waits for more bytes; false when the socket closed or nothing came in time.
    bool waitForMore();

    QLocalSocket m_socket;
};
