#pragma once

#include <QStringList>

// `zelt-devservice signin`: what the main application does when the user signs in. It signs
// in to a running development service, registers the software passkey of the data directory
// (made on first use) with the account, and stores the session in the shared keychain item.
class SignInCommand
{
public:
    static int run(const QStringList &arguments);
};
