#include "ExtensionContext.h"

#include "DataURI.h"
#include "ItemProvider.h"
#include "ShareTemporaryDirectory.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

struct Text
{
    Q_DECLARE_TR_FUNCTIONS(ExtensionContext)
};

// A scheme of two characters or more, so that a Windows-style drive letter is not one.
bool looksLikeURI(const QString &argument)
{
    static const QRegularExpression scheme(u"^[A-Za-z][A-Za-z0-9+.-]+:"_s);
    return scheme.match(argument).hasMatch();
}

// Standard input holds a page record at most this large, and a list of links at most this: a
// data: URI of the largest data, percent-encoded, and a little more.
constexpr qint64 maximumPageRecordBytes = 16 * 1024 * 1024;
constexpr qint64 maximumURIListBytes = 3 * DataURI::maximumBytes + 1024 * 1024;

QString formattedSize(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 0, QLocale::DataSizeSIFormat);
}

std::shared_ptr<ItemProvider> dataURIProvider(QByteArrayView text, CommandLineError::Kind malformed)
{
    DataURI::Error error = DataURI::Error::Malformed;
    const auto uri = DataURI::parse(text, &error);
    if (uri)
        return ItemProvider::forDataURI(*uri);
    if (error == DataURI::Error::TooLarge)
        throw CommandLineError(
            Text::tr("%1 holds more than %2: save it as a file and share the file.")
                .arg(DataURI::shortened(text), formattedSize(DataURI::maximumBytes)),
            CommandLineError::Kind::Input);
    throw CommandLineError(Text::tr("Not a valid data: URI: %1").arg(DataURI::shortened(text)),
                           malformed);
}

// A link of the command line or of a list of links.
std::shared_ptr<ItemProvider> uriProvider(const QString &text, CommandLineError::Kind kind)
{
    if (DataURI::hasScheme(QStringView(text).left(5).toLatin1()))
        return dataURIProvider(text.toUtf8(), kind);
    const QUrl url(text, QUrl::StrictMode);
    if (!looksLikeURI(text) || !url.isValid())
        throw CommandLineError(Text::tr("Not a valid link: %1").arg(text), kind);
    if (url.isLocalFile())
        return ItemProvider::forFile(url.toLocalFile());
    return ItemProvider::forURL(url, text);
}

std::shared_ptr<ItemProvider> operandProvider(const QString &operand, const QDir &workingDirectory)
{
    const QFileInfo file(workingDirectory, operand);
    if (file.exists() || file.isSymLink())
        return ItemProvider::forFile(file.absoluteFilePath());
    if (looksLikeURI(operand))
        return uriProvider(operand, CommandLineError::Kind::Usage);
    // Not there: the intake reports that it cannot load it.
    return ItemProvider::forFile(file.absoluteFilePath());
}

std::shared_ptr<ItemProvider> pageProvider(const QByteArray &json, CommandLineError::Kind kind)
{
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw CommandLineError(
            Text::tr("--page needs a JSON object with url, title and selection."), kind);
    return ItemProvider::forPage(document.object().toVariantMap());
}

// All of standard input, at most limit bytes of it.
QByteArray readAll(QIODevice &input, qint64 limit)
{
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const qint64 count = input.read(buffer, sizeof buffer);
        if (count < 0)
            throw CommandLineError(Text::tr("The standard input could not be read."),
                                   CommandLineError::Kind::Input);
        if (count == 0) {
            if (input.waitForReadyRead(-1))
                continue;
            return bytes;
        }
        if (bytes.size() + count > limit)
            throw CommandLineError(
                Text::tr("The standard input holds more than %1.").arg(formattedSize(limit)),
                CommandLineError::Kind::Input);
        bytes.append(buffer, qsizetype(count));
    }
}

// A text/uri-list: a link a line, lines that start with "#" are comments.
QList<std::shared_ptr<ItemProvider>> uriListProviders(const QByteArray &list)
{
    QList<std::shared_ptr<ItemProvider>> providers;
    qsizetype start = 0;
    while (start < list.size()) {
        qsizetype end = list.indexOf('\n', start);
        if (end < 0)
            end = list.size();
        const QByteArrayView line = QByteArrayView(list).sliced(start, end - start).trimmed();
        start = end + 1;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        // A data: URI stays bytes: as text it would take twice the room.
        if (DataURI::hasScheme(line))
            providers.append(dataURIProvider(line, CommandLineError::Kind::Input));
        else
            providers.append(uriProvider(QString::fromUtf8(line), CommandLineError::Kind::Input));
    }
    if (providers.isEmpty())
        throw CommandLineError(Text::tr("Nothing was shared: the standard input holds no links."),
                               CommandLineError::Kind::Input);
    return providers;
}

} // namespace

CommandLineError::CommandLineError(const QString &message, Kind kind)
    : std::runtime_error(message.toStdString())
    , m_message(message)
    , m_kind(kind)
{}

ExtensionContext::ExtensionContext(QList<ExtensionItem> inputItems, QObject *parent)
    : QObject(parent)
    , m_inputItems(std::move(inputItems))
{}

