// Writes the inline share body of one file to standard output, made the way the share sheet
// makes it for its images: the file read whole and its base64 text put into the JSON body.
//
// Usage: zelt-inline-body FILE > BODY

#include "service/ShareSubmission.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <exception>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE > BODY\n", argv[0]);
        return 2;
    }
    const QFileInfo info(QFile::decodeName(argv[1]));
    SharedFile file;
    file.fileURL = QUrl::fromLocalFile(info.absoluteFilePath());
    file.filename = info.fileName();
    file.mediaType = QStringLiteral("image/jpeg");
    file.sizeBytes = info.size();
    file.isPreparedImage = true;

    QByteArray body;
    try {
        body = ShareSubmission::inlineShareBody(QString(), {file}, std::nullopt,
                                                ShareSubmission::newShareID());
    } catch (const std::exception &error) {
        std::fprintf(stderr, "zelt-inline-body: %s\n", error.what());
        return 1;
    }
    const auto size = size_t(body.size());
    const bool written = std::fwrite(body.constData(), 1, size, stdout) == size;
    return written && std::fflush(stdout) == 0 ? 0 : 1;
}
