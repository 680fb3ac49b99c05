// The display name of a shared item made safe as the name of its private copy.

#include "FuzzSupport.h"
#include "SharedItemIntake.h"

#include <QTextBoundaryFinder>

namespace {

qsizetype graphemes(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

void sanitize(const QString &name)
{
    const auto sanitized = SharedItemIntake::sanitizedFilename(name);
    if (!sanitized)
        return;
    Fuzz::check(!sanitized->isEmpty(), "a sanitized name is not empty");
    Fuzz::check(!sanitized->contains(u'/') && !sanitized->contains(u':'),
                "a sanitized name has no / or :");
    Fuzz::check(!sanitized->startsWith(u'.'), "a sanitized name is not hidden, . or ..");
    Fuzz::check(graphemes(*sanitized) <= SharedItemIntake::maximumFilenameLength,
                "a sanitized name is cut to the maximum length");
    Fuzz::check(sanitized->size() <= name.size(), "a sanitized name is no longer than the name");
    if (QStringView(name).isValidUtf16())
        Fuzz::check(QStringView(*sanitized).isValidUtf16(),
                    "a sanitized name does not split a character");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    sanitize(Fuzz::utf8(data, size));
    sanitize(Fuzz::utf16(data, size));
    return 0;
}
