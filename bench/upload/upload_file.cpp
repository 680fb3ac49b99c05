// Sends one file to an upload URL the way the share sheet sends a shared file: the file upload
// pipeline's direct PUT, streamed from the file, over TLS verified against the given authority.
// Prints nothing on success; the exit status tells whether the service took the whole file.
// With PROGRESS_LOG it writes there each progress report as "TIME SENT SIZE" and the answer's
// arrival as "done TIME", TIME in nanoseconds of the monotonic clock.
//
// Usage: zelt-upload-file UPLOAD_URL FILE CA.pem [PROGRESS_LOG]

#include "service/FileUploadPipeline.h"
#include "service/ServiceEnvironment.h"
#include "service/SessionHolder.h"
#include "service/SharedSessionStore.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QFileInfo>
#include <QSslCertificate>

#include <chrono>
#include <cstdio>
#include <exception>

namespace {

struct Outcome
{
    int status = 1;
    qint64 sent = 0;
    qint64 size = 0;
    FILE *progress = nullptr;
};

unsigned long long monotonicNanoseconds()
{
    return static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                               std::chrono::steady_clock::now().time_since_epoch())
                                               .count());
}

QCoro::Task<> upload(SessionHolder *holder, SharedFile file, QUrl url, Outcome &outcome)
{
    try {
        auto uploading = FileUploadPipeline::uploadFile(holder, file, url, [&outcome](qint64 sent) {
            outcome.sent = sent;
            if (outcome.progress)
                std::fprintf(outcome.progress, "%llu %lld %lld\n", monotonicNanoseconds(),
                             static_cast<long long>(sent), static_cast<long long>(outcome.size));
        });
        co_await std::move(uploading);
        if (outcome.progress)
            std::fprintf(outcome.progress, "done %llu\n", monotonicNanoseconds());
        outcome.status = 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "zelt-upload-file: %s\n", error.what());
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s UPLOAD_URL FILE CA.pem [PROGRESS_LOG]\n", argv[0]);
        return 2;
    }
    const QUrl url(QString::fromLocal8Bit(argv[1]), QUrl::StrictMode);
    const QFileInfo info(QFile::decodeName(argv[2]));
    const auto authorities = QSslCertificate::fromPath(QFile::decodeName(argv[3]), QSsl::Pem);
    if (!url.isValid() || !info.isFile() || authorities.isEmpty()) {
        std::fprintf(stderr, "zelt-upload-file: bad URL, file or authority\n");
        return 2;
    }

    // No session: a refused direct upload would go on to the proxy, which needs one, and so
    // ends the run with an error instead of a second transfer.
    const QUrl origin = url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
    auto environment = std::make_shared<ServiceEnvironment>(
        ServiceOrigin{origin, ServiceOrigin::Source::Development},
        std::make_shared<SharedSessionStore>(nullptr), authorities);
    SessionHolder holder(environment);

    SharedFile file;
    file.fileURL = QUrl::fromLocalFile(info.absoluteFilePath());
    file.filename = info.fileName();
    file.mediaType = QStringLiteral("application/octet-stream");
    file.sizeBytes = info.size();

    Outcome outcome;
    outcome.size = file.sizeBytes;
    if (argc == 5 && !(outcome.progress = std::fopen(argv[4], "w"))) {
        std::fprintf(stderr, "zelt-upload-file: cannot write %s\n", argv[4]);
        return 2;
    }
    QCoro::waitFor(upload(&holder, file, url, outcome));
    if (outcome.progress)
        std::fclose(outcome.progress);
    if (outcome.status == 0 && outcome.sent != file.sizeBytes) {
        std::fprintf(stderr, "zelt-upload-file: %lld of %lld bytes reported sent\n",
                     static_cast<long long>(outcome.sent), static_cast<long long>(file.sizeBytes));
        return 1;
    }
    return outcome.status;
}
