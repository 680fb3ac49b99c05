#include "CtapHidFraming.h"

#include <QtEndian>

namespace {

constexpr qsizetype initHeader = 7;
constexpr qsizetype continuationHeader = 5;

quint32 channelOf(const QByteArray &report)
{
    return qFromBigEndian<quint32>(report.constData());
}

QByteArray header(quint32 channel)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(channel, bytes.data());
    return bytes;
}

} // namespace

CtapHidFraming::Received CtapHidFraming::receive(const QByteArray &report)
{
    Received received;
    if (report.size() < reportSize)
        return received;
    const quint32 channel = channelOf(report);
    const quint8 type = quint8(report[4]);

    if (type & 0x80) {
        const quint8 command = type & 0x7f;
        const qsizetype length = (qsizetype(quint8(report[5])) << 8) | quint8(report[6]);
        // A cancel is a message of its own, and drops what was arriving on its channel.
        if (command == Cancel) {
            if (m_arriving && m_arriving->channel == channel)
                m_arriving.reset();
            received.frame = Frame{channel, Cancel, {}};
            return received;
        }
        if (m_arriving && m_arriving->channel != channel) {
            received.error = {{channel, ChannelBusy}};
            return received;
        }
        m_arriving.reset();
        if (length > maximumPayload) {
            received.error = {{channel, InvalidLength}};
            return received;
        }
        Frame frame{channel, command,
                    report.mid(initHeader, qMin(length, reportSize - initHeader))};
        if (frame.payload.size() == length) {
            received.frame = std::move(frame);
            return received;
        }
        m_arriving = std::move(frame);
        m_length = length;
        m_nextSequence = 0;
        return received;
    }

    // A continuation packet: only of the message arriving, and in order.
    if (!m_arriving || m_arriving->channel != channel)
        return received;
    if (type != m_nextSequence) {
        m_arriving.reset();
        received.error = {{channel, InvalidSequence}};
        return received;
    }
    ++m_nextSequence;
    const qsizetype missing = m_length - m_arriving->payload.size();
    m_arriving->payload.append(
        report.mid(continuationHeader, qMin(missing, reportSize - continuationHeader)));
    if (m_arriving->payload.size() == m_length) {
        received.frame = std::move(m_arriving);
        m_arriving.reset();
    }
    return received;
}

QList<QByteArray> CtapHidFraming::reports(const Frame &frame)
{
    QList<QByteArray> reports;
    QByteArray first = header(frame.channel);
    first.append(char(frame.command | 0x80));
    first.append(char((frame.payload.size() >> 8) & 0xff));
    first.append(char(frame.payload.size() & 0xff));
    first.append(frame.payload.left(reportSize - initHeader));
    first.resize(reportSize, '\0');
    reports.append(first);
    quint8 sequence = 0;
    for (qsizetype sent = reportSize - initHeader; sent < frame.payload.size();
         sent += reportSize - continuationHeader) {
        QByteArray next = header(frame.channel);
        next.append(char(sequence++));
        next.append(frame.payload.mid(sent, reportSize - continuationHeader));
        next.resize(reportSize, '\0');
        reports.append(next);
    }
    return reports;
}

QByteArray CtapHidFraming::errorReport(quint32 channel, ErrorCode code)
{
    return reports({channel, Error, QByteArray(1, char(code))}).first();
}
