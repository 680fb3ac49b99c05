#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// What every fuzz target shares: the input as Qt types, a quiet Qt, and the checks that turn a
// broken promise of a decoder into a crash libFuzzer keeps the input of.
namespace Fuzz {

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The input read as UTF-8 (malformed sequences become U+FFFD, as Qt reads any outside text).
inline QString utf8(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The input read as raw UTF-16 code units, so that lone surrogates reach the code as well.
inline QString utf16(const uint8_t *data, size_t size)
{
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(char16_t(data[2 * i] | (data[2 * i + 1] << 8)));
    return text;
}

[[noreturn]] inline void fail(const char *promise)
{
    std::fprintf(stderr, "fuzz: broken promise: %s\n", promise);
    std::abort();
}

inline void check(bool holds, const char *promise)
{
    if (!holds)
        fail(promise);
}

// The library logs what it refuses; at thousands of inputs a second that is only noise. A
// fatal message (a failed Q_ASSERT among them) still ends the run.
inline void quietQt()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qPrintable(text));
            std::abort();
        }
    });
}

// An application object for the targets that need one, made once and never destroyed.
template <typename Application>
void createApplication()
{
    static int argc = 1;
    static char name[] = "zelt-fuzz";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new Application(argc, argv);
}

// The input as a file, for the decoders that read files: one path in a temporary directory of
// the run, rewritten for every input.
class InputFile
{
public:
    InputFile()
    {
        if (!m_directory.isValid())
            fail("a temporary directory for the input");
        m_path = m_directory.filePath(QStringLiteral("input"));
    }

    // The one input file of the run, removed at exit.
    static const InputFile &forRun()
    {
        static const InputFile file;
        return file;
    }

    const QString &write(const uint8_t *data, size_t size) const
    {
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes(data, size)) != qint64(size))
            fail("the input is written");
        return m_path;
    }

private:
    QTemporaryDir m_directory;
    QString m_path;
};

} // namespace Fuzz
