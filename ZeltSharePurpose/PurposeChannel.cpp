#include "PurposeChannel.h"

#include "PurposeError.h"

#include <QCoreApplication>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {

struct Text
{
    Q_DECLARE_TR_FUNCTIONS(PurposeHelper)
};

// The menu writes its request as soon as the connection is made; a peer that says nothing for
// this long is not going to.
constexpr int silence = 30 * 1000;

// Digits that still fit a 64-bit length; a longer number is no length at all.
constexpr qsizetype longestLengthLine = 18;

} // namespace

std::optional<QString> PurposeChannel::connectTo(const QString &serverName)
{
    m_socket.connectToServer(serverName);
    if (!m_socket.waitForConnected(silence))
        return m_socket.errorString();
    return std::nullopt;
}

bool PurposeChannel::waitForMore()
{
    return m_socket.bytesAvailable() > 0 || m_socket.waitForReadyRead(silence);
}

QByteArray PurposeChannel::readRequest()
{
    const auto endedEarly = [] {
        return PurposeError(Text::tr("The Share menu ended the request before sending all of it."));
    };
    const auto malformed = [] {
        return PurposeError(Text::tr("The Share menu sent a request that Zelt cannot read."));
    };

    QByteArray line;
    for (;;) {
        if (!waitForMore())
            throw endedEarly();
        char byte;
        if (!m_socket.getChar(&byte))
            throw endedEarly();
        if (byte == '\n')
            break;
        if (byte < '0' || byte > '9' || line.size() >= longestLengthLine)
            throw malformed();
        line.append(byte);
    }
    bool ok = false;
    const qint64 size = line.toLongLong(&ok);
    if (!ok || line.isEmpty())
        throw malformed();
    if (size > maximumRequestSize)
        throw PurposeError(Text::tr("The Share menu's request is too large for Zelt."));

    QByteArray request;
    // Grown as the bytes come, not taken at the length's word.
    request.reserve(qsizetype(std::min<qint64>(size, 16 * 1024 * 1024)));
    while (request.size() < size) {
        if (!waitForMore())
            throw endedEarly();
        request += m_socket.read(size - request.size());
    }
    return request;
}

bool PurposeChannel::send(const QJsonObject &answer)
{
    if (m_socket.state() != QLocalSocket::ConnectedState)
        return false;
    const QByteArray line = QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n';
    if (m_socket.write(line) != line.size())
        return false;
    while (m_socket.bytesToWrite() > 0) {
        if (!m_socket.waitForBytesWritten(silence))
            return false;
    }
    m_socket.disconnectFromServer();
    return true;
}