std::unique_ptr<ExtensionContext> ExtensionContext::fromCommandLine(const QStringList &arguments,
                                                                    QIODevice *standardInput,
                                                                    const QString &workingDirectory)
{
    const QDir directory(workingDirectory);
    ExtensionItem item;
    bool optionsEnded = false;
    bool readStandardInput = false;

    for (qsizetype index = 0; index < arguments.size(); ++index) {
        const QString &argument = arguments.at(index);
        if (optionsEnded || !argument.startsWith(u'-')) {
            item.attachments.append(operandProvider(argument, directory));
            continue;
        }
        if (argument == "--"_L1) {
            optionsEnded = true;
            continue;
        }
        // Standard input is read once, by whichever option takes it.
        const auto takeStandardInput = [&] {
            if (readStandardInput)
                throw CommandLineError(Text::tr("The standard input can be shared once only."));
            if (!standardInput)
                throw CommandLineError(Text::tr("There is no standard input to share."));
            readStandardInput = true;
        };
        if (argument == "-"_L1) {
            takeStandardInput();
            try {
                item.attachments.append(ItemProvider::forData(*standardInput));
            } catch (const NoDataError &) {
                throw CommandLineError(Text::tr("Nothing was shared: the standard input is empty."),
                                       CommandLineError::Kind::Input);
            } catch (const NoSpaceError &) {
                throw CommandLineError(
                    Text::tr("There is not enough free disk space to share the standard input."),
                    CommandLineError::Kind::Input);
            } catch (const UnsafeSpoolError &) {
                throw CommandLineError(ShareTemporaryDirectory::unsafeRootMessage(
                                           ShareTemporaryDirectory::defaultRoot()),
                                       CommandLineError::Kind::Input);
            } catch (const ItemProviderError &) {
                throw CommandLineError(Text::tr("The standard input could not be read."),
                                       CommandLineError::Kind::Input);
            }
            continue;
        }

        QString option = argument;
        std::optional<QString> value;
        if (const auto equals = argument.indexOf(u'='); equals > 0) {
            option = argument.left(equals);
            value = argument.mid(equals + 1);
        }
        if (option != "--text"_L1 && option != "--page"_L1 && option != "--uri-list"_L1)
            throw CommandLineError(Text::tr("Unknown option: %1").arg(option));
        if (!value) {
            if (index + 1 >= arguments.size())
                throw CommandLineError(Text::tr("%1 needs a value.").arg(option));
            value = arguments.at(++index);
        }
        if (option == "--text"_L1) {
            item.attachments.append(ItemProvider::forText(*value));
        } else if (option == "--uri-list"_L1) {
            if (*value != "-"_L1)
                throw CommandLineError(
                    Text::tr("--uri-list takes - and reads the links from the standard input."));
            takeStandardInput();
            item.attachments.append(uriListProviders(readAll(*standardInput, maximumURIListBytes)));
        } else if (*value == "-"_L1) {
            takeStandardInput();
            item.attachments.append(pageProvider(readAll(*standardInput, maximumPageRecordBytes),
                                                 CommandLineError::Kind::Input));
        } else {
            item.attachments.append(pageProvider(value->toUtf8(), CommandLineError::Kind::Usage));
        }
    }

    return std::make_unique<ExtensionContext>(QList<ExtensionItem>{std::move(item)});
}

ExtensionItem ExtensionContext::itemFromMimeData(const QMimeData &data)
{
    ExtensionItem item;
    if (data.hasUrls()) {
        for (const QUrl &url : data.urls()) {
            if (url.isLocalFile())
                item.attachments.append(ItemProvider::forFile(url.toLocalFile()));
            else if (url.scheme().compare("data"_L1, Qt::CaseInsensitive) == 0)
                item.attachments.append(
                    dataURIProvider(url.toEncoded(), CommandLineError::Kind::Input));
            else if (url.isValid() && !url.scheme().isEmpty())
                item.attachments.append(ItemProvider::forURL(url, url.toString()));
        }
        if (!item.attachments.isEmpty())
            return item;
    }
    // An image as the application that copied it encoded it; PNG first, as it is lossless.
    QStringList imageFormats = data.formats().filter(QRegularExpression(u"^image/"_s));
    if (const auto png = imageFormats.indexOf(u"image/png"_s); png > 0)
        imageFormats.move(png, 0);
    for (const QString &format : imageFormats) {
        QByteArray bytes = data.data(format);
        if (!bytes.isEmpty() && bytes.size() <= DataURI::maximumBytes) {
            item.attachments.append(ItemProvider::forDataURI({format, {}, std::move(bytes)}));
            return item;
        }
    }
    if (data.hasImage()) {
        const QImage image = qvariant_cast<QImage>(data.imageData());
        QByteArray bytes;
        QBuffer buffer(&bytes);
        if (!image.isNull() && buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG")) {
            item.attachments.append(
                ItemProvider::forDataURI({u"image/png"_s, {}, std::move(bytes)}));
            return item;
        }
    }
    if (data.hasText() && !data.text().trimmed().isEmpty())
        item.attachments.append(ItemProvider::forText(data.text()));
    return item;
}

bool ExtensionContext::mimeDataHoldsItems(const QMimeData &data, bool withText)
{
    return data.hasUrls() || data.hasImage() || !data.formats().filter(u"image/"_s).isEmpty() ||
           (withText && data.hasText() && !data.text().trimmed().isEmpty());
}

void ExtensionContext::completeRequest()
{
    if (m_completed)
        return;
    m_completed = true;
    Q_EMIT requestCompleted();
}
