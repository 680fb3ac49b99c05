// The shared session record the main application leaves in the keychain item.

#include "FuzzSupport.h"
#include "service/NativeSharedSession.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto session = NativeSharedSession::fromJson(Fuzz::bytes(data, size));
    if (!session)
        return 0;
    // The extension writes the record back after a rotation; it must read as the same record.
    const auto again = NativeSharedSession::fromJson(session->toJson());
    Fuzz::check(again.has_value(), "a written session decodes");
    Fuzz::check(*again == *session, "a written session decodes as itself");
    Fuzz::check(again->fingerprint() == session->fingerprint(), "the fingerprint is stable");
    Fuzz::check(session->fingerprint().size() == 32, "the fingerprint is 32 bytes");
    Fuzz::check(session->cookieHeaderValue().startsWith(session->cookieName + u'='),
                "the cookie header starts with the main cookie");
    return 0;
}
