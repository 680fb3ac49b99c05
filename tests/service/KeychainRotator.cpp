#include "KeychainRotator.h"

#include "service/FileSessionKeychain.h"
#include "service/NativeSharedSession.h"
#include "service/SecretServiceSessionKeychain.h"

using namespace Qt::StringLiterals;

std::unique_ptr<SessionKeychain>
KeychainRotator::open(const QString &backend, const QString &directory, const QString &accessGroup)
{
    if (backend == u"file")
        return std::make_unique<FileSessionKeychain>(directory, accessGroup);
    return std::make_unique<SecretServiceSessionKeychain>(accessGroup);
}

QStringList KeychainRotator::rotate(SessionKeychain &keychain, const QString &writer, int count)
{
    QStringList applied;
    for (int n = 0; n < count; ++n) {
        const auto data = keychain.read();
        const auto current = data ? NativeSharedSession::fromJson(*data) : std::nullopt;
        if (!current)
            continue;
        auto next = *current;
        next.cookieValue = writer + u'-' + QString::number(n);
        try {
            keychain.replace(current->fingerprint(), next.fingerprint(), next.toJson());
            applied.append(current->cookieValue + u' ' + next.cookieValue);
        } catch (const KeychainError &error) {
            if (error.status() != KeychainError::Status::NotFound)
                throw;
        }
    }
    return applied;
}
