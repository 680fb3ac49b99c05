#pragma once

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <optional>

// What the security-key prompt shows over the sheet: a request to insert or touch the key, a
// PIN field, and Cancel. The sheet's overlay implements it; without a window there is none and
// the step-up is handed to the main application instead.
class SecurityKeyPresenter : public QObject
{
    Q_OBJECT

public:
    enum class Step { InsertKey, TouchKey };

    using QObject::QObject;

    virtual void show(Step step) = 0;
    // The PIN the user typed, or none when they canceled. retriesLeft is -1 when unknown;
    // wrongPin is true when the previous PIN was refused.
    virtual QCoro::Task<std::optional<QString>> requestPin(int retriesLeft, bool wrongPin) = 0;
    virtual void close() = 0;

Q_SIGNALS:
    // The user pressed Cancel.
    void cancelRequested();
    // The user's passkey is not on a security key (a phone, a password manager): the step goes
    // to the main application, as when no key can do it.
    void handOffRequested();
};
