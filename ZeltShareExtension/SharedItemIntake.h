#pragma once

#include "SharedFile.h"
#include "host/ContentType.h"
#include "host/ExtensionItem.h"

#include <QColor>
#include <QCoroTask>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <QVariant>

#include <memory>
#include <optional>

class ExtensionContext;

// The fixed texts of the intake, translatable with the English text as the key.
namespace IntakeText {
QString chooseAFile();           // nothing was shared
QString tooManyFiles();          // more than maximumAttachments
QString foldersCannotBeShared(); // an attachment is a folder
QString isEmpty(const QString &displayName);
QString cannotBeShared(); // neither a file type nor a file URL; a pipe, a device, a socket
QString couldNotLoad();   // any other failure
// The copy would leave the disk (nearly) full.
QString notEnoughSpace(const QString &displayName);
// The file ended before the size it had when the copy began.
QString changedWhileCopied(const QString &displayName);
} // namespace IntakeText

// A copy made in an item directory, before it becomes a SharedFile.
struct CopiedFile
{
    QUrl fileURL;
    qint64 sizeBytes = 0;
    std::optional<ContentType> contentType;
};

// The details of a shared browser page.
struct SharedPage
{
    QString title;
    QString url;
    QString selection;
};

// Turns the input items of a share request into what the sheet sends: files backed by private
// copies (one item directory of mode 0700 per attachment under the sheet's temporary
// directory), previews of the images it re-encodes, and the message text made of shared text,
// links and pages. Attachments are taken one at a time, in order; loading, copying and image
// preparation run on worker threads, everything else on the thread that owns the intake.
class SharedItemIntake : public QObject
{
    Q_OBJECT

public:
    // The state the intake fills, owned by the sheet's model; it must outlive the intake.
    class Sink
    {
    public:
        virtual ~Sink() = default;
        virtual QString message() const = 0;
        virtual void setMessage(const QString &message) = 0;
        // Once, at the successful end: every file, in the order of the attachments.
        virtual void setFiles(const QList<SharedFile> &files) = 0;
        // As soon as each image is prepared, before setFiles.
        virtual void insertPreview(const QUuid &fileID, const QImage &preview) = 0;
        virtual void setHasSharedItems(bool hasSharedItems) = 0;
        virtual void setErrorMessage(const QString &errorMessage) = 0;
        virtual void setLoading(bool loading) = 0;
    };

    static constexpr int maximumAttachments = 10;
    static constexpr int maximumTextLength = 100'000;     // UTF-16 code units
    static constexpr int maximumSelectionLength = 20'000; // characters (grapheme clusters)
    static constexpr int maximumFilenameLength = 200;     // characters (grapheme clusters)
    static constexpr int singlePreviewSize = 1200;        // pixels, for a single attachment
    static constexpr int multiplePreviewSize = 144;       // pixels, for each of several

    // Takes context's input items now; context may be null (no items). The background colour
    // is what transparent image areas become.
    SharedItemIntake(Sink &sink, const ExtensionContext *context, QString temporaryDirectory,
                     QColor background, QObject *parent = nullptr);
    // Items added to a sheet that already holds alreadyShared files (pasted, dropped): they
    // count against the same limit, and sink.setFiles gets the added files only.
    SharedItemIntake(Sink &sink, QList<ExtensionItem> items, int alreadyShared,
                     QString temporaryDirectory, QColor background, QObject *parent = nullptr);

    // Runs the intake once and ends with sink.setLoading(false), after either
    // setHasSharedItems(true) or setErrorMessage(…). Stops quietly when the intake is destroyed
    // meanwhile; the copies made so far stay for the owner of the temporary directory to remove.
    QCoro::Task<> loadSharedItems();

    // The window colour of the application's palette, which follows the light or dark scheme.
    static QColor windowBackgroundColor();

    // "/" and ":" become "-", white space and then "." are trimmed at both ends, and the
    // result is cut to maximumFilenameLength characters; none when nothing is left.
    static std::optional<QString> sanitizedFilename(const std::optional<QString> &name);
    // Title (unless it is the url), the selection quoted with "> ", and the url, with a blank
    // line between them.
    static QString pageText(const SharedPage &page);
    // Drops every text that another one contains, keeping the order of the rest.
    static QStringList dedupedTexts(const QStringList &texts);

    // The text an attachment stands for: a page, an http(s) link, or unnamed plain text of at
    // most maximumTextLength; none for images, files and anything else.
    static QCoro::Task<std::optional<QString>>
    sharedText(std::shared_ptr<const ItemProvider> attachment);
    // Copies what the attachment holds into directory. Throws ShareError with the sheet's
    // text for a folder, an empty file or an attachment without a file, and ItemProviderError
    // or std::system_error when loading or copying fails.
    static QCoro::Task<CopiedFile> copiedFile(std::shared_ptr<const ItemProvider> attachment,
                                              QString directory);
    // Copies the regular file at source into directory under the sanitized display name
    // (with the content type's extension when it has none). Runs on any thread.
    static CopiedFile copyIntoDirectory(const QString &source, const QString &directory,
                                        const QString &displayName,
                                        const std::optional<ContentType> &givenContentType);
    static SharedFile sharedFile(const CopiedFile &copied);

    // Conversions of loaded items.
    static std::optional<SharedPage> pageFromItem(const QVariant &item);
    static std::optional<QUrl> urlFromItem(const QVariant &item);
    static std::optional<QString> stringFromItem(const QVariant &item);

private:
    void finish(const QList<SharedFile> &files, const QStringList &texts);
    void fail(const QString &errorMessage);

    Sink &m_sink;
    QList<ExtensionItem> m_items;
    int m_alreadyShared = 0;
    QString m_temporaryDirectory;
    QColor m_background;
    bool m_started = false;
};
