#include "UserDefaults.h"

#include "AppIdentifiers.h"
#include "BundleConfiguration.h"

#include <QStandardPaths>

using namespace Qt::StringLiterals;

QString UserDefaults::fileName(const QString &directoryName)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' +
           directoryName + u"/defaults.ini"_s;
}

std::unique_ptr<QSettings> UserDefaults::standard()
{
    return std::make_unique<QSettings>(fileName(AppIdentifiers::extensionIdentifier),
                                       QSettings::IniFormat);
}

std::unique_ptr<QSettings> UserDefaults::suite(const QString &suiteName)
{
    if (suiteName.isEmpty() || suiteName == u"."_s || suiteName == u".."_s ||
        suiteName.contains(u'/') || suiteName.contains(QChar(0)) ||
        suiteName == AppIdentifiers::extensionIdentifier)
        return nullptr;
    return std::make_unique<QSettings>(fileName(suiteName), QSettings::IniFormat);
}

std::unique_ptr<QSettings> UserDefaults::shared(const BundleConfiguration &configuration)
{
    if (const auto group = configuration.appGroupIdentifier()) {
        if (auto store = suite(*group))
            return store;
    }
    return standard();
}
