#include "SheetPrefix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {

void writeJson(const QString &path, const QJsonObject &object)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(object).toJson());
}

} // namespace

SheetPrefix::SheetPrefix(DevServiceFixture &service)
    : InstalledShare(service)
{
    addHelper(u"zelt-share-browser-host"_s);
    QDir().mkpath(path(u"home"_s));
    environment().insert(u"HOME"_s, path(u"home"_s));
    environment().remove(u"DISPLAY"_s);
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
