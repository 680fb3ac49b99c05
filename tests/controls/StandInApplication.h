#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

// A stand-in for the Zelt desktop application: it serves org.freedesktop.Application and
// appends one JSON line per call to a record file, before it answers.
class StandInApplication : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit StandInApplication(QString recordPath, QObject *parent = nullptr);

Q_SIGNALS:
    void called();

public Q_SLOTS:
    void Activate(const QVariantMap &platformData);
    void Open(const QStringList &uris, const QVariantMap &platformData);
    void ActivateAction(const QString &actionName, const QVariantList &parameter,
                        const QVariantMap &platformData);

private:
    void record(const QString &method, const QString &action, const QVariantList &parameter,
                const QVariantMap &platformData);

    QString m_recordPath;
};
