#include "ServiceFixture.h"

#include "service/FileSessionKeychain.h"

#include <QFile>

using namespace Qt::StringLiterals;

ServiceFixture::ServiceFixture()
    : m_server(std::make_unique<TestHttpsServer>(certificates()))
{
    if (!m_server->listen())
        qFatal("the test server cannot listen");
    resetHolder();
}

const TestCertificates &ServiceFixture::certificates()
{
    // Also valid for a custom domain, reached through a test proxy.
    static const TestCertificates generated =
        TestCertificates::generate(QStringLiteral("Zelt test CA"), {u"acme.zelt.team"_s});
    return generated;
}

NativeSharedSession ServiceFixture::session(const QString &cookieValue)
{
    NativeSharedSession s;
    s.baseOrigin = u"https://127.0.0.1"_s;
    s.cookieName = u"sid"_s;
    s.cookieValue = cookieValue;
    return s;
}

void ServiceFixture::resetHolder(const QUrl &origin)
{
    auto keychain = std::make_unique<FileSessionKeychain>(m_dir.path(), u"app.zelt.test"_s);
    auto environment = std::make_shared<ServiceEnvironment>(
        ServiceOrigin{origin.isEmpty() ? m_server->origin() : origin,
                      ServiceOrigin::Source::Development},
        std::make_shared<SharedSessionStore>(std::move(keychain)),
        QList<QSslCertificate>{certificates().authority});
    ServiceEnvironment::Timeouts timeouts;
    timeouts.internalApp = timeouts.destinations = timeouts.nativeShare = timeouts.upload =
        std::chrono::seconds(30);
    environment->setTimeouts(timeouts);
    m_holder = std::make_unique<SessionHolder>(environment, session());
}

SessionKeychain &ServiceFixture::keychain() const
{
    return *m_holder->environment()->sessionStore().keychain();
}

QUrl ServiceFixture::writeFile(const QString &name, const QByteArray &contents) const
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write a test file");
    return QUrl::fromLocalFile(file.fileName());
}
