// The byte values of the passkey step-up: base64url text from the service, and back.

#include "FuzzSupport.h"
#include "passkey/SudoPasskey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = Fuzz::utf8(data, size);
    if (const auto decoded = SudoPasskey::base64URLDecode(text)) {
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            Fuzz::check((u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') ||
                            (u >= u'0' && u <= u'9') || u == u'+' || u == u'/' || u == u'-' ||
                            u == u'_' || u == u'=',
                        "only base64 and base64url text decodes");
        }
        Fuzz::check(decoded->size() <= (text.size() * 3) / 4 + 2, "no bytes are invented");
        const auto again = SudoPasskey::base64URLDecode(SudoPasskey::base64URLEncode(*decoded));
        Fuzz::check(again && *again == *decoded, "encoded bytes decode as themselves");
    }

    // The other direction: any bytes, encoded as the completion sends them.
    const QByteArray bytes = Fuzz::bytes(data, size);
    const QString encoded = SudoPasskey::base64URLEncode(bytes);
    Fuzz::check(!encoded.contains(u'=') && !encoded.contains(u'+') && !encoded.contains(u'/'),
                "the encoding is unpadded base64url");
    const auto decoded = SudoPasskey::base64URLDecode(encoded);
    Fuzz::check(decoded && *decoded == bytes, "any bytes survive the encoding");
    return 0;
}
