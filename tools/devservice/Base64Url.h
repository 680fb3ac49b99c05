#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The byte encoding of WebAuthn values and of the upload URL signatures: base64url without
// padding on output; base64url or standard base64, padded or not, on input.
class Base64Url
{
public:
    static QString encode(const QByteArray &bytes);
    // None for any character outside the alphabet (white space included) or a length that no
    // encoding can have.
    static std::optional<QByteArray> decode(const QString &text);
};
