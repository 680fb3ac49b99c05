#pragma once

#include <QByteArray>
#include <QList>

#include <memory>

struct fido_dev;

// Where the security-key prompt finds its keys: the keys plugged in, as libfido2 lists them, or
// keys that bring a transport of their own.
class SecurityKeyDevices
{
public:
    virtual ~SecurityKeyDevices() = default;

    // The keys present, in the order libfido2 found them.
    virtual QList<QByteArray> paths() const;
    // Readies a new device before it is opened at path. The keys plugged in need nothing; a key
    // with its own transport sets it here. False when path is no longer there.
    virtual bool prepare(fido_dev *device, const QByteArray &path) const;

    // The keys plugged in over USB (hidraw), found anew on every call.
    static std::shared_ptr<const SecurityKeyDevices> pluggedIn();
};
