#include "ExtensionContext.h"

#include "ShareTemporaryDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ExtensionContext", text);
}

// A scheme of two characters or more, so that a Windows-style drive letter is not one.
bool looksLikeURI(const QString &argument)
{
    static const QRegularExpression scheme(u"^[A-Za-z][A-Za-z0-9+.-]+:"_s);
    return scheme.match(argument).hasMatch();
}

std::shared_ptr<ItemProvider> operandProvider(const QString &operand, const QDir &workingDirectory)
{
    const QFileInfo file(workingDirectory, operand);
    if (file.exists() || file.isSymLink())
        return ItemProvider::forFile(file.absoluteFilePath());
    if (looksLikeURI(operand)) {
        const QUrl url(operand, QUrl::StrictMode);
        if (!url.isValid())
            throw CommandLineError(tr("Not a valid link: %1").arg(operand));
        if (url.isLocalFile())
            return ItemProvider::forFile(url.toLocalFile());
        return ItemProvider::forURL(url, operand);
    }
    // Not there: the intake reports that it cannot load it.
    return ItemProvider::forFile(file.absoluteFilePath());
}

std::shared_ptr<ItemProvider> pageProvider(const QString &json)
{
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw CommandLineError(tr("--page needs a JSON object with url, title and selection."));
    return ItemProvider::forPage(document.object().toVariantMap());
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
        if (argument == "-"_L1) {
            if (readStandardInput)
                throw CommandLineError(tr("The standard input can be shared once only."));
            if (!standardInput)
                throw CommandLineError(tr("There is no standard input to share."));
            readStandardInput = true;
            try {
                item.attachments.append(ItemProvider::forData(*standardInput));
            } catch (const NoDataError &) {
                throw CommandLineError(tr("Nothing was shared: the standard input is empty."),
                                       CommandLineError::Kind::Input);
            } catch (const NoSpaceError &) {
                throw CommandLineError(
                    tr("There is not enough free disk space to share the standard input."),
                    CommandLineError::Kind::Input);
            } catch (const UnsafeSpoolError &) {
                throw CommandLineError(ShareTemporaryDirectory::unsafeRootMessage(
                                           ShareTemporaryDirectory::defaultRoot()),
                                       CommandLineError::Kind::Input);
            } catch (const ItemProviderError &) {
                throw CommandLineError(tr("The standard input could not be read."),
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
        if (option != "--text"_L1 && option != "--page"_L1)
            throw CommandLineError(tr("Unknown option: %1").arg(option));
        if (!value) {
            if (index + 1 >= arguments.size())
                throw CommandLineError(tr("%1 needs a value.").arg(option));
            value = arguments.at(++index);
        }
        if (option == "--text"_L1)
            item.attachments.append(ItemProvider::forText(*value));
        else
            item.attachments.append(pageProvider(*value));
    }

    return std::make_unique<ExtensionContext>(QList<ExtensionItem>{std::move(item)});
}

void ExtensionContext::completeRequest()
{
    if (m_completed)
        return;
    m_completed = true;
    Q_EMIT requestCompleted();
}
