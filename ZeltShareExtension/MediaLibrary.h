#pragma once

#include "media/MediaFunctions.h"

#include <QString>

// The media module (libvips, libavformat and the many libraries they bring), loaded on first
// use rather than at start: the sheet's window comes up without them, and the first image or
// movie loads them on the worker thread that prepares it.
class MediaLibrary
{
public:
    // <program's directory>/../lib/zelt/zeltshare-media.so, in the build tree and installed.
    static QString defaultPath();
    // Loaded once, on whichever thread asks first; null when the module cannot be loaded (the
    // reason is logged once). Then images are sent as they are and movies without their size.
    static const MediaFunctions *functions();
};
