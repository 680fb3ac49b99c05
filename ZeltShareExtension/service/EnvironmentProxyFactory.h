#pragma once

#include <QNetworkProxyFactory>
#include <QProcessEnvironment>

#include <optional>

// The proxy of a request, read from the environment the way command-line tools read it:
// https_proxy (or HTTPS_PROXY) for https, http_proxy for http (lower case only: a web server's
// CGI sets HTTP_PROXY from a request header), all_proxy (or ALL_PROXY) for either when its own
// is not set; no_proxy (or NO_PROXY) lists the hosts reached directly. A proxy is an http://
// (the default), socks5:// or socks5h:// URL, its credentials percent-encoded in it. When the
// environment names no proxy at all, the desktop's settings decide (Qt's system configuration).
//
// Qt's own reading of the environment on Linux (through libproxy, or its generic fallback)
// takes the lower-case names only, lets http_proxy serve https, ignores all_proxy for the web,
// does not take "*" or addresses in no_proxy, and drops a proxy URL's missing port to 0.
class EnvironmentProxyFactory : public QNetworkProxyFactory
{
public:
    EnvironmentProxyFactory() = default;
    // Reads the given environment instead of the process's (tests).
    explicit EnvironmentProxyFactory(QProcessEnvironment environment);

    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override;

    // The proxy for url under environment; nothing when the environment names no proxy.
    static std::optional<QNetworkProxy> proxyFor(const QUrl &url,
                                                 const QProcessEnvironment &environment);
    // Whether a no_proxy list sends host (and port) around the proxy.
    static bool bypasses(const QString &noProxy, const QString &host, int port);

private:
    std::optional<QProcessEnvironment> m_environment;
};
