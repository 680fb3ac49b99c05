#pragma once

#include <QObject>

// Counts the shared-state signals on the session bus. count() first sends a marker signal and
// waits for it to come back: signals from one sender arrive in order, so every signal sent
// before the call has been counted by then.
class SharedStateSignalCounter : public QObject
{
    Q_OBJECT

public:
    explicit SharedStateSignalCounter(QObject *parent = nullptr);

    // False without a session bus.
    bool isListening() const { return m_listening; }
    // -1 when the marker did not come back.
    int count();

public Q_SLOTS:
    void onSharedStateChanged() { ++m_signals; }
    void onMarker() { m_markerSeen = true; }

private:
    bool m_listening = false;
    int m_signals = 0;
    bool m_markerSeen = false;
};
