#pragma once

#include "service/NativeSharedSession.h"

#include <QStringList>

class BundleConfiguration;

// `zelt-devservice session write|show|delete`: the main application's side of the shared
// session item, through the keychain backend and access group of the bundle configuration.
class SessionCommand
{
public:
    static int run(const QStringList &arguments);

    // Stores the session as the main application does after a sign-in: whatever the item held
    // before. Throws KeychainError; false without an access group.
    static bool write(const BundleConfiguration &configuration, const NativeSharedSession &session);
};
