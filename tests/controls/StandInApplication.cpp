#include "StandInApplication.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using namespace Qt::StringLiterals;

StandInApplication::StandInApplication(QString recordPath, QObject *parent)
    : QObject(parent)
    , m_recordPath(std::move(recordPath))
{}

void StandInApplication::Activate(const QVariantMap &platformData)
{
    record(u"Activate"_s, {}, {}, platformData);
}

void StandInApplication::Open(const QStringList &uris, const QVariantMap &platformData)
{
    record(u"Open"_s, uris.join(u' '), {}, platformData);
}

void StandInApplication::ActivateAction(const QString &actionName, const QVariantList &parameter,
                                        const QVariantMap &platformData)
{
    record(u"ActivateAction"_s, actionName, parameter, platformData);
}

void StandInApplication::record(const QString &method, const QString &action,
                                const QVariantList &parameter, const QVariantMap &platformData)
{
    const QJsonObject line{
        {u"method"_s, method},
        {u"action"_s, action},
        {u"parameters"_s, int(parameter.size())},
        {u"platformData"_s, QJsonObject::fromVariantMap(platformData)},
    };
    QFile file(m_recordPath);
    if (!file.open(QIODevice::Append) ||
        file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n') < 0 ||
        !file.flush()) {
        std::fprintf(stderr, "stand-in: cannot write the record file\n");
    }
    Q_EMIT called();
}
