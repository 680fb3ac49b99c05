#pragma once

#include "DevServiceFixture.h"
#include "service/FileSessionKeychain.h"
#include "service/NativeSharedSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

using namespace Qt::StringLiterals;

// zelt-share as installed against a development service of the test's own: the program is
// linked into a prefix whose bundle configuration names the service, and the process gets its
// own XDG directories with the session the main application would have left.
class InstalledShare
{
public:
    // With a bus address the session lives in the desktop keyring reached over that bus (when
    // there is one), else in the file store and the process has no bus.
    explicit InstalledShare(DevServiceFixture &service, const QString &busAddress = {})
        : m_service(service)
        , m_prefix(QCoreApplication::applicationDirPath() + u"/zelt-share-XXXXXX"_s)
    {
        QDir().mkpath(path(u"bin"_s));
        QDir().mkpath(path(u"share/zelt"_s));
        QDir().mkpath(path(u"lib"_s));
        QFile::link(QCoreApplication::applicationDirPath() + u"/../lib/zelt"_s,
                    path(u"lib/zelt"_s));
        linkProgram(QCoreApplication::applicationDirPath() + u"/zelt-share"_s,
                    path(u"bin/zelt-share"_s));
        QFile ca(path(u"ca.pem"_s));
        ca.open(QIODevice::WriteOnly);
        for (const auto &certificate : service.ssl().caCertificates())
            ca.write(certificate.toPem());
        ca.close();
        const QJsonObject bundle{
            {u"ZeltAppGroupIdentifier"_s, u"app.zelt.shared"_s},
            {u"ZeltKeychainAccessGroup"_s, u"app.zelt.shared"_s},
            {u"ZeltKeychainBackend"_s, busAddress.isEmpty() ? u"file"_s : u"secret-service"_s},
            {u"ZeltOrbBuildThreadID"_s, u"dev"_s},
            {u"ZeltDevBaseOrigin"_s, service.origin()},
            {u"ZeltDevCertificateAuthorities"_s, ca.fileName()}};
        QFile configuration(path(u"share/zelt/ZeltShareExtension.json"_s));
        configuration.open(QIODevice::WriteOnly);
        configuration.write(QJsonDocument(bundle).toJson());
        configuration.close();

        for (const auto &name : {u"data"_s, u"config"_s, u"cache"_s, u"runtime"_s})
            QDir().mkpath(path(name));
        QFile::setPermissions(path(u"runtime"_s),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(u"XDG_DATA_HOME"_s, path(u"data"_s));
        m_environment.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
        m_environment.insert(u"XDG_CACHE_HOME"_s, path(u"cache"_s));
        m_environment.insert(u"XDG_RUNTIME_DIR"_s, path(u"runtime"_s));
        // No bus but the test's own: nothing reaches the desktop of whoever runs the tests.
        m_environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s,
                             busAddress.isEmpty() ? u"unix:path=/nonexistent"_s : busAddress);
        m_environment.remove(u"WAYLAND_DISPLAY"_s);

        const auto cookie = service.signIn();
        if (busAddress.isEmpty()) {
            NativeSharedSession session;
            session.baseOrigin = service.origin();
            session.cookieName = u"zelt_session"_s;
            session.cookieValue = QString::fromLatin1(cookie);
            FileSessionKeychain keychain(path(u"data/app.zelt.keychain"_s), u"app.zelt.shared"_s);
            keychain.store(session.fingerprint(), session.toJson());
            return;
        }
        // Stored as the main application does; fails where there is no keyring.
        QProcess write;
        write.setProcessEnvironment(m_environment);
        write.start(QCoreApplication::applicationDirPath() + u"/zelt-devservice"_s,
                    {u"session"_s, u"write"_s, u"--bundle"_s, configuration.fileName(),
                     u"--origin"_s, service.origin(), u"--cookie"_s,
                     u"zelt_session="_s + QString::fromLatin1(cookie)});
        write.waitForFinished(60000);
    }

    QString path(const QString &name) const { return m_prefix.filePath(name); }

    // A helper program of the build (libexec/NAME) in the prefix, where it starts the prefix's
    // sheet: its path.
    QString addHelper(const QString &name) const
    {
        QDir().mkpath(path(u"libexec"_s));
        const QString helper = path(u"libexec/"_s + name);
        linkProgram(QCoreApplication::applicationDirPath() + u"/../libexec/"_s + name, helper);
        return helper;
    }

    // A file in the prefix with these contents: its path, or nothing when it was not written.
    QString writeFile(const QString &name, const QByteArray &contents) const
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            return {};
        return file.fileName();
    }
    QProcessEnvironment &environment() { return m_environment; }

    // Its output is kept for the test to show when something goes wrong.
    void start(QProcess &process, const QStringList &arguments,
               QProcess::ProcessChannelMode channels = QProcess::MergedChannels)
    {
        process.setProcessEnvironment(m_environment);
        process.setProcessChannelMode(channels);
        process.start(path(u"bin/zelt-share"_s), arguments);
    }

    // The sheets' temporary directories that still exist.
    QStringList temporaryDirectories() const
    {
        return QDir(path(u"cache/app.zelt.ZeltShareExtension"_s))
            .entryList({u"ZeltShare-*"_s}, QDir::Dirs);
    }

    // The shares the service stored, in no particular order.
    QList<QJsonObject> storedShares() const
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

    // The one stored share.
    QJsonObject storedShare() const
    {
        const auto shares = storedShares();
        return shares.size() == 1 ? shares.first() : QJsonObject();
    }

private:
    // A hard link keeps the program's own path, by which it finds its configuration and the
    // sheet.
    static void linkProgram(const QString &from, const QString &to)
    {
        if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
            QFile::copy(from, to);
    }

    DevServiceFixture &m_service;
    QTemporaryDir m_prefix;
    QProcessEnvironment m_environment;
};
