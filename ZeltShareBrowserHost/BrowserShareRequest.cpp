#include "BrowserShareRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

using Refusal = QString;

// The fields of each kind; "kind" itself comes with all of them.
const QStringList &fieldsOf(const QString &kind)
{
    static const QStringList page{u"kind"_s, u"url"_s, u"title"_s, u"selection"_s};
    static const QStringList link{u"kind"_s, u"url"_s};
    static const QStringList image{u"kind"_s, u"type"_s, u"data"_s, u"name"_s};
    static const QStringList none;
    if (kind == u"page")
        return page;
    if (kind == u"link")
        return link;
    if (kind == u"image")
        return image;
    return none;
}

// An address the sheet may take from a web page: http or https with a host, written without
// white space or control characters (which would also end a line of a URI list).
bool isWebAddress(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f)
            return false;
    }
    const QUrl url(text);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https";
}

// A media type of the image kind, as RFC 6838 spells its names, in lower case.
bool isImageType(const QString &type)
{
    static const QRegularExpression pattern(u"^image/[a-z0-9][a-z0-9!#$&^_.+-]{0,126}$"_s);
    return pattern.match(type).hasMatch();
}

} // namespace

std::variant<SheetInvocation, QString> BrowserShareRequest::invocation(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return tr("The message from the browser is not valid JSON: %1.").arg(error.errorString());
    if (!document.isObject())
        return tr("The message from the browser is not a JSON object.");
    const QJsonObject message = document.object();

    const QJsonValue kindValue = message.value("kind"_L1);
    if (!kindValue.isString())
        return tr("The message from the browser has no kind.");
    const QString kind = kindValue.toString();
    const QStringList &fields = fieldsOf(kind);
    if (fields.isEmpty())
        return tr("The browser asked for an unknown kind of share: %1.").arg(kind.left(40));
    for (auto it = message.begin(); it != message.end(); ++it) {
        if (!fields.contains(it.key()))
            return tr("The message from the browser has an unknown field: %1.")
                .arg(it.key().left(40));
        if (!it.value().isString())
            return tr("The field %1 of the message from the browser is not a string.")
                .arg(it.key());
    }
    const auto field = [&message](QLatin1StringView name) {
        return message.value(name).toString();
    };

    if (kind == u"page") {
        const QString url = field("url"_L1);
        if (!isWebAddress(url))
            return tr("Only web pages (http or https) can be sent to Zelt.");
        const QJsonObject page{{u"url"_s, url},
                               {u"title"_s, field("title"_L1)},
                               {u"selection"_s, field("selection"_L1)}};
        return SheetInvocation{{u"--page"_s, u"-"_s},
                               QJsonDocument(page).toJson(QJsonDocument::Compact)};
    }

    if (kind == u"link") {
        const QString url = field("url"_L1);
        if (!isWebAddress(url))
            return tr("Only web links (http or https) can be sent to Zelt.");
        return SheetInvocation{{u"--uri-list"_s, u"-"_s}, url.toUtf8() + "\r\n"};
    }

    // An image: its bytes become a data: URI, which the sheet takes as a file of that type.
    const QString type = field("type"_L1).toLower();
    if (!isImageType(type))
        return tr("The image from the browser has no image type.");
    const QByteArray data = field("data"_L1).toLatin1();
    const auto decoded =
        QByteArray::fromBase64Encoding(data, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return tr("The image from the browser is not valid base64 data.");
    if (decoded.decoded.size() > maximumImageSize)
        return tr("The image from the browser is larger than 32 MiB.");
    QByteArray uri = "data:" + type.toLatin1();
    const QString name = field("name"_L1).trimmed();
    if (!name.isEmpty())
        uri += ";name=" + QUrl::toPercentEncoding(name);
    uri += ";base64," + data + "\r\n";
    return SheetInvocation{{u"--uri-list"_s, u"-"_s}, uri};
}
