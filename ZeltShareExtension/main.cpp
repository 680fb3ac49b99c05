#include "service/BundleConfiguration.h"
#include "service/ServiceEnvironment.h"

#include <QCoreApplication>
#include <QNetworkProxyFactory>
#include <QTextStream>

namespace {

const char *sourceName(ServiceOrigin::Source source)
{
    switch (source) {
    case ServiceOrigin::Source::Development:
        return "development";
    case ServiceOrigin::Source::Adopted:
        return "adopted";
    case ServiceOrigin::Source::Production:
        break;
    }
    return "production";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelt-share"));
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    const auto configuration = BundleConfiguration::load(BundleConfiguration::defaultPath());
    const auto environment = ServiceEnvironment::fromBundle(configuration);
    const auto session = environment->sessionStore().loadSession(environment->baseOrigin());

    QTextStream out(stdout);
    out << "Base origin: " << environment->baseOrigin().toString() << " ("
        << sourceName(environment->originSource()) << ")\n"
        << "Shared session: " << (session ? "signed in" : "none (open Zelt and sign in)") << '\n';
    return 0;
}
