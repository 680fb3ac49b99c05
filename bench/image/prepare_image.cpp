// Prepares one image file the way the share sheet prepares a shared image file, and writes the
// JPEG; the benchmark times this process against other tools doing the same conversion.
//
// Usage: zelt-prepare-image INPUT OUTPUT.jpg [PREVIEW_SIZE [#RRGGBB]]

#include "media/VipsImagePreparation.h"

#include <QColor>
#include <QFile>
#include <QString>

#include <atomic>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s INPUT OUTPUT.jpg [PREVIEW_SIZE [#RRGGBB]]\n", argv[0]);
        return 2;
    }
    const QString input = QFile::decodeName(argv[1]);
    const QString output = QFile::decodeName(argv[2]);
    const int previewSize = argc > 3 ? QByteArray(argv[3]).toInt() : 1200;
    const QColor background(argc > 4 ? QString::fromLatin1(argv[4]) : QStringLiteral("#282c34"));

    // With a cancellation flag, never set: the preparation reads through the sources that watch
    // it, as the sheet's does.
    const std::atomic<bool> cancelled = false;
    ImagePreparationLimits limits;
    limits.cancelled = &cancelled;
    const auto prepared =
        VipsImagePreparation::preparedImageFromFile(input, background, previewSize, limits);
    if (!prepared) {
        std::fprintf(stderr, "%s: no prepared image\n", argv[1]);
        return 1;
    }
    QFile file(output);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(prepared->jpegData) != prepared->jpegData.size())
        return 1;
    std::printf("%s: %lld bytes, preview %dx%d\n", argv[1],
                static_cast<long long>(prepared->jpegData.size()), prepared->preview.width(),
                prepared->preview.height());
    return 0;
}
