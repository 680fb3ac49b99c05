#include "NativeMessageChannel.h"

#include <QLocale>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// Reads up to size bytes, fewer only at the end of input; -1 on a read error.
qsizetype readFully(int fd, char *data, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t count = ::read(fd, data + done, size_t(size - done));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (count == 0)
            break;
        done += count;
    }
    return done;
}

bool writeFully(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size_t(size));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += count;
        size -= count;
    }
    return true;
}

} // namespace

NativeMessageChannel::NativeMessageChannel(int input, int output)
    : m_input(input)
    , m_output(output)
{}

NativeMessageChannel::Message NativeMessageChannel::read() const
{
    char header[sizeof(quint32)];
    const qsizetype headerRead = readFully(m_input, header, sizeof header);
    if (headerRead == 0)
        return Closed{};
    if (headerRead != qsizetype(sizeof header))
        return tr("The message from the browser was cut short.");
    quint32 length = 0;
    std::memcpy(&length, header, sizeof length);
    // Refused before a byte of it is read or a buffer of its size is made.
    if (length > maximumMessageSize)
        return tr("The message from the browser is too large: %1 bytes, at most %2.")
            .arg(QLocale::c().toString(length), QLocale::c().toString(maximumMessageSize));

    QByteArray message(qsizetype(length), Qt::Uninitialized);
    const qsizetype bodyRead = readFully(m_input, message.data(), message.size());
    if (bodyRead != message.size())
        return tr("The message from the browser was cut short.");
    return message;
}

bool NativeMessageChannel::write(const QByteArray &json) const
{
    const auto length = quint32(json.size());
    char header[sizeof length];
    std::memcpy(header, &length, sizeof length);
    return writeFully(m_output, header, sizeof header) &&
           writeFully(m_output, json.constData(), json.size());
}
