#include "MediaLibrary.h"

#include "Logging.h"

#include <QCoreApplication>
#include <QLibrary>

#include <mutex>

using namespace Qt::StringLiterals;

QString MediaLibrary::defaultPath()
{
    return QCoreApplication::applicationDirPath() + u"/../lib/zelt/zeltshare-media.so"_s;
}

const MediaFunctions *MediaLibrary::functions()
{
    static std::once_flag once;
    static const MediaFunctions *functions = nullptr;
    std::call_once(once, [] {
        QLibrary library(defaultPath());
        using Entry = const MediaFunctions *(*)();
        const auto entry = reinterpret_cast<Entry>(library.resolve(ZELT_MEDIA_FUNCTIONS_SYMBOL));
        if (!entry) {
            qCWarning(lcShareExtension, "the media module is missing: %s",
                      qUtf8Printable(library.errorString()));
            return;
        }
        // Stays loaded for the life of the process: QLibrary does not unload on destruction.
        functions = entry();
    });
    return functions;
}
