#pragma once

#include "ExtensionItem.h"

#include <QIODevice>
#include <QList>
#include <QMimeData>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>

// The command line does not describe a share request, or what it names cannot be read; the
// text says why, for the user.
class CommandLineError : public std::runtime_error
{
public:
    // Usage: the arguments are wrong. Input: they are right, but the standard input could not
    // be taken (a full disk, a broken pipe).
    enum class Kind { Usage, Input };

    explicit CommandLineError(const QString &message, Kind kind = Kind::Usage);
    const QString &message() const { return m_message; }
    Kind kind() const { return m_kind; }

private:
    QString m_message;
    Kind m_kind;
};

// One share request: its input items, and the way to end it. Main thread only.
class ExtensionContext : public QObject
{
    Q_OBJECT

public:
    explicit ExtensionContext(QList<ExtensionItem> inputItems, QObject *parent = nullptr);

    // The request of a command line, as one item with one attachment per operand, in order:
    //   PATH or file:URI    a local file or folder (relative paths against workingDirectory)
    //   URI                 a link of any other scheme, such as https: or mailto:
    //   --text TEXT         plain text
    //   --page JSON         a browser page: an object with the strings url, title, selection
    //   --page -            the same object, read from standardInput
    //   --uri-list -        a text/uri-list read from standardInput: each link as a URI operand
    //   data:URI            the data as a file, of the URI's type, named by its name parameter
    //   -                   the data on standardInput, read to its end now
    //   --                  every later argument is a PATH or URI
    // An argument that names an existing file is a PATH even when it looks like a URI. Throws
    // CommandLineError for an unknown option, a missing or malformed value, or standard input
    // taken twice.
    static std::unique_ptr<ExtensionContext> fromCommandLine(const QStringList &arguments,
                                                             QIODevice *standardInput,
                                                             const QString &workingDirectory);

    // What a paste or a drop holds, as one item: its links (local files as files, data: URIs as
    // data, others as links), else its image (the encoded bytes of an image/* format when it
    // offers one), else its text. No attachments when it holds none of these. Throws
    // CommandLineError for a data: URI that cannot be taken.
    static ExtensionItem itemFromMimeData(const QMimeData &data);
    // Whether it holds links or an image, or (withText) text.
    static bool mimeDataHoldsItems(const QMimeData &data, bool withText);

    const QList<ExtensionItem> &inputItems() const { return m_inputItems; }

    // Ends the request successfully without returning anything; requestCompleted is emitted
    // the first time only.
    void completeRequest();
    bool isCompleted() const { return m_completed; }

Q_SIGNALS:
    void requestCompleted();

private:
    QList<ExtensionItem> m_inputItems;
    bool m_completed = false;
};
