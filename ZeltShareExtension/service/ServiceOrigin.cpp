#include "ServiceOrigin.h"

#include "AppIdentifiers.h"
#include "BundleConfiguration.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {

// Parsed by RFC 3986 rules; a text QUrl cannot parse strictly does not count.
std::optional<QUrl> parse(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

bool hasOnlyOriginParts(const QUrl &url)
{
    // userInfo, not userName and password: "https://:@host" has credentials, both empty.
    return url.userInfo().isEmpty() && !url.hasQuery() && !url.hasFragment() &&
           (url.path().isEmpty() || url.path() == u"/"_s);
}

} // namespace

QUrl ServiceOrigin::productionOrigin()
{
    return QUrl(AppIdentifiers::productionOrigin);
}

std::optional<QUrl> ServiceOrigin::acceptedDevelopmentOrigin(const QString &text)
{
    // The scheme must be written exactly "https"; the parser lower-cases it, so look at the text.
    if (!text.startsWith(u"https:"_s))
        return std::nullopt;
    const auto url = parse(text);
    if (!url || url->host().isEmpty() || !hasOnlyOriginParts(*url))
        return std::nullopt;
    return url;
}

std::optional<QUrl> ServiceOrigin::acceptedAdoptedOrigin(const QString &text)
{
    const auto url = parse(text);
    if (!url || url->scheme().toLower() != u"https"_s || url->host().isEmpty() ||
        !hasOnlyOriginParts(*url) || url->port() != -1 || !isAllowedHost(url->host().toLower()))
        return std::nullopt;
    return url;
}

bool ServiceOrigin::isAllowedHost(const QString &host)
{
    if (host == productionOrigin().host().toLower())
        return true;
    static const QRegularExpression label(QStringLiteral("^[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?$"));
    for (const auto suffix : AppIdentifiers::allowedHostSuffixes) {
        if (host.endsWith(suffix))
            return label.match(host.chopped(suffix.size())).hasMatch();
    }
    return false;
}

ServiceOrigin ServiceOrigin::resolve(const BundleConfiguration &configuration,
                                     QSettings &sharedDefaults)
{
    if (configuration.orbBuildThreadID()) {
        if (const auto text = configuration.devBaseOrigin()) {
            if (const auto url = acceptedDevelopmentOrigin(*text))
                return {*url, Source::Development};
        }
    }
    const auto adopted = sharedDefaults.value(AppIdentifiers::adoptedBaseOriginKey);
    if (adopted.typeId() == QMetaType::QString) {
        if (const auto url = acceptedAdoptedOrigin(adopted.toString()))
            return {*url, Source::Adopted};
    }
    return {productionOrigin(), Source::Production};
}

bool ServiceOrigin::isSameOrigin(const QUrl &a, const QUrl &b)
{
    const auto same = [](const QString &x, const QString &y) {
        return x.isEmpty() == y.isEmpty() && x.compare(y, Qt::CaseInsensitive) == 0;
    };
    return same(a.scheme(), b.scheme()) && same(a.host(), b.host()) && a.port() == b.port();
}

std::optional<QString> ServiceOrigin::originHeaderValue(const QUrl &url)
{
    if (url.scheme().isEmpty() || url.host().isEmpty())
        return std::nullopt;
    QString host = url.host(QUrl::FullyEncoded);
    if (host.contains(u':'))
        host = u'[' + host + u']';
    QString value = url.scheme() + u"://"_s + host;
    if (url.port() != -1)
        value += u':' + QString::number(url.port());
    return value;
}
