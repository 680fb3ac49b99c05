#include "TaskResult.h"
#include "VideoMetadata.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

using Video = FilesShareRequest::Video;
Q_DECLARE_METATYPE(std::optional<FilesShareRequest::Video>)

namespace {

std::optional<Video> metadata(const QString &path, std::optional<ContentType> type = {})
{
    return *TaskResult<std::optional<Video>>::wait(
                VideoMetadata::videoMetadata(QUrl::fromLocalFile(path), std::move(type)))
                .value;
}

} // namespace

// Movies made with the ffmpeg tool at test time.
class TestVideoMetadata : public QObject
{
    Q_OBJECT

    QTemporaryDir m_directory;
    QString m_ffmpeg;

    // Runs ffmpeg with arguments and the output path last; false when it could not encode.
    bool make(const QString &name, QStringList arguments, bool throughPipe = false,
              bool quiet = false)
    {
        const QString path = m_directory.filePath(name);
        QProcess ffmpeg;
        arguments.prepend(u"-nostdin"_s);
        arguments.prepend(u"error"_s);
        arguments.prepend(u"-v"_s);
        arguments.append(throughPipe ? u"pipe:1"_s : path);
        if (throughPipe)
            ffmpeg.setStandardOutputFile(path);
        ffmpeg.start(m_ffmpeg, arguments);
        if (!ffmpeg.waitForFinished(60'000) || ffmpeg.exitCode() != 0) {
            if (!quiet)
                qWarning("ffmpeg: %s", ffmpeg.readAllStandardError().constData());
            return false;
        }
        return true;
    }

    // A copy of landscape.mp4 whose display matrix turns it by degrees.
    bool rotated(const QString &name, int degrees)
    {
        const QString source = m_directory.filePath(u"landscape.mp4"_s);
        // Newer ffmpeg tools set the matrix with an input option; older ones (5.x) from the
        // stream's rotate tag when the stream is copied.
        return make(name,
                    {u"-display_rotation"_s, QString::number(degrees), u"-i"_s, source, u"-c"_s,
                     u"copy"_s},
                    false, true) ||
               make(name, {u"-i"_s, source, u"-c"_s, u"copy"_s, u"-metadata:s:v:0"_s,
                           u"rotate=%1"_s.arg(degrees)});
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_ffmpeg = QStandardPaths::findExecutable(u"ffmpeg"_s);
        if (m_ffmpeg.isEmpty())
            QSKIP("the ffmpeg tool is not installed (scripts/install-deps installs it)");
        const QStringList picture{u"-f"_s,   u"lavfi"_s,
                                  u"-i"_s,   u"testsrc=size=1920x1080:rate=2:duration=1"_s,
                                  u"-c:v"_s, u"mpeg4"_s};
        if (!make(u"landscape.mp4"_s, picture))
            QSKIP("ffmpeg cannot encode MPEG-4 video here");
        // The recording of a phone held upright: stored landscape, shown turned a quarter.
        QVERIFY(rotated(u"portrait.mp4"_s, 90));
        QVERIFY(rotated(u"portrait.mov"_s, 270));
        // Written to a pipe, the Matroska muxer cannot go back to write the duration.
        QVERIFY(make(u"streamed.mkv"_s, picture + QStringList{u"-f"_s, u"matroska"_s}, true));
        if (!make(u"audio.mp4"_s,
                  {u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=duration=1"_s, u"-c:a"_s, u"aac"_s}))
            QSKIP("ffmpeg cannot encode AAC audio here");
        QFile::copy(m_directory.filePath(u"landscape.mp4"_s), m_directory.filePath(u"clip.bin"_s));
        QFile text(m_directory.filePath(u"notes.mp4"_s));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a movie\n");
    }

    void movies_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("hasDuration");
        QTest::newRow("landscape") << u"landscape.mp4"_s << 1920 << 1080 << true;
        QTest::newRow("portrait, rotation 90") << u"portrait.mp4"_s << 1080 << 1920 << true;
        QTest::newRow("portrait, rotation 270") << u"portrait.mov"_s << 1080 << 1920 << true;
        QTest::newRow("duration not written") << u"streamed.mkv"_s << 1920 << 1080 << false;
    }

    void movies()
    {
        QFETCH(QString, name);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, hasDuration);
        const auto video = metadata(m_directory.filePath(name));
        QVERIFY(video);
        QCOMPARE(video->width, width);
        QCOMPARE(video->height, height);
        QCOMPARE(video->duration.has_value(), hasDuration);
        if (hasDuration)
            QVERIFY2(std::abs(*video->duration - 1.0) < 0.1,
                     qPrintable(QString::number(*video->duration)));
    }

    void noMetadata_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("audio only") << u"audio.mp4"_s;
        QTest::newRow("not a movie inside") << u"notes.mp4"_s;
        QTest::newRow("not a movie type") << u"clip.bin"_s;
        QTest::newRow("missing") << u"missing.mp4"_s;
        QTest::newRow("a folder") << QString();
    }

    void noMetadata()
    {
        QFETCH(QString, name);
        QCOMPARE(metadata(m_directory.filePath(name)), std::nullopt);
    }

    // The type given with the file decides, not its extension.
    void givenType()
    {
        const QString clip = m_directory.filePath(u"clip.bin"_s);
        QVERIFY(metadata(clip, ContentType::fromIdentifier(u"video/mp4"_s)));
        QCOMPARE(metadata(m_directory.filePath(u"landscape.mp4"_s), ContentType::pdf()),
                 std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestVideoMetadata)
#include "tst_videometadata.moc"
