// Tovi's avatar record, as the destinations answer and the avatar store carry it.

#include "FuzzSupport.h"
#include "avatar/ToviAvatar.h"

#include <QJsonArray>
#include <QJsonDocument>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = Fuzz::bytes(data, size);
    // Any JSON value, not only an object: the record is read from a value of a larger answer.
    const auto document = QJsonDocument::fromJson("[" + input + "]");
    if (document.isArray() && document.array().size() == 1) {
        if (const auto avatar = ToviAvatar::fromJson(document.array().first())) {
            // The store writes the record and reads it back. The image URL is written fully
            // encoded, so text QUrl only tolerates (a lone surrogate) may read back normalised;
            // once written, the record is stable.
            const auto again = ToviAvatar::fromJson(avatar->toJson());
            Fuzz::check(again.has_value(), "a written avatar decodes");
            Fuzz::check(again->id == avatar->id && again->face == avatar->face,
                        "a written avatar keeps its id and face");
            Fuzz::check(again->toJson() == avatar->toJson() ||
                            ToviAvatar::fromJson(again->toJson()) == again,
                        "a written avatar is stable");
            // The cache name becomes a file name in the avatar directory.
            if (const auto name = avatar->cacheName()) {
                Fuzz::check(ToviAvatar::isValidCacheName(*name), "a cache name is valid");
                Fuzz::check(!name->contains(u'/') && !name->startsWith(u'.'),
                            "a cache name is one safe path component");
            }
        }
    }
    const QString text = Fuzz::utf8(data, size);
    if (ToviAvatar::isValidCacheName(text)) {
        Fuzz::check(!text.isEmpty() && text.size() <= 64, "a cache name has 1 to 64 characters");
        Fuzz::check(!text.contains(u'/') && !text.contains(u'.') && !text.startsWith(u'-'),
                    "a cache name is one safe path component");
    }
    return 0;
}
