// Image preparation of a shared image file, with the pixel ceiling in force.

#include "FuzzSupport.h"
#include "media/VipsImagePreparation.h"

#include <algorithm>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString &inputPath = Fuzz::InputFile::forRun().write(data, size);
    // Lower bounds than the sheet's keep a run at many inputs a second; the ceiling is the
    // same check, only closer.
    ImagePreparationLimits limits;
    limits.maximumPixelSize = 512;
    limits.maximumJPEGSize = 1'000'000;
    limits.maximumSourcePixels = 4'000'000;
    constexpr int previewSize = 144;

    const auto prepared =
        VipsImagePreparation::preparedImageFromFile(inputPath, Qt::white, previewSize, limits);
    if (!prepared)
        return 0;
    Fuzz::check(prepared->jpegData.startsWith("\xFF\xD8"), "the prepared image is a JPEG");
    Fuzz::check(prepared->jpegData.size() <= limits.maximumJPEGSize,
                "the prepared image fits the size cap");
    Fuzz::check(!prepared->preview.isNull() &&
                    std::max(prepared->preview.width(), prepared->preview.height()) <= previewSize,
                "the preview fits its size");
    return 0;
}
