#pragma once

#include "TestCertificates.h"
#include "TestHttpsServer.h"
#include "service/SessionHolder.h"

#include <QTemporaryDir>

#include <memory>

// A running HTTPS test server and a session holder signed in to it ("sid=abc"), with a file
// keychain in a temporary directory. Tests that need a stalled answer to end set a short
// time-out of their own.
class ServiceFixture
{
public:
    ServiceFixture();

    static const TestCertificates &certificates();
    static NativeSharedSession session(const QString &cookieValue = QStringLiteral("abc"));

    // Makes a new holder whose base origin is origin (default: the server's); the keychain and
    // the server stay.
    void resetHolder(const QUrl &origin = {});

    TestHttpsServer &server() { return *m_server; }
    SessionHolder *holder() const { return m_holder.get(); }
    SessionKeychain &keychain() const;
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    // Writes a file into the temporary directory and returns its URL.
    QUrl writeFile(const QString &name, const QByteArray &contents) const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TestHttpsServer> m_server;
    std::unique_ptr<SessionHolder> m_holder;
};
