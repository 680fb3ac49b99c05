#include "SoftwareSecurityKeys.h"

#include <QHash>

#include <fido.h>
#include <mutex>

namespace {

// libfido2 opens a device by its path alone, so the keys are found through this table.
std::mutex registryMutex;
QHash<QByteArray, std::weak_ptr<SoftwareCtapDevice>> registry;
int nextNumber = 0;

// The handle libfido2 keeps while the device is open: the key stays alive with it.
using Connection = std::shared_ptr<SoftwareCtapDevice>;

void *openDevice(const char *path)
{
    std::lock_guard lock(registryMutex);
    const auto device = registry.value(QByteArray(path)).lock();
    if (!device || !device->isPluggedIn())
        return nullptr;
    return new Connection(device);
}

void closeDevice(void *handle)
{
    delete static_cast<Connection *>(handle);
}

int readDevice(void *handle, unsigned char *buffer, size_t length, int milliseconds)
{
    return (*static_cast<Connection *>(handle))->read(buffer, length, milliseconds);
}

int writeDevice(void *handle, const unsigned char *data, size_t length)
{
    return (*static_cast<Connection *>(handle))->write(data, length);
}

const fido_dev_io_t softwareIO = {openDevice, closeDevice, readDevice, writeDevice};

} // namespace

SoftwareSecurityKeys::~SoftwareSecurityKeys()
{
    std::lock_guard lock(registryMutex);
    for (const auto &[path, device] : m_devices)
        registry.remove(path);
}

void SoftwareSecurityKeys::plugIn(std::shared_ptr<SoftwareCtapDevice> device)
{
    std::lock_guard lock(registryMutex);
    const QByteArray path = "software-ctap:" + QByteArray::number(nextNumber++);
    registry.insert(path, device);
    m_devices.append({path, std::move(device)});
}

QList<QByteArray> SoftwareSecurityKeys::paths() const
{
    QList<QByteArray> paths;
    for (const auto &[path, device] : m_devices) {
        if (device->isPluggedIn())
            paths.append(path);
    }
    return paths;
}

bool SoftwareSecurityKeys::prepare(fido_dev *device, const QByteArray &path) const
{
    for (const auto &[known, key] : m_devices) {
        if (known == path)
            return fido_dev_set_io_functions(device, &softwareIO) == FIDO_OK;
    }
    return false;
}
