#include "SheetInvocation.h"

#include "PurposeError.h"
#include "host/DataURI.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

struct Text
{
    Q_DECLARE_TR_FUNCTIONS(PurposeHelper)
};

// A URL as the error line may show it: without a password, and not a screenful.
QString shown(const QString &url)
{
    QString text = QUrl(url).toDisplayString(QUrl::RemovePassword);
    if (text.isEmpty())
        text = url;
    constexpr qsizetype longest = 200;
    if (text.size() > longest)
        text = text.left(longest) + u'…';
    return text;
}

bool isLocalFile(const QUrl &url)
{
    const QString host = url.host();
    return url.scheme() == "file"_L1 && !url.path().isEmpty() &&
           (host.isEmpty() || host.compare("localhost"_L1, Qt::CaseInsensitive) == 0);
}

bool isWebLink(const QUrl &url)
{
    return (url.scheme() == "http"_L1 || url.scheme() == "https"_L1) && !url.host().isEmpty();
}

// A data: URI that zelt-share, which reads it with the same rules, will take; in the words it
// would use.
void checkData(const QString &uri)
{
    const QByteArray text = uri.toUtf8();
    DataURI::Error error = DataURI::Error::Malformed;
    if (DataURI::parse(text, &error))
        return;
    if (error == DataURI::Error::TooLarge)
        throw PurposeError(Text::tr("%1 holds more than %2: save it as a file and share the file.")
                               .arg(DataURI::shortened(text),
                                    QLocale().formattedDataSize(DataURI::maximumBytes, 0,
                                                                QLocale::DataSizeSIFormat)));
    throw PurposeError(Text::tr("Not a valid data: URI: %1").arg(DataURI::shortened(text)));
}

} // namespace

SheetInvocation SheetInvocation::forRequest(const PurposeRequest &request)
{
    if (request.urls.isEmpty())
        throw PurposeError(Text::tr("Choose a file to share."));

    QStringList operands;
    bool hasData = false;
    for (const auto &url : request.urls) {
        // One URI a line on standard input: a line break would split it in two.
        if (url.contains(u'\n') || url.contains(u'\r'))
            throw PurposeError(Text::tr("The Share menu sent a request that Zelt cannot read."));
        if (url.startsWith("data:"_L1, Qt::CaseInsensitive)) {
            checkData(url);
            hasData = true;
            continue;
        }
        const QUrl parsed(url, QUrl::StrictMode);
        if (!parsed.isValid() || parsed.scheme().isEmpty())
            throw PurposeError(
                Text::tr("Zelt cannot share %1: it is neither a file nor a link.").arg(shown(url)));
        if (isLocalFile(parsed)) {
            // file://localhost/path is /path, not the network path //localhost/path.
            QUrl local = parsed;
            local.setHost(QString());
            const QString path = local.toLocalFile();
            // An argument ends at a NUL byte: file:///etc/passwd%00.txt would share /etc/passwd.
            if (path.contains(QChar(0)))
                throw PurposeError(
                    Text::tr("Zelt cannot share %1: no file has that name.").arg(shown(url)));
            operands.append(path);
        } else if (isWebLink(parsed)) {
            operands.append(url);
        } else {
            throw PurposeError(
                Text::tr("Zelt can share files on this computer and web links, not %1.")
                    .arg(shown(url)));
        }
    }

    SheetInvocation invocation;
    const QString title = request.title.trimmed();
    if (request.type == PurposeRequest::Type::ShareUrl && request.urls.size() == 1 && !hasData &&
        !title.isEmpty() && isWebLink(QUrl(request.urls.first()))) {
        invocation.arguments = {u"--page"_s, u"-"_s};
        invocation.standardInput = QJsonDocument(QJsonObject{{u"url"_s, request.urls.first()},
                                                             {u"title"_s, title},
                                                             {u"selection"_s, QString()}})
                                       .toJson(QJsonDocument::Compact);
        if (invocation.standardInput.size() > maximumPageRecordSize)
            throw PurposeError(Text::tr("The page's title is too long to share."));
        return invocation;
    }
    if (hasData) {
        invocation.arguments = {u"--uri-list"_s, u"-"_s};
        for (const auto &url : request.urls)
            invocation.standardInput += url.toUtf8() + "\r\n";
        if (invocation.standardInput.size() > maximumURIListSize)
            throw PurposeError(
                Text::tr("The shared data is more than Zelt takes at once. Share fewer "
                         "items, or save them as files and share the files."));
        return invocation;
    }
    invocation.arguments = QStringList{u"--"_s} + operands;
    return invocation;
}
