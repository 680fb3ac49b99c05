#include "SheetInvocation.h"

#include "PurposeError.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QtCore/private/qdataurl_p.h>

using namespace Qt::StringLiterals;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SheetInvocation", text);
}

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

// A data: URI as zelt-share decodes it: its payload must come out, and within the bound. Qt's
// reading takes a URI without the comma before the data for one without data; it has none.
void checkData(const QString &uri)
{
    QString mediaType;
    QByteArray payload;
    if (!uri.contains(u',') || !qDecodeDataUrl(QUrl(uri), mediaType, payload))
        throw PurposeError(tr("The shared data cannot be read."));
    if (payload.size() > SheetInvocation::maximumDataSize)
        throw PurposeError(tr("The shared data is larger than 64 MiB, which is the most Zelt "
                              "takes from an application at once."));
}

} // namespace

SheetInvocation SheetInvocation::forRequest(const PurposeRequest &request)
{
    if (request.urls.isEmpty())
        throw PurposeError(tr("Choose a file to share."));

    QStringList operands;
    bool hasData = false;
    for (const auto &url : request.urls) {
        // One URI a line on standard input: a line break would split it in two.
        if (url.contains(u'\n') || url.contains(u'\r'))
            throw PurposeError(tr("The Share menu sent a request that Zelt cannot read."));
        if (url.startsWith("data:"_L1, Qt::CaseInsensitive)) {
            checkData(url);
            hasData = true;
            continue;
        }
        const QUrl parsed(url, QUrl::StrictMode);
        if (!parsed.isValid() || parsed.scheme().isEmpty())
            throw PurposeError(
                tr("Zelt cannot share %1: it is neither a file nor a link.").arg(shown(url)));
        if (isLocalFile(parsed)) {
            // file://localhost/path is /path, not the network path //localhost/path.
            QUrl local = parsed;
            local.setHost(QString());
            operands.append(local.toLocalFile());
        } else if (isWebLink(parsed)) {
            operands.append(url);
        } else {
            throw PurposeError(
                tr("Zelt can share files on this computer and web links, not %1.").arg(shown(url)));
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
        return invocation;
    }
    if (hasData) {
        invocation.arguments = {u"--uri-list"_s, u"-"_s};
        for (const auto &url : request.urls)
            invocation.standardInput += url.toUtf8() + "\r\n";
        return invocation;
    }
    invocation.arguments = QStringList{u"--"_s} + operands;
    return invocation;
}
