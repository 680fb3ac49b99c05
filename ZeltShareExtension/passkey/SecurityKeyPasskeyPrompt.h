#pragma once

#include "SecurityKeyDevices.h"
#include "SecurityKeyPresenter.h"
#include "SudoPasskeyPrompt.h"

#include <QPointer>

#include <memory>

// The step-up prompt for security keys over USB or NFC (libfido2). Linux has no platform
// authenticator, so every credential it returns is "cross-platform".
class SecurityKeyPasskeyPrompt final : public SudoPasskeyPrompt
{
public:
    // devices: where the keys come from; the keys plugged in unless told otherwise.
    explicit SecurityKeyPasskeyPrompt(
        SecurityKeyPresenter *presenter,
        std::shared_ptr<const SecurityKeyDevices> devices = SecurityKeyDevices::pluggedIn());

    // The authenticator data inside libfido2's CBOR byte string; empty when it is not one.
    static QByteArray unwrapByteString(const QByteArray &cbor);

protected:
    QCoro::Task<Credential> requestAssertion(SudoPasskey::AssertionParameters parameters) override;

private:
    QPointer<SecurityKeyPresenter> m_presenter;
    std::shared_ptr<const SecurityKeyDevices> m_devices;
};
