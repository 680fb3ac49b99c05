#pragma once

#include "service/SessionKeychain.h"

#include <QString>
#include <QStringList>

#include <memory>

// Both sides of the concurrent rotation test: the test process and a second process rotate
// the shared item the way the response check does (read, rotate, compare-and-replace).
namespace KeychainRotator {

std::unique_ptr<SessionKeychain> open(const QString &backend, const QString &directory,
                                      const QString &accessGroup);

// Rotates the item `count` times with cookie values "<writer>-<n>". Returns one line
// "<previous value> <new value>" per compare-and-replace that took effect.
QStringList rotate(SessionKeychain &keychain, const QString &writer, int count);

} // namespace KeychainRotator
