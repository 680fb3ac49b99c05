#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// SIGINT, SIGTERM and SIGHUP turned into a Qt signal on the main thread, so that a terminated
// sheet still removes its temporary directory on the way out.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};
