#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <variant>

// The browser's side of a native messaging host: each message is a 32-bit length in the byte
// order of this machine followed by that many bytes of UTF-8 JSON, on standard input from the
// browser and on standard output back to it.
class NativeMessageChannel
{
    Q_DECLARE_TR_FUNCTIONS(NativeMessageChannel)

public:
    // The largest message read. The biggest one the extension sends is an image of up to 32 MiB
    // as base64 (four characters for every three bytes) inside a small JSON object: 44.7 MB, so
    // 48 MiB leaves room for its name and type. Anything larger is refused from its length alone.
    static constexpr quint32 maximumMessageSize = 48u * 1024 * 1024;

    // input and output are descriptors the channel reads and writes; it closes neither.
    NativeMessageChannel(int input, int output);

    // Nothing arrived at all: the browser closed the pipe without sending.
    struct Closed
    {
    };
    // The message, or the line that says why it could not be read.
    using Message = std::variant<QByteArray, QString, Closed>;
    Message read() const;

    // Writes one message; false when the browser is no longer there to read it.
    bool write(const QByteArray &json) const;

private:
    int m_input;
    int m_output;
};
