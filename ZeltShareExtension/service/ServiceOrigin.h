#pragma once

#include <QSettings>
#include <QString>
#include <QUrl>

#include <optional>

class BundleConfiguration;

// Which service origin the extension talks to, and the origin comparisons of the requests.
class ServiceOrigin
{
public:
    enum class Source { Development, Adopted, Production };

    // Resolved once per share sheet: the development origin (only with ZeltOrbBuildThreadID),
    // else the origin the main application adopted, else production. Never fails.
    static ServiceOrigin resolve(const BundleConfiguration &configuration,
                                 QSettings &sharedDefaults);

    static QUrl productionOrigin();
    static std::optional<QUrl> acceptedDevelopmentOrigin(const QString &text);
    static std::optional<QUrl> acceptedAdoptedOrigin(const QString &text);
    // host must already be lower-cased.
    static bool isAllowedHost(const QString &host);

    // Scheme, host (both case-insensitive) and port; an explicit default port differs from none.
    static bool isSameOrigin(const QUrl &a, const QUrl &b);
    // "scheme://host[:port]" as the URL gives them, or none without scheme or host.
    static std::optional<QString> originHeaderValue(const QUrl &url);

    QUrl url;
    Source source = Source::Production;
};
