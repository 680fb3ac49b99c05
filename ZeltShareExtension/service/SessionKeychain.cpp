#include "SessionKeychain.h"

#include "BundleConfiguration.h"
#include "FileSessionKeychain.h"
#include "SecretServiceSessionKeychain.h"

KeychainError::KeychainError(Status status, const QString &message)
    : std::runtime_error(message.toStdString())
    , m_status(status)
{}

std::optional<QByteArray> SessionKeychain::read()
{
    auto found = contents();
    if (found.state != Contents::State::Item)
        return std::nullopt;
    return std::move(found.data);
}

std::unique_ptr<SessionKeychain> SessionKeychain::create(const BundleConfiguration &configuration)
{
    const auto accessGroup = configuration.keychainAccessGroup();
    if (!accessGroup)
        return nullptr;
    switch (configuration.keychainBackend()) {
    case BundleConfiguration::KeychainBackend::File:
        return std::make_unique<FileSessionKeychain>(FileSessionKeychain::defaultDirectory(),
                                                     *accessGroup);
    case BundleConfiguration::KeychainBackend::SecretService:
        break;
    }
    return std::make_unique<SecretServiceSessionKeychain>(*accessGroup);
}
