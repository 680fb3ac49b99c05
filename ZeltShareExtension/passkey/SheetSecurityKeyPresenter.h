#pragma once

#include "SecurityKeyPresenter.h"

// The security-key prompt as state for the sheet's overlay: the overlay shows while active,
// says what to do with the key, asks for the PIN when one is requested, and forwards Cancel.
class SheetSecurityKeyPresenter : public SecurityKeyPresenter
{
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive NOTIFY changed)
    // "insertKey" or "touchKey".
    Q_PROPERTY(QString step READ step NOTIFY changed)
    Q_PROPERTY(bool pinRequested READ isPinRequested NOTIFY changed)
    Q_PROPERTY(bool wrongPin READ wrongPin NOTIFY changed)
    // -1 when the key did not say.
    Q_PROPERTY(int retriesLeft READ retriesLeft NOTIFY changed)

public:
    using SecurityKeyPresenter::SecurityKeyPresenter;

    bool isActive() const { return m_active; }
    QString step() const;
    bool isPinRequested() const { return m_pinRequested; }
    bool wrongPin() const { return m_wrongPin; }
    int retriesLeft() const { return m_retriesLeft; }

    void show(Step step) override;
    QCoro::Task<std::optional<QString>> requestPin(int retriesLeft, bool wrongPin) override;
    void close() override;

    // The overlay's buttons.
    Q_INVOKABLE void submitPin(const QString &pin);
    Q_INVOKABLE void cancel();
    Q_INVOKABLE void openZeltInstead();

Q_SIGNALS:
    void changed();
    // The answer to a PIN request: the PIN, or given false when the user canceled.
    void pinAnswered(bool given, const QString &pin);

private:
    void answerPin(bool given, const QString &pin);

    bool m_active = false;
    Step m_step = Step::InsertKey;
    bool m_pinRequested = false;
    bool m_wrongPin = false;
    int m_retriesLeft = -1;
};
