#include "AVVideoProbe.h"

#include "FileCopy.h"
#include "Logging.h"

#include <QFile>
#include <QFileInfo>

#include <climits>
#include <cmath>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

namespace {

class InputContext
{
public:
    InputContext() = default;
    ~InputContext() { avformat_close_input(&m_context); }
    InputContext(const InputContext &) = delete;
    InputContext &operator=(const InputContext &) = delete;
    AVFormatContext **address() { return &m_context; }
    AVFormatContext *operator->() const { return m_context; }

private:
    AVFormatContext *m_context = nullptr;
};

class Options
{
public:
    Options() = default;
    ~Options() { av_dict_free(&m_dictionary); }
    Options(const Options &) = delete;
    Options &operator=(const Options &) = delete;
    void set(const char *key, const char *value) { av_dict_set(&m_dictionary, key, value, 0); }
    AVDictionary **address() { return &m_dictionary; }

private:
    AVDictionary *m_dictionary = nullptr;
};

AVStream *firstVideoStream(const InputContext &input)
{
    for (unsigned index = 0; index < input->nb_streams; ++index) {
        AVStream *stream = input->streams[index];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return stream;
    }
    return nullptr;
}

const int32_t *displayMatrix(const AVStream *stream)
{
#if LIBAVFORMAT_VERSION_MAJOR >= 61
    const AVPacketSideData *sideData =
        av_packet_side_data_get(stream->codecpar->coded_side_data,
                                stream->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    if (!sideData || sideData->size < sizeof(int32_t) * 9)
        return nullptr;
    return reinterpret_cast<const int32_t *>(sideData->data);
#else
    size_t size = 0;
    const uint8_t *data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < sizeof(int32_t) * 9)
        return nullptr;
    return reinterpret_cast<const int32_t *>(data);
#endif
}

} // namespace

std::optional<FilesShareRequest::Video> AVVideoProbe::probe(const QString &path)
{
    // A file that is not what its name says is an expected case here, not one for stderr.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    if (!FileCopy::isRegularFile(path))
        return std::nullopt;

    // The file protocol only, named explicitly: a path is never taken for another protocol
    // ("concat:", "http:"), and nothing the container names is fetched from elsewhere.
    const QByteArray url = "file:" + QFile::encodeName(QFileInfo(path).absoluteFilePath());
    Options options;
    options.set("protocol_whitelist", "file");
    InputContext input;
    if (avformat_open_input(input.address(), url.constData(), nullptr, options.address()) < 0)
        return std::nullopt;

    AVStream *stream = firstVideoStream(input);
    // Most containers name the size in their header; the others only once packets are read.
    if (!stream || stream->codecpar->width <= 0 || stream->codecpar->height <= 0) {
        if (avformat_find_stream_info(input.operator->(), nullptr) < 0)
            return std::nullopt;
        stream = firstVideoStream(input);
    }
    if (!stream)
        return std::nullopt;

    const double naturalWidth = stream->codecpar->width;
    const double naturalHeight = stream->codecpar->height;
    double width = naturalWidth;
    double height = naturalHeight;
    if (const int32_t *matrix = displayMatrix(stream)) {
        // The 2 × 2 part, in 16.16 fixed point, maps (x, y) to (a·x + c·y, b·x + d·y).
        const double a = matrix[0] / 65536.0;
        const double b = matrix[1] / 65536.0;
        const double c = matrix[3] / 65536.0;
        const double d = matrix[4] / 65536.0;
        width = a * naturalWidth + c * naturalHeight;
        height = b * naturalWidth + d * naturalHeight;
    }
    if (!std::isfinite(width) || !std::isfinite(height))
        return std::nullopt;
    // Halves away from zero, as std::round does.
    const double roundedWidth = std::round(std::abs(width));
    const double roundedHeight = std::round(std::abs(height));
    if (roundedWidth < 1 || roundedHeight < 1 || roundedWidth > INT_MAX || roundedHeight > INT_MAX)
        return std::nullopt;

    FilesShareRequest::Video video;
    video.width = int(roundedWidth);
    video.height = int(roundedHeight);
    // A duration guessed from the bit rate is not the movie's; only one from the header or
    // the timestamps counts.
    if (input->duration != AV_NOPTS_VALUE && input->duration > 0 &&
        input->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
        const double seconds = double(input->duration) / AV_TIME_BASE;
        if (std::isfinite(seconds) && seconds > 0)
            video.duration = seconds;
    }
    return video;
}
