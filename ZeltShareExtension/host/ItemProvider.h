#pragma once

#include "ContentType.h"
#include "DataURI.h"
#include "ItemData.h"
#include "WorkerThread.h"

#include <QCoroTask>
#include <QIODevice>
#include <QLatin1StringView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

// Loading from a provider failed: no representation of the type, or the source could not be
// read. The text is for the log, not for the user.
class ItemProviderError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The disk has no room left to keep data as a file.
class NoSpaceError : public ItemProviderError
{
public:
    using ItemProviderError::ItemProviderError;
};

// Data that was to be kept as a file holds nothing.
class NoDataError : public ItemProviderError
{
public:
    using ItemProviderError::ItemProviderError;
};

// The cache root that spooled data goes to is not a directory of the user's own.
class UnsafeSpoolError : public ItemProviderError
{
public:
    using ItemProviderError::ItemProviderError;
};

// One attachment of a share request: the representations it offers, in order of preference,
// each under a type identifier, and a suggested name. Loads run on worker threads and resume the
// caller on its own thread; a provider is immutable once handed out and may be loaded from
// several times.
class ItemProvider
{
public:
    // A file holding a representation. It belongs to the provider and may be gone once the
    // handler returns; the handler runs on the worker thread that loads it.
    using FileHandler = std::function<void(const QString &path)>;

    struct Representation
    {
        QString typeIdentifier;
        // The item: a QUrl, a QString, a QByteArray or a QVariantMap. Empty: the provider has no
        // item object of this type.
        std::function<QVariant()> item;
        // The bytes. Empty: taken from file when there is one.
        std::function<ItemData()> data;
        // Calls the handler with a file holding the bytes. Empty: written from data.
        std::function<void(const FileHandler &)> file;
    };

    // The key under which a page's property list holds what the browser sent: a map with the
    // strings "url", "title" and "selection".
    static constexpr QLatin1StringView pageResultsKey{"pageResults"};

    explicit ItemProvider(std::optional<QString> suggestedName = std::nullopt);

    // Appends a representation; the first one registered is the preferred one.
    void registerRepresentation(Representation representation);

    QStringList registeredTypeIdentifiers() const;
    const std::optional<QString> &suggestedName() const { return m_suggestedName; }
    // Whether some representation's type is the given one or conforms to it.
    bool hasItemConformingToTypeIdentifier(const QString &typeIdentifier) const;

    // The item of the first representation that conforms to the type. Throws
    // ItemProviderError when there is none, or what the loader threw.
    QCoro::Task<QVariant> loadItem(const QString &typeIdentifier) const;
    // The bytes of the first representation that conforms to the type and has bytes or a file.
    QCoro::Task<ItemData> loadDataRepresentation(const ContentType &type) const;
    // Calls handler on a worker thread with a file holding the first representation that
    // conforms to the type, and gives what it returns. Throws what the handler threw.
    template <typename Handler>
    auto loadFileRepresentation(const ContentType &type, Handler handler) const
        -> QCoro::Task<std::invoke_result_t<Handler &, const QString &>>;

    // A local file or folder: its type (when it can be named) and a file URL; the suggested
    // name is the file's name.
    static std::shared_ptr<ItemProvider> forFile(const QString &path);
    // A link: a URL, and its text as plain text. Given the text it was written as, the link
    // item is that text, so that it keeps its form (letter case, international letters).
    static std::shared_ptr<ItemProvider> forURL(const QUrl &url, const QString &written = {});
    // Plain text without a name.
    static std::shared_ptr<ItemProvider> forText(const QString &text);
    // A browser page: a property list whose pageResultsKey entry is results.
    static std::shared_ptr<ItemProvider> forPage(const QVariantMap &results);
    // The data of a data: URI, as a file: its media type (or, when the database does not know it,
    // the type its bytes show), named by its name parameter or else by its kind and type
    // ("image.png").
    static std::shared_ptr<ItemProvider> forDataURI(const DataURI &uri);
    // Data without a name, read to its end now and kept in a private file until the provider
    // goes: its type as the contents say (the data as its item; text as a string, none when
    // longer than maximumTextItemLength) and a file URL. Throws NoDataError when there is
    // nothing, NoSpaceError when the disk would be (nearly) full, UnsafeSpoolError, or
    // ItemProviderError when it cannot be read or kept.
    static std::shared_ptr<ItemProvider> forData(QIODevice &input);

    // Where data without a file is written so that it can be handed over as one:
    // <user caches>/app.zelt.ZeltShareExtension, created with mode 0700; none when that is not
    // a directory of the user's own.
    static std::optional<QString> spoolDirectory();

    // Text data longer than this, in UTF-16 code units once trimmed, is offered as no text at
    // all: a message takes no more.
    static constexpr qsizetype maximumTextItemLength = 100'000;

private:
    std::optional<Representation> representation(const ContentType &type, bool needsBytes) const;
    // Calls handler with a file holding representation's bytes; the file goes afterwards.
    static void withFile(const Representation &representation, const FileHandler &handler);

    QList<Representation> m_representations;
    std::optional<QString> m_suggestedName;
};

template <typename Handler>
auto ItemProvider::loadFileRepresentation(const ContentType &type, Handler handler) const
    -> QCoro::Task<std::invoke_result_t<Handler &, const QString &>>
{
    using Result = std::invoke_result_t<Handler &, const QString &>;
    const auto found = representation(type, true);
    return WorkerThread::run([found, handler = std::move(handler)]() mutable -> Result {
        if (!found)
            throw ItemProviderError("no file representation of the requested type");
        std::optional<Result> result;
        withFile(*found,
                 [&result, &handler](const QString &path) { result.emplace(handler(path)); });
        if (!result)
            throw ItemProviderError("the provider delivered no file");
        return std::move(*result);
    });
}
