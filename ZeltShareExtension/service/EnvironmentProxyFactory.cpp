#include "EnvironmentProxyFactory.h"

#include "Logging.h"

#include <QHostAddress>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

QString firstSet(const QProcessEnvironment &environment, std::initializer_list<QString> names)
{
    for (const auto &name : names) {
        const auto value = environment.value(name).trimmed();
        if (!value.isEmpty())
            return value;
    }
    return {};
}

// "host:port", "[v6]:port", "host", "v6": the host, and the port (-1 when none).
std::pair<QString, int> splitHostPort(const QString &entry)
{
    if (entry.startsWith(u'[')) {
        const auto close = entry.indexOf(u']');
        if (close < 0)
            return {entry, -1};
        const auto rest = entry.mid(close + 1);
        bool ok = false;
        const int port = rest.startsWith(u':') ? rest.mid(1).toInt(&ok) : -1;
        return {entry.mid(1, close - 1), ok ? port : -1};
    }
    // More than one colon: an IPv6 address without brackets, which has no port.
    if (entry.count(u':') == 1) {
        const auto colon = entry.indexOf(u':');
        bool ok = false;
        const int port = entry.mid(colon + 1).toInt(&ok);
        if (ok)
            return {entry.left(colon), port};
    }
    return {entry, -1};
}

QString normalisedName(QString name)
{
    name = name.toLower();
    while (name.endsWith(u'.'))
        name.chop(1);
    return name;
}

} // namespace

EnvironmentProxyFactory::EnvironmentProxyFactory(QProcessEnvironment environment)
    : m_environment(std::move(environment))
{}

QList<QNetworkProxy> EnvironmentProxyFactory::queryProxy(const QNetworkProxyQuery &query)
{
    const auto environment = m_environment.value_or(QProcessEnvironment::systemEnvironment());
    QUrl url = query.url();
    if (url.isEmpty()) {
        url.setScheme(query.protocolTag());
        url.setHost(query.peerHostName());
        url.setPort(query.peerPort());
    }
    if (const auto proxy = proxyFor(url, environment))
        return {*proxy};
    return systemProxyForQuery(query);
}

std::optional<QNetworkProxy>
EnvironmentProxyFactory::proxyFor(const QUrl &url, const QProcessEnvironment &environment)
{
    const auto scheme = url.scheme().toLower();
    QString text;
    if (scheme == u"https"_s)
        text = firstSet(environment, {u"https_proxy"_s, u"HTTPS_PROXY"_s});
    else if (scheme == u"http"_s)
        text = firstSet(environment, {u"http_proxy"_s});
    if (text.isEmpty())
        text = firstSet(environment, {u"all_proxy"_s, u"ALL_PROXY"_s});
    if (text.isEmpty())
        return std::nullopt;

    const auto noProxy = firstSet(environment, {u"no_proxy"_s, u"NO_PROXY"_s});
    const int port = url.port(scheme == u"https"_s ? 443 : 80);
    if (!noProxy.isEmpty() && bypasses(noProxy, url.host(), port))
        return QNetworkProxy(QNetworkProxy::NoProxy);

    if (!text.contains(u"://"_s))
        text.prepend(u"http://"_s);
    const QUrl proxyUrl(text, QUrl::StrictMode);
    const auto proxyScheme = proxyUrl.scheme().toLower();
    QNetworkProxy::ProxyType type = QNetworkProxy::HttpProxy;
    if (proxyScheme == u"socks5"_s || proxyScheme == u"socks5h"_s)
        type = QNetworkProxy::Socks5Proxy;
    else if (proxyScheme != u"http"_s)
        type = QNetworkProxy::DefaultProxy;
    if (!proxyUrl.isValid() || proxyUrl.host().isEmpty() || type == QNetworkProxy::DefaultProxy) {
        // Qt speaks plain HTTP and SOCKS 5 to a proxy, nothing else (no TLS to the proxy).
        qCWarning(lcShareExtension, "the proxy setting of the environment is not usable: %s",
                  qUtf8Printable(proxyUrl.adjusted(QUrl::RemoveUserInfo).toDisplayString()));
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }
    // Without a port, the one command-line tools take.
    QNetworkProxy proxy(type, proxyUrl.host(), quint16(proxyUrl.port(1080)),
                        proxyUrl.userName(QUrl::FullyDecoded),
                        proxyUrl.password(QUrl::FullyDecoded));
    // socks5:// resolves names here, socks5h:// leaves them to the proxy.
    if (proxyScheme == u"socks5"_s)
        proxy.setCapabilities(proxy.capabilities() & ~QNetworkProxy::HostNameLookupCapability);
    return proxy;
}

bool EnvironmentProxyFactory::bypasses(const QString &noProxy, const QString &host, int port)
{
    const auto name = normalisedName(host);
    const QHostAddress address(name);
    for (auto entry : noProxy.split(u',', Qt::SkipEmptyParts)) {
        entry = entry.trimmed();
        if (entry.isEmpty())
            continue;
        if (entry == u"*"_s)
            return true;
        if (entry.contains(u'/')) {
            const auto subnet = QHostAddress::parseSubnet(entry);
            if (!address.isNull() && subnet.second >= 0 &&
                address.isInSubnet(subnet.first, subnet.second))
                return true;
            continue;
        }
        const auto [entryHost, entryPort] = splitHostPort(entry);
        if (entryPort >= 0 && entryPort != port)
            continue;
        const QHostAddress entryAddress(entryHost);
        if (!entryAddress.isNull()) {
            if (!address.isNull() && address.isEqual(entryAddress))
                return true;
            continue;
        }
        auto suffix = normalisedName(entryHost);
        while (suffix.startsWith(u'*') || suffix.startsWith(u'.'))
            suffix.remove(0, 1);
        if (suffix.isEmpty())
            continue;
        if (name == suffix || name.endsWith(u'.' + suffix))
            return true;
    }
    return false;
}
