#pragma once

#include "SoftwareCtapDevice.h"
#include "passkey/SecurityKeyDevices.h"

#include <QList>

#include <memory>

// Software keys where the prompt looks for security keys: each listed under a path of its own
// and opened through libfido2's I/O hooks, so that everything from CTAPHID up is libfido2's.
// A key that is unplugged leaves the list.
class SoftwareSecurityKeys : public SecurityKeyDevices
{
public:
    SoftwareSecurityKeys() = default;
    ~SoftwareSecurityKeys() override;

    // Keys are listed in the order they were plugged in.
    void plugIn(std::shared_ptr<SoftwareCtapDevice> device);

    QList<QByteArray> paths() const override;
    bool prepare(fido_dev *device, const QByteArray &path) const override;

private:
    QList<std::pair<QByteArray, std::shared_ptr<SoftwareCtapDevice>>> m_devices;
};
