// The authenticator data of a security key's assertion, which libfido2 hands over as a CBOR
// byte string and the prompt unwraps itself.

#include "FuzzSupport.h"
#include "passkey/SecurityKeyPasskeyPrompt.h"

#include <cbor.h>
#include <cstdlib>

namespace {

// libcbor, which libfido2 decodes the key's answer with, reads the input as one definite byte
// string with nothing after it; none otherwise.
std::optional<QByteArray> libcborByteString(const uint8_t *data, size_t size)
{
    cbor_load_result loaded;
    cbor_item_t *item = cbor_load(data, size, &loaded);
    std::optional<QByteArray> contents;
    if (item && loaded.read == size && cbor_isa_bytestring(item) &&
        cbor_bytestring_is_definite(item))
        contents = QByteArray(reinterpret_cast<const char *>(cbor_bytestring_handle(item)),
                              qsizetype(cbor_bytestring_length(item)));
    if (item)
        cbor_decref(&item);
    return contents;
}

// The bytes wrapped as libfido2 wraps them: libcbor's own encoding of a byte string.
QByteArray wrapped(const QByteArray &bytes)
{
    cbor_item_t *item = cbor_build_bytestring(reinterpret_cast<const unsigned char *>(bytes.data()),
                                              size_t(bytes.size()));
    unsigned char *buffer = nullptr;
    size_t allocated = 0;
    const size_t length = item ? cbor_serialize_alloc(item, &buffer, &allocated) : 0;
    QByteArray result(reinterpret_cast<const char *>(buffer), qsizetype(length));
    std::free(buffer);
    if (item)
        cbor_decref(&item);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = Fuzz::bytes(data, size);
    const QByteArray unwrapped = SecurityKeyPasskeyPrompt::unwrapByteString(input);
    // Only a definite byte string goes to libcbor: elsewhere it allocates the declared size of
    // an array or a map before it reads the items, which the prompt never decodes.
    if (size > 0 && (data[0] >> 5) == 2 && (data[0] & 0x1f) <= 27)
        Fuzz::check(unwrapped == libcborByteString(data, size).value_or(QByteArray()),
                    "the prompt reads the byte string as libcbor does");
    else
        Fuzz::check(unwrapped.isEmpty(), "anything but a definite byte string gives no data");

    // What libfido2 writes for any data is read back whole.
    const QByteArray bytes = input.left(1024);
    Fuzz::check(SecurityKeyPasskeyPrompt::unwrapByteString(wrapped(bytes)) == bytes,
                "wrapped data unwraps to itself");
    return 0;
}
