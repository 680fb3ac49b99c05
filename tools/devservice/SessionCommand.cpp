#include "SessionCommand.h"

#include "DevCommandLine.h"
#include "service/FileSessionKeychain.h"
#include "service/SessionKeychain.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// A cookie as the Cookie header can carry it: a token name and a value without separators.
std::optional<NativeSharedSessionCookie> parseCookie(const QString &text)
{
    static const QRegularExpression name(u"^[!#$%&'*+.^_`|~0-9A-Za-z-]+$"_s);
    static const QRegularExpression value(
        u"^[\\x21\\x23-\\x2B\\x2D-\\x3A\\x3C-\\x5B\\x5D-\\x7E]*$"_s);
    const auto equals = text.indexOf(u'=');
    if (equals <= 0)
        return std::nullopt;
    NativeSharedSessionCookie cookie{text.left(equals), text.mid(equals + 1)};
    if (!name.match(cookie.name).hasMatch() || !value.match(cookie.value).hasMatch())
        return std::nullopt;
    return cookie;
}

int writeCommand(const QCommandLineParser &parser, const BundleConfiguration &configuration)
{
    NativeSharedSession session;
    session.baseOrigin = parser.value(u"origin"_s);
    const QUrl origin(session.baseOrigin, QUrl::StrictMode);
    if (!origin.isValid() || origin.scheme().isEmpty() || origin.host().isEmpty()) {
        DevCommandLine::error(u"--origin must be an origin such as https://localhost:8443"_s);
        return 2;
    }
    const auto main = parseCookie(parser.value(u"cookie"_s));
    if (!main) {
        DevCommandLine::error(u"--cookie must be NAME=VALUE with a cookie name and value"_s);
        return 2;
    }
    session.cookieName = main->name;
    session.cookieValue = main->value;
    for (const auto &text : parser.values(u"additional"_s)) {
        const auto cookie = parseCookie(text);
        if (!cookie) {
            DevCommandLine::error(
                u"--additional must be NAME=VALUE with a cookie name and value"_s);
            return 2;
        }
        if (!session.additionalCookies)
            session.additionalCookies.emplace();
        session.additionalCookies->append(*cookie);
    }
    if (parser.isSet(u"store-id"_s))
        session.storeID = parser.value(u"store-id"_s);
    if (parser.isSet(u"user-id"_s))
        session.userID = parser.value(u"user-id"_s);
    try {
        if (!SessionCommand::write(configuration, session)) {
            DevCommandLine::error(u"the bundle configuration names no ZeltKeychainAccessGroup"_s);
            return 1;
        }
    } catch (const std::exception &e) {
        DevCommandLine::error(QString::fromLocal8Bit(e.what()));
        return 1;
    }
    std::printf("Stored the session for %s in the %s.\n", qUtf8Printable(session.baseOrigin),
                qUtf8Printable(DevCommandLine::keychainDescription(configuration)));
    return 0;
}

