// The origin rules: the configured development origin, the origin the main application
// adopted, the allowed hosts, same-origin comparison and the Origin header.
//
// Input: two texts separated by the first newline.

#include "FuzzSupport.h"
#include "service/ServiceOrigin.h"

using namespace Qt::StringLiterals;

namespace {

bool hasOnlyOriginParts(const QUrl &url)
{
    return url.userInfo().isEmpty() && !url.hasQuery() && !url.hasFragment() &&
           (url.path().isEmpty() || url.path() == u"/"_s);
}

void origins(const QString &text)
{
    if (const auto development = ServiceOrigin::acceptedDevelopmentOrigin(text)) {
        Fuzz::check(development->scheme() == u"https"_s && !development->host().isEmpty(),
                    "a development origin is https with a host");
        Fuzz::check(hasOnlyOriginParts(*development), "a development origin is an origin only");
        Fuzz::check(ServiceOrigin::originHeaderValue(*development).has_value(),
                    "a development origin has an Origin header");
    }
    if (const auto adopted = ServiceOrigin::acceptedAdoptedOrigin(text)) {
        Fuzz::check(adopted->scheme() == u"https"_s && adopted->port() == -1,
                    "an adopted origin is https on its default port");
        Fuzz::check(hasOnlyOriginParts(*adopted), "an adopted origin is an origin only");
        Fuzz::check(ServiceOrigin::isAllowedHost(adopted->host().toLower()),
                    "an adopted origin has an allowed host");
        const auto header = ServiceOrigin::originHeaderValue(*adopted);
        Fuzz::check(header.has_value(), "an adopted origin has an Origin header");
        const auto again = ServiceOrigin::acceptedAdoptedOrigin(*header);
        Fuzz::check(again && ServiceOrigin::isSameOrigin(*again, *adopted),
                    "the Origin header of an adopted origin is accepted as the same origin");
    }
    const QString host = text.toLower();
    if (ServiceOrigin::isAllowedHost(host)) {
        Fuzz::check(!host.contains(u'/') && !host.contains(u':') && !host.contains(u'@'),
                    "an allowed host is a host name only");
        Fuzz::check(host == u"zelt.app"_s || host.endsWith(u".zelt.app"_s) ||
                        host.endsWith(u".zelt.team"_s),
                    "an allowed host is the service's");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = Fuzz::utf8(data, size);
    const auto newline = input.indexOf(u'\n');
    const QString first = newline < 0 ? input : input.left(newline);
    const QString second = newline < 0 ? QString() : input.mid(newline + 1);
    origins(first);
    origins(second);

    const QUrl a(first);
    const QUrl b(second);
    Fuzz::check(ServiceOrigin::isSameOrigin(a, b) == ServiceOrigin::isSameOrigin(b, a),
                "same origin is symmetric");
    Fuzz::check(ServiceOrigin::isSameOrigin(a, a), "a URL has its own origin");
    if (const auto header = ServiceOrigin::originHeaderValue(a)) {
        Fuzz::check(!header->contains(u'\r') && !header->contains(u'\n'),
                    "an Origin header is one line");
        const auto authority = header->indexOf(u"://"_s);
        Fuzz::check(authority > 0 && header->indexOf(u'/', authority + 3) < 0,
                    "an Origin header is scheme://authority without a path");
    }
    return 0;
}
