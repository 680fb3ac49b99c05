// The internal app API's envelope, and the passkey options and sudo result carried in it.

#include "FuzzSupport.h"
#include "passkey/SudoPasskey.h"
#include "service/InternalAppAPI.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body = Fuzz::bytes(data, size);

    const auto anyResult =
        InternalAppAPI::decodeEnvelope(body, [](const QJsonValue &) { return true; });
    const auto sudo = InternalAppAPI::decodeEnvelope(body, [](const QJsonValue &value) {
        return SudoSessionResult::fromJson(value).has_value();
    });
    if (sudo)
        Fuzz::check(anyResult.has_value(), "an envelope of a sudo result is an envelope");

    const auto options = InternalAppAPI::decodeEnvelope(body, [](const QJsonValue &value) {
        return SudoPasskey::Options::fromJson(value).has_value();
    });
    if (!options)
        return 0;
    Fuzz::check(anyResult.has_value(), "an envelope of passkey options is an envelope");
    if (!options->result)
        return 0;
    const auto decoded = SudoPasskey::Options::fromJson(*options->result);
    Fuzz::check(decoded.has_value(), "the accepted result decodes");
    try {
        const auto parameters = SudoPasskey::assertionParameters(*decoded);
        Fuzz::check(parameters.relyingPartyIdentifier == decoded->rpID,
                    "the prompt is asked for the service's relying party");
        Fuzz::check(parameters.allowedCredentialIDs.size() <= decoded->allowCredentialIDs.size(),
                    "no credential ID is invented");
    } catch (const SudoPasskey::CeremonyError &error) {
        Fuzz::check(error.kind() == SudoPasskey::CeremonyError::Kind::invalidOptions,
                    "bad options are invalid options");
    }
    return 0;
}
