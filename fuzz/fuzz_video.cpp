// The display size and duration of a shared movie file.

#include "FuzzSupport.h"
#include "media/AVVideoProbe.h"

#include <QFile>
#include <QTemporaryDir>

#include <cmath>

namespace {

QString inputPath;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    static QTemporaryDir directory;
    if (!directory.isValid())
        Fuzz::fail("a temporary directory for the input");
    inputPath = directory.filePath(QStringLiteral("input"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        QFile file(inputPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(Fuzz::bytes(data, size)) != qint64(size))
            Fuzz::fail("the input is written");
    }
    const auto video = AVVideoProbe::probe(inputPath);
    if (!video)
        return 0;
    Fuzz::check(video->width >= 1 && video->height >= 1, "a movie has a size");
    if (video->duration)
        Fuzz::check(std::isfinite(*video->duration) && *video->duration > 0,
                    "a movie's duration is finite and positive");
    return 0;
}
