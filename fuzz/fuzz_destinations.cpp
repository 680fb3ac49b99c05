// The destinations answer (threads, Tovi, the avatar) and the remembered destination.

#include "FuzzSupport.h"
#include "service/ShareDestination.h"
#include "service/ShareDestinations.h"

#include <QJsonDocument>

namespace {

void destinationsAnswer(const QByteArray &body)
{
    const auto answer = ShareDestinations::fromJson(body);
    if (!answer)
        return;
    for (const auto &thread : answer->threads) {
        Fuzz::check(thread.updatedAt.isValid(), "a decoded thread has a valid date");
        // The sheet remembers a thread in the form toJson writes; it must read back.
        const auto again = ShareDestinationThread::fromJson(thread.toJson());
        Fuzz::check(again.has_value(), "a written thread decodes");
        Fuzz::check(again->id == thread.id && again->title == thread.title &&
                        again->color == thread.color,
                    "a written thread keeps its id, title and colour");
        Fuzz::check(again->toJson() == thread.toJson(), "a written thread decodes as itself");
    }
    if (answer->toviAvatar) {
        const auto again = ToviAvatar::fromJson(answer->toviAvatar->toJson());
        Fuzz::check(again && again->id == answer->toviAvatar->id &&
                        again->face == answer->toviAvatar->face,
                    "a written avatar decodes with its id and face");
    }
}

void rememberedDestination(const QByteArray &json)
{
    std::optional<ShareDestination> destination;
    try {
        destination = ShareDestination::fromJson(json);
    } catch (const DestinationDecodingError &) {
        return;
    }
    const QByteArray written = destination->toJson();
    std::optional<ShareDestination> again;
    try {
        again = ShareDestination::fromJson(written);
    } catch (const DestinationDecodingError &) {
        Fuzz::fail("a written destination decodes");
    }
    Fuzz::check(again->isTovi() == destination->isTovi(), "a written destination keeps its kind");
    Fuzz::check(again->threadID() == destination->threadID(),
                "a written destination keeps its thread");
    Fuzz::check(again->toJson() == written, "a written destination decodes as itself");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Both decoders read JSON; any input is tried as either.
    const QByteArray json = Fuzz::bytes(data, size);
    destinationsAnswer(json);
    rememberedDestination(json);
    return 0;
}
