#include "TestCertificates.h"
#include "service/AppIdentifiers.h"
#include "service/BundleConfiguration.h"
#include "service/FileSessionKeychain.h"
#include "service/SecretServiceSessionKeychain.h"
#include "service/ServiceEnvironment.h"
#include "service/ServiceOrigin.h"
#include "service/UserDefaults.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(ServiceOrigin::Source)

class TestServiceOrigin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void configurationValues_data()
    {
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<bool>("trimmed");
        QTest::addColumn<QString>("expected"); // null: absent

        QTest::newRow("string") << QJsonValue(u"group"_s) << false << u"group"_s;
        QTest::newRow("untrimmed keeps spaces")
            << QJsonValue(u" group\n"_s) << false << u" group\n"_s;
        QTest::newRow("trimmed") << QJsonValue(u" \tthread\n"_s) << true << u"thread"_s;
        QTest::newRow("blank when trimmed") << QJsonValue(u" \n\t"_s) << true << QString();
        QTest::newRow("blank untrimmed counts") << QJsonValue(u" "_s) << false << u" "_s;
        QTest::newRow("empty") << QJsonValue(u""_s) << false << QString();
        QTest::newRow("placeholder") << QJsonValue(u"$(ZELT_GROUP)"_s) << false << QString();
        QTest::newRow("placeholder inside")
            << QJsonValue(u"https://$(HOST)"_s) << true << QString();
        QTest::newRow("number") << QJsonValue(42) << false << QString();
        QTest::newRow("bool") << QJsonValue(true) << true << QString();
        QTest::newRow("array") << QJsonValue(QJsonArray{u"a"_s}) << false << QString();
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << false << QString();
    }

    void configurationValues()
    {
        QFETCH(QJsonValue, value);
        QFETCH(bool, trimmed);
        QFETCH(QString, expected);
        QJsonObject dictionary;
        if (!value.isUndefined())
            dictionary.insert(u"Key"_s, value);
        const auto result = BundleConfiguration::fromJson(dictionary).value(u"Key", trimmed);
        QCOMPARE(result.has_value(), !expected.isNull());
        if (result)
            QCOMPARE(*result, expected);
    }

    void configurationFile()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(u"ZeltShareExtension.json"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"ZeltKeychainAccessGroup":"g","ZeltKeychainBackend":" file ",
                      "ZeltDevCertificateAuthorities":"ca.pem"})");
        file.close();
        const auto configuration = BundleConfiguration::load(file.fileName());
        QCOMPARE(configuration.keychainAccessGroup(), std::optional(u"g"_s));
        QCOMPARE(configuration.keychainBackend(), BundleConfiguration::KeychainBackend::File);
        QCOMPARE(configuration.devCertificateAuthorities(),
                 std::optional(dir.filePath(u"ca.pem"_s)));
        QVERIFY(!configuration.appGroupIdentifier());

        const auto missing = BundleConfiguration::load(dir.filePath(u"absent.json"_s));
        QVERIFY(!missing.keychainAccessGroup());
        QCOMPARE(missing.keychainBackend(), BundleConfiguration::KeychainBackend::SecretService);
    }

    void developmentOrigin_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("https with port") << u"https://localhost:8443"_s << true;
        QTest::newRow("trailing slash") << u"https://dev.example.com/"_s << true;
        QTest::newRow("any host") << u"https://192.168.1.20"_s << true;
        QTest::newRow("http") << u"http://localhost:8443"_s << false;
        QTest::newRow("capital scheme") << u"HTTPS://localhost:8443"_s << false;
        QTest::newRow("path") << u"https://localhost:8443/app"_s << false;
        QTest::newRow("query") << u"https://localhost:8443/?a=1"_s << false;
        QTest::newRow("fragment") << u"https://localhost:8443#top"_s << false;
        QTest::newRow("user") << u"https://me@localhost:8443"_s << false;
        QTest::newRow("password") << u"https://me:pw@localhost:8443"_s << false;
        QTest::newRow("empty credentials") << u"https://:@localhost:8443"_s << false;
        QTest::newRow("no host") << u"https:///path"_s << false;
        QTest::newRow("not a URL") << u"https://exa mple.com"_s << false;
    }

    void developmentOrigin()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QCOMPARE(ServiceOrigin::acceptedDevelopmentOrigin(text).has_value(), accepted);
    }

    void adoptedOrigin_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("production host") << u"https://zelt.app"_s << true;
        QTest::newRow("one label") << u"https://staging.zelt.app"_s << true;
        QTest::newRow("team suffix") << u"https://acme-1.zelt.team/"_s << true;
        QTest::newRow("capitals") << u"HTTPS://Staging.ZELT.app"_s << true;
        QTest::newRow("63 characters") << u"https://%1.zelt.app"_s.arg(QString(63, u'a')) << true;
        QTest::newRow("64 characters") << u"https://%1.zelt.app"_s.arg(QString(64, u'a')) << false;
        QTest::newRow("two labels") << u"https://a.b.zelt.app"_s << false;
        QTest::newRow("leading hyphen") << u"https://-a.zelt.app"_s << false;
        QTest::newRow("trailing hyphen") << u"https://a-.zelt.app"_s << false;
        QTest::newRow("bare suffix") << u"https://.zelt.app"_s << false;
        QTest::newRow("lookalike") << u"https://evilzelt.app"_s << false;
        QTest::newRow("other domain") << u"https://zelt.app.evil.com"_s << false;
        QTest::newRow("port") << u"https://staging.zelt.app:443"_s << false;
        QTest::newRow("path") << u"https://staging.zelt.app/x"_s << false;
        QTest::newRow("http") << u"http://staging.zelt.app"_s << false;
        QTest::newRow("user") << u"https://u@staging.zelt.app"_s << false;
        QTest::newRow("empty credentials") << u"https://:@staging.zelt.app"_s << false;
        QTest::newRow("empty") << QString() << false;
    }

    void adoptedOrigin()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QCOMPARE(ServiceOrigin::acceptedAdoptedOrigin(text).has_value(), accepted);
    }

    void resolution_data()
    {
        QTest::addColumn<QJsonObject>("configuration");
        QTest::addColumn<QVariant>("adopted");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<ServiceOrigin::Source>("source");

        const QJsonObject dev{{u"ZeltOrbBuildThreadID"_s, u" thread-1 "_s},
                              {u"ZeltDevBaseOrigin"_s, u" https://localhost:8443\n"_s}};
        const QJsonObject devWithoutThread{{u"ZeltDevBaseOrigin"_s, u"https://localhost:8443"_s}};
        const QJsonObject badDev{{u"ZeltOrbBuildThreadID"_s, u"t"_s},
                                 {u"ZeltDevBaseOrigin"_s, u"http://localhost:8443"_s}};

        QTest::newRow("development")
            << dev << QVariant(u"https://staging.zelt.app"_s) << u"https://localhost:8443"_s
            << ServiceOrigin::Source::Development;
        QTest::newRow("no thread ID: adopted")
            << devWithoutThread << QVariant(u"https://staging.zelt.app/"_s)
            << u"https://staging.zelt.app/"_s << ServiceOrigin::Source::Adopted;
        QTest::newRow("invalid development falls through")
            << badDev << QVariant() << u"https://zelt.app"_s << ServiceOrigin::Source::Production;
        QTest::newRow("invalid adopted falls through")
            << QJsonObject{} << QVariant(u"https://evil.example"_s) << u"https://zelt.app"_s
            << ServiceOrigin::Source::Production;
        QTest::newRow("nothing") << QJsonObject{} << QVariant() << u"https://zelt.app"_s
                                 << ServiceOrigin::Source::Production;
    }

    void resolution()
    {
        QFETCH(QJsonObject, configuration);
        QFETCH(QVariant, adopted);
        QFETCH(QString, expected);
        QFETCH(ServiceOrigin::Source, source);

        configuration.insert(u"ZeltAppGroupIdentifier"_s, u"app.zelt.test-suite"_s);
        const auto bundle = BundleConfiguration::fromJson(configuration);
        {
            auto suite = UserDefaults::shared(bundle);
            suite->clear();
            if (adopted.isValid())
                suite->setValue(AppIdentifiers::adoptedBaseOriginKey, adopted);
        }
        auto defaults = UserDefaults::shared(bundle);
        const auto origin = ServiceOrigin::resolve(bundle, *defaults);
        QCOMPARE(origin.url.toString(), expected);
        QCOMPARE(origin.source, source);
    }

    void sharedDefaultsSuite()
    {
        const auto suite =
            BundleConfiguration::fromJson({{u"ZeltAppGroupIdentifier"_s, u"app.zelt.g"_s}});
        QVERIFY(UserDefaults::shared(suite)->fileName().endsWith(u"/app.zelt.g/defaults.ini"));
        // A name the platform cannot use as a suite falls back to the standard defaults.
        const auto unusable =
            BundleConfiguration::fromJson({{u"ZeltAppGroupIdentifier"_s, u"../x"_s}});
        QCOMPARE(UserDefaults::shared(unusable)->fileName(), UserDefaults::standard()->fileName());
        QCOMPARE(UserDefaults::shared(BundleConfiguration())->fileName(),
                 UserDefaults::standard()->fileName());
    }

    // The development CA is trusted only while the development origin is the one in use, and
    // never instead of the system's authorities.
    void developmentAuthority_data()
    {
        QTest::addColumn<bool>("withThreadID");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("development origin") << true << true;
        QTest::newRow("production origin") << false << false;
    }

    void developmentAuthority()
    {
        QFETCH(bool, withThreadID);
        QFETCH(bool, trusted);
        QTemporaryDir dir;
        const auto authority = TestCertificates::generate().authority;
        QFile pem(dir.filePath(u"ca.pem"_s));
        QVERIFY(pem.open(QIODevice::WriteOnly));
        pem.write(authority.toPem());
        pem.close();

        QJsonObject dictionary{{u"ZeltDevBaseOrigin"_s, u"https://localhost:8443"_s},
                               {u"ZeltDevCertificateAuthorities"_s, u"ca.pem"_s}};
        if (withThreadID)
            dictionary.insert(u"ZeltOrbBuildThreadID"_s, u"t"_s);
        const auto environment =
            ServiceEnvironment::fromBundle(BundleConfiguration::fromJson(dictionary, dir.path()));
        const auto authorities = environment->sslConfiguration().caCertificates();
        QCOMPARE(authorities.contains(authority), trusted);
        if (trusted)
            QCOMPARE(authorities.size(), QSslConfiguration::systemCaCertificates().size() + 1);
        else
            QCOMPARE(environment->sslConfiguration(), QSslConfiguration::defaultConfiguration());
    }

    void keychainBackendSelection()
    {
        const auto file = SessionKeychain::create(BundleConfiguration::fromJson(
            {{u"ZeltKeychainAccessGroup"_s, u"g"_s}, {u"ZeltKeychainBackend"_s, u"file"_s}}));
        QVERIFY(dynamic_cast<FileSessionKeychain *>(file.get()));
        const auto keyring = SessionKeychain::create(
            BundleConfiguration::fromJson({{u"ZeltKeychainAccessGroup"_s, u"g"_s}}));
        QVERIFY(dynamic_cast<SecretServiceSessionKeychain *>(keyring.get()));
        // Without an access group there is no item at all.
        QVERIFY(!SessionKeychain::create(
            BundleConfiguration::fromJson({{u"ZeltKeychainBackend"_s, u"file"_s}})));
        SharedSessionStore store(nullptr);
        QVERIFY(!store.loadStoredSession());
        store.deleteStoredSession();
        try {
            NativeSharedSession session;
            store.storeRotatedSession(session, session);
            QFAIL("wrote without an access group");
        } catch (const KeychainError &error) {
            QCOMPARE(error.status(), KeychainError::Status::Unsupported);
        }
    }

    void sameOrigin_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");

        QTest::newRow("letter case") << u"HTTPS://Zelt.App/"_s << u"https://zelt.app"_s << true;
        QTest::newRow("path ignored")
            << u"https://zelt.app/a"_s << u"https://zelt.app/b?c"_s << true;
        QTest::newRow("explicit default port")
            << u"https://zelt.app:443"_s << u"https://zelt.app"_s << false;
        QTest::newRow("same port") << u"https://h:8443"_s << u"https://h:8443/"_s << true;
        QTest::newRow("other scheme") << u"http://zelt.app"_s << u"https://zelt.app"_s << false;
        QTest::newRow("other host") << u"https://a.zelt.app"_s << u"https://zelt.app"_s << false;
        QTest::newRow("both without host") << u"file:///x"_s << u"file:///y"_s << true;
        QTest::newRow("one without scheme") << u"//zelt.app"_s << u"https://zelt.app"_s << false;
    }

    void sameOrigin()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(ServiceOrigin::isSameOrigin(QUrl(a), QUrl(b)), same);
        QCOMPARE(ServiceOrigin::isSameOrigin(QUrl(b), QUrl(a)), same);
    }

    void originHeader_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected"); // null: none

        QTest::newRow("port and path") << u"https://h:8443/"_s << u"https://h:8443"_s;
        QTest::newRow("no port") << u"https://zelt.app"_s << u"https://zelt.app"_s;
        QTest::newRow("explicit 443 kept")
            << u"https://zelt.app:443/x"_s << u"https://zelt.app:443"_s;
        QTest::newRow("IPv6") << u"https://[::1]:8443"_s << u"https://[::1]:8443"_s;
        QTest::newRow("no host") << u"file:///tmp/x"_s << QString();
        QTest::newRow("no scheme") << u"//zelt.app"_s << QString();
    }

    void originHeader()
    {
        QFETCH(QString, url);
        QFETCH(QString, expected);
        const auto value = ServiceOrigin::originHeaderValue(QUrl(url));
        QCOMPARE(value.has_value(), !expected.isNull());
        if (value)
            QCOMPARE(*value, expected);
    }
};

QTEST_GUILESS_MAIN(TestServiceOrigin)
#include "tst_serviceorigin.moc"
