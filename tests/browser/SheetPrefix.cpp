#include "SheetPrefix.h"

#include "DevServiceFixture.h"
#include "service/FileSessionKeychain.h"
#include "service/NativeSharedSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A hard link keeps the program's own path, by which it finds its configuration and the sheet.
void linkProgram(const QString &from, const QString &to)
{
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        QFile::copy(from, to);
}

void writeJson(const QString &path, const QJsonObject &object)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(object).toJson());
}

} // namespace

SheetPrefix::SheetPrefix(DevServiceFixture &service)
    : m_service(service)
    , m_prefix(QCoreApplication::applicationDirPath() + u"/browser-share-XXXXXX"_s)
{
    const QString build = QCoreApplication::applicationDirPath() + u"/.."_s;
    for (const auto &name : {u"bin"_s, u"libexec"_s, u"share/zelt"_s, u"lib"_s})
        QDir().mkpath(path(name));
    QFile::link(build + u"/lib/zelt"_s, path(u"lib/zelt"_s));
    linkProgram(build + u"/bin/zelt-share"_s, path(u"bin/zelt-share"_s));
    linkProgram(build + u"/libexec/zelt-share-browser-host"_s, hostProgram());

    QFile ca(path(u"ca.pem"_s));
    if (ca.open(QIODevice::WriteOnly)) {
        for (const auto &certificate : service.ssl().caCertificates())
            ca.write(certificate.toPem());
        ca.close();
    }
    writeJson(path(u"share/zelt/ZeltShareExtension.json"_s),
              {{u"ZeltAppGroupIdentifier"_s, u"app.zelt.shared"_s},
               {u"ZeltKeychainAccessGroup"_s, u"app.zelt.shared"_s},
               {u"ZeltKeychainBackend"_s, u"file"_s},
               {u"ZeltOrbBuildThreadID"_s, u"dev"_s},
               {u"ZeltDevBaseOrigin"_s, service.origin()},
               {u"ZeltDevCertificateAuthorities"_s, ca.fileName()}});

    for (const auto &name : {u"data"_s, u"config"_s, u"cache"_s, u"runtime"_s, u"home"_s})
        QDir().mkpath(path(name));
    QFile::setPermissions(path(u"runtime"_s),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(u"HOME"_s, path(u"home"_s));
    m_environment.insert(u"XDG_DATA_HOME"_s, path(u"data"_s));
    m_environment.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
    m_environment.insert(u"XDG_CACHE_HOME"_s, path(u"cache"_s));
    m_environment.insert(u"XDG_RUNTIME_DIR"_s, path(u"runtime"_s));
    // No bus but none: nothing reaches the desktop of whoever runs the tests.
    m_environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=/nonexistent"_s);
    m_environment.remove(u"WAYLAND_DISPLAY"_s);
    m_environment.remove(u"DISPLAY"_s);

    NativeSharedSession session;
    session.baseOrigin = service.origin();
    session.cookieName = u"zelt_session"_s;
    session.cookieValue = QString::fromLatin1(service.signIn());
    FileSessionKeychain keychain(path(u"data/app.zelt.keychain"_s), u"app.zelt.shared"_s);
    keychain.store(session.fingerprint(), session.toJson());
}

QList<QJsonObject> SheetPrefix::storedShares() const
{
    QList<QJsonObject> shares;
    const QDir directory(m_service.service().sharesDirectory());
    for (const auto &name : directory.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile record(directory.filePath(name + u"/share.json"_s));
        if (record.open(QIODevice::ReadOnly))
            shares.append(QJsonDocument::fromJson(record.readAll()).object());
    }
    return shares;
}

void SheetPrefix::addManifests(const QString &home, const QString &chromiumUserData,
                               const QString &chromiumExtensionId, const QString &geckoId) const
{
    const QJsonObject common{{u"name"_s, u"app.zelt.share"_s},
                             {u"description"_s, u"Zelt Share"_s},
                             {u"path"_s, hostProgram()},
                             {u"type"_s, u"stdio"_s}};
    QJsonObject firefox = common;
    firefox.insert(u"allowed_extensions"_s, QJsonArray{geckoId});
    writeJson(home + u"/.mozilla/native-messaging-hosts/app.zelt.share.json"_s, firefox);
    QJsonObject chromium = common;
    chromium.insert(u"allowed_origins"_s,
                    QJsonArray{u"chrome-extension://"_s + chromiumExtensionId + u'/'});
    writeJson(chromiumUserData + u"/NativeMessagingHosts/app.zelt.share.json"_s, chromium);
}
