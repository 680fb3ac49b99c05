#pragma once

#include "service/BundleConfiguration.h"

#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QTextStream>

#include <optional>

// `zelt-devservice watch`: stands in for the running main application on the session bus.
// It owns the name app.zelt.Zelt and prints every call made to it (the controls'
// org.freedesktop.Application.ActivateAction among them), every shared-state signal, and after
// each signal what changed in the shared state: the passkey hand-off timestamp in the suite
// and the session item (by fingerprint, never by value).
class MainAppWatcher : public QDBusVirtualObject
{
    Q_OBJECT

public:
    MainAppWatcher(BundleConfiguration configuration, QTextStream &out);

    static int run(const QStringList &arguments);

    // Takes the name, the object paths and the signal. False with the reason in error.
    bool start(QString *error);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private Q_SLOTS:
    void onSharedStateChanged(const QDBusMessage &message);

private:
    void print(const QString &line);
    void reportSharedState(bool always);

    BundleConfiguration m_configuration;
    QTextStream &m_out;
    std::optional<double> m_passkeyRequestedAt;
    QByteArray m_sessionFingerprint;
};
