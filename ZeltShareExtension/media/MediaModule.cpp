#include "AVVideoProbe.h"
#include "MediaFunctions.h"
#include "VipsImagePreparation.h"

extern "C" __attribute__((visibility("default"))) const MediaFunctions *zeltShareMediaFunctions()
{
    static const MediaFunctions functions{
        &VipsImagePreparation::preparedImage,
        &VipsImagePreparation::preparedImageFromFile,
        &VipsImagePreparation::previewImage,
        &AVVideoProbe::probe,
    };
    return &functions;
}
