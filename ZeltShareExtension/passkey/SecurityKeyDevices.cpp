#include "SecurityKeyDevices.h"

#include <fido.h>

namespace {

// More keys than anyone plugs in at once; the prompt uses the first.
constexpr size_t maximumKeys = 16;

} // namespace

QList<QByteArray> SecurityKeyDevices::paths() const
{
    QList<QByteArray> found;
    fido_dev_info_t *list = fido_dev_info_new(maximumKeys);
    size_t count = 0;
    if (list && fido_dev_info_manifest(list, maximumKeys, &count) == FIDO_OK) {
        for (size_t i = 0; i < count; ++i)
            found.append(QByteArray(fido_dev_info_path(fido_dev_info_ptr(list, i))));
    }
    fido_dev_info_free(&list, maximumKeys);
    return found;
}

bool SecurityKeyDevices::prepare(fido_dev *, const QByteArray &) const
{
    return true;
}

std::shared_ptr<const SecurityKeyDevices> SecurityKeyDevices::pluggedIn()
{
    static const auto devices = std::make_shared<const SecurityKeyDevices>();
    return devices;
}
