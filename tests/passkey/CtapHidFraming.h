#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

// CTAPHID, the USB HID transport of CTAP2, from the key's side: 64-byte reports each way, on
// channels the key hands out. A message is an initialization packet (channel, command with the
// high bit set, a 16-bit big-endian length, 57 bytes of data) followed by continuation packets
// (channel, sequence number 0 to 127, 59 bytes of data each).
class CtapHidFraming
{
public:
    static constexpr qsizetype reportSize = 64;
    static constexpr quint32 broadcastChannel = 0xffffffff;
    // 57 bytes in the first packet and 59 in each of 128 more.
    static constexpr qsizetype maximumPayload = 7609;

    enum Command : quint8 {
        Ping = 0x01,
        Message = 0x03,
        Init = 0x06,
        Wink = 0x08,
        Cbor = 0x10,
        Cancel = 0x11,
        Keepalive = 0x3b,
        Error = 0x3f,
    };
    enum ErrorCode : quint8 {
        InvalidCommand = 0x01,
        InvalidLength = 0x03,
        InvalidSequence = 0x04,
        ChannelBusy = 0x06,
        InvalidChannel = 0x0b,
    };

    struct Frame
    {
        quint32 channel = broadcastChannel;
        quint8 command = 0;
        QByteArray payload;
    };

    // What one report from the host amounts to: nothing yet (a message still arriving, or a
    // stray packet), a whole message, or an error to send back on a channel.
    struct Received
    {
        std::optional<Frame> frame;
        std::optional<std::pair<quint32, ErrorCode>> error;
    };

    // One output report of the host, without the report ID.
    Received receive(const QByteArray &report);

    // A message as the reports that carry it.
    static QList<QByteArray> reports(const Frame &frame);
    static QByteArray errorReport(quint32 channel, ErrorCode code);

private:
    std::optional<Frame> m_arriving;
    qsizetype m_length = 0;
    int m_nextSequence = 0;
};
