// The display size and duration of a shared movie file.

#include "FuzzSupport.h"
#include "media/AVVideoProbe.h"

#include <cmath>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString &inputPath = Fuzz::InputFile::forRun().write(data, size);
    const auto video = AVVideoProbe::probe(inputPath);
    if (!video)
        return 0;
    Fuzz::check(video->width >= 1 && video->height >= 1, "a movie has a size");
    if (video->duration)
        Fuzz::check(std::isfinite(*video->duration) && *video->duration > 0,
                    "a movie's duration is finite and positive");
    return 0;
}