int showCommand(const QCommandLineParser &parser, const BundleConfiguration &configuration)
{
    const auto keychain = SessionKeychain::create(configuration);
    if (!keychain) {
        DevCommandLine::error(u"the bundle configuration names no ZeltKeychainAccessGroup"_s);
        return 1;
    }
    const auto data = keychain->read();
    if (!data) {
        std::printf("No session is stored in the %s.\n",
                    qUtf8Printable(DevCommandLine::keychainDescription(configuration)));
        return 1;
    }
    if (parser.isSet(u"json"_s)) {
        std::printf("%s\n", data->constData());
        return 0;
    }
    const auto session = NativeSharedSession::fromJson(*data);
    if (!session) {
        std::printf("The item in the %s does not hold a session.\n",
                    qUtf8Printable(DevCommandLine::keychainDescription(configuration)));
        return 1;
    }
    QStringList additional;
    for (const auto &cookie :
         session->additionalCookies.value_or(QList<NativeSharedSessionCookie>()))
        additional.append(cookie.name);
    // Cookie values stay hidden unless --json asks for the item as it is.
    std::printf(
        "Keychain: %s\n"
        "Origin: %s\n"
        "Cookie: %s (value of %lld characters)\n"
        "Additional cookies: %s\n"
        "Store ID: %s\n"
        "User ID: %s\n"
        "Superseded values: %lld\n"
        "Fingerprint: %s\n",
        qUtf8Printable(DevCommandLine::keychainDescription(configuration)),
        qUtf8Printable(session->baseOrigin), qUtf8Printable(session->cookieName),
        static_cast<long long>(session->cookieValue.size()),
        additional.isEmpty() ? "none" : qUtf8Printable(additional.join(u", "_s)),
        qUtf8Printable(session->storeID.value_or(u"none"_s)),
        qUtf8Printable(session->userID.value_or(u"none"_s)),
        static_cast<long long>(session->supersededCookieValues.value_or(QStringList()).size()),
        session->fingerprint().toHex().constData());
    return 0;
}

int deleteCommand(const BundleConfiguration &configuration)
{
    const auto keychain = SessionKeychain::create(configuration);
    if (!keychain) {
        DevCommandLine::error(u"the bundle configuration names no ZeltKeychainAccessGroup"_s);
        return 1;
    }
    keychain->remove();
    std::printf("Deleted the session from the %s.\n",
                qUtf8Printable(DevCommandLine::keychainDescription(configuration)));
    return 0;
}

} // namespace

bool SessionCommand::write(const BundleConfiguration &configuration,
                           const NativeSharedSession &session)
{
    const auto keychain = SessionKeychain::create(configuration);
    if (!keychain)
        return false;
    // The file store makes its own directories but not $XDG_DATA_HOME, which a fresh account
    // may not have yet; the main application is the first to write there.
    if (configuration.keychainBackend() == BundleConfiguration::KeychainBackend::File)
        QDir().mkpath(QFileInfo(FileSessionKeychain::defaultDirectory()).absolutePath());
    keychain->store(session.fingerprint(), session.toJson());
    return true;
}

int SessionCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"The main application's side of the shared session item.\n"
        u"  session write --origin URL --cookie NAME=VALUE [--additional NAME=VALUE]... "
        u"[--store-id ID] [--user-id ID]\n"
        u"  session show [--json]\n"
        u"  session delete"_s);
    parser.addPositionalArgument(u"action"_s, u"write, show or delete"_s);
    parser.addOptions({
        {u"origin"_s, u"write: the service origin of the session."_s, u"url"_s},
        {u"cookie"_s, u"write: the session cookie."_s, u"name=value"_s},
        {u"additional"_s, u"write: a further cookie (repeatable)."_s, u"name=value"_s},
        {u"store-id"_s, u"write: the store ID."_s, u"id"_s},
        {u"user-id"_s, u"write: the user ID."_s, u"id"_s},
        {u"json"_s, u"show: print the item's data as stored, cookie values included."_s},
    });
    DevCommandLine::addBundleOption(parser);
    if (!DevCommandLine::parse(parser, arguments))
        return 2;
    const auto positional = parser.positionalArguments();
    const auto action = positional.value(0);
    const auto configuration = DevCommandLine::bundle(parser);
    if (positional.size() == 1 && action == u"write"_s) {
        if (!parser.isSet(u"origin"_s) || !parser.isSet(u"cookie"_s)) {
            DevCommandLine::error(u"session write needs --origin and --cookie"_s);
            return 2;
        }
        return writeCommand(parser, configuration);
    }
    if (positional.size() == 1 && action == u"show"_s)
        return showCommand(parser, configuration);
    if (positional.size() == 1 && action == u"delete"_s)
        return deleteCommand(configuration);
    DevCommandLine::error(u"session needs one of write, show or delete"_s);
    return 2;
}
