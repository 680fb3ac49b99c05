// Takes files into a share the way the share sheet does when they are given on its command
// line: the shared item intake copies each one into an item directory of its own under the
// sheet's temporary directory, DIRECTORY here (created when missing). The copies stay for the
// caller to remove, as the sheet removes them only when it closes.
//
// Usage: zelt-intake-copy DIRECTORY FILE...

#include "SharedItemIntake.h"
#include "host/ExtensionContext.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <exception>

namespace {

// What the intake leaves for the sheet; only the outcome is kept.
class OutcomeSink : public SharedItemIntake::Sink
{
public:
    qsizetype fileCount = 0;
    QString errorMessage;

    QString message() const override { return m_message; }
    void setMessage(const QString &message) override { m_message = message; }
    void setFiles(const QList<SharedFile> &files) override { fileCount = files.size(); }
    void insertPreview(const QUuid &, const QImage &) override {}
    void setHasSharedItems(bool) override {}
    void setErrorMessage(const QString &message) override { errorMessage = message; }
    void setLoading(bool) override {}

private:
    QString m_message;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY FILE...\n", argv[0]);
        return 2;
    }

    std::unique_ptr<ExtensionContext> context;
    try {
        context = ExtensionContext::fromCommandLine(arguments.mid(1), nullptr, QDir::currentPath());
    } catch (const std::exception &error) {
        std::fprintf(stderr, "zelt-intake-copy: %s\n", error.what());
        return 2;
    }
    OutcomeSink sink;
    SharedItemIntake intake(sink, context.get(), arguments.first(), QColor(40, 44, 52));
    QCoro::waitFor(intake.loadSharedItems());
    if (!sink.errorMessage.isEmpty()) {
        std::fprintf(stderr, "zelt-intake-copy: %s\n", qUtf8Printable(sink.errorMessage));
        return 1;
    }
    return sink.fileCount == arguments.size() - 1 ? 0 : 1;
}
