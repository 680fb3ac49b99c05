#include "ShareSheetText.h"
#include "Translations.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QTest>
#include <QTranslator>

using namespace Qt::StringLiterals;

namespace {

QProcessEnvironment environment(const QList<std::pair<QString, QString>> &variables)
{
    QProcessEnvironment result;
    for (const auto &[name, value] : variables)
        result.insert(name, value);
    return result;
}

using Variables = QList<std::pair<QString, QString>>;

const QStringList languages = {u"de"_s, u"fr"_s, u"es"_s, u"pt_BR"_s, u"it"_s, u"ja"_s, u"zh_CN"_s};

} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { Translations::install(environment({{u"LANG"_s, u"C.UTF-8"_s}})); }

    // gettext's order: LANGUAGE unless the messages' locale is C, then LC_ALL, LC_MESSAGES, LANG.
    void preferredLanguages_data()
    {
        QTest::addColumn<Variables>("variables");
        QTest::addColumn<QStringList>("preferred");
        QTest::newRow("nothing set") << Variables{} << QStringList{};
        QTest::newRow("C") << Variables{{u"LANG"_s, u"C"_s}} << QStringList{};
        QTest::newRow("C.UTF-8 ignores LANGUAGE")
            << Variables{{u"LANG"_s, u"C.UTF-8"_s}, {u"LANGUAGE"_s, u"de"_s}} << QStringList{};
        QTest::newRow("POSIX") << Variables{{u"LC_ALL"_s, u"POSIX"_s}} << QStringList{};
        QTest::newRow("LANG") << Variables{{u"LANG"_s, u"fr_FR.UTF-8"_s}}
                              << QStringList{u"fr_FR"_s, u"fr"_s};
        QTest::newRow("modifier") << Variables{{u"LANG"_s, u"de_AT.UTF-8@euro"_s}}
                                  << QStringList{u"de_AT"_s, u"de"_s};
        QTest::newRow("LC_MESSAGES over LANG")
            << Variables{{u"LANG"_s, u"fr_FR.UTF-8"_s}, {u"LC_MESSAGES"_s, u"it_IT.UTF-8"_s}}
            << QStringList{u"it_IT"_s, u"it"_s};
        QTest::newRow("LC_ALL over LC_MESSAGES")
            << Variables{{u"LC_MESSAGES"_s, u"it_IT"_s}, {u"LC_ALL"_s, u"ja_JP.UTF-8"_s}}
            << QStringList{u"ja_JP"_s, u"ja"_s};
        QTest::newRow("empty variables are unset")
            << Variables{{u"LC_ALL"_s, QString()}, {u"LANG"_s, u"es_ES.UTF-8"_s}}
            << QStringList{u"es_ES"_s, u"es"_s};
        QTest::newRow("LANGUAGE list")
            << Variables{{u"LANG"_s, u"de_DE.UTF-8"_s}, {u"LANGUAGE"_s, u"pt_BR:pt:en::zh_CN"_s}}
            << QStringList{u"pt_BR"_s, u"pt"_s, u"en"_s, u"zh_CN"_s, u"zh"_s};
    }

    void preferredLanguages()
    {
        QFETCH(Variables, variables);
        QFETCH(QStringList, preferred);
        QCOMPARE(Translations::preferredLanguages(environment(variables)), preferred);
    }

    // Which catalogue answers, and that it speaks its language.
    void install_data()
    {
        QTest::addColumn<Variables>("variables");
        QTest::addColumn<QString>("language");
        for (const auto &language : languages)
            QTest::newRow(qPrintable(language))
                << Variables{{u"LANG"_s, language + u".UTF-8"_s}} << language;
        QTest::newRow("territory without a catalogue")
            << Variables{{u"LANG"_s, u"de_CH.UTF-8"_s}} << u"de"_s;
        QTest::newRow("no catalogue, the next language")
            << Variables{{u"LANG"_s, u"de_DE.UTF-8"_s}, {u"LANGUAGE"_s, u"pt_PT:zh_TW:fr"_s}}
            << u"fr"_s;
        QTest::newRow("English before a catalogue")
            << Variables{{u"LANG"_s, u"de_DE.UTF-8"_s}, {u"LANGUAGE"_s, u"en_GB:de"_s}} << u"en"_s;
        QTest::newRow("no catalogue at all") << Variables{{u"LANG"_s, u"sv_SE.UTF-8"_s}} << u"en"_s;
        QTest::newRow("C") << Variables{{u"LANG"_s, u"C.UTF-8"_s}} << u"en"_s;
    }

    void install()
    {
        QFETCH(Variables, variables);
        QFETCH(QString, language);
        QCOMPARE(Translations::install(environment(variables)), language);
        const QString send = QCoreApplication::translate("ShareComposeView", "Send");
        if (language == u"en")
            QCOMPARE(send, u"Send"_s);
        else
            QVERIFY2(!send.isEmpty() && send != u"Send", qPrintable(send));
        // Dates in the language of the sentence around them.
        QCOMPARE(QLocale().language(), QLocale(language).language());
    }

    // Each language's catalogue is built in, and English has its plural forms.
    void catalogues()
    {
        QStringList expected{u"en"_s};
        expected += languages;
        QStringList found;
        for (const auto &file : QDir(u":/i18n"_s).entryList())
            found.append(file.section(u'_', 1).chopped(3));
        std::sort(found.begin(), found.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(found, expected);

        Translations::install(environment({{u"LANG"_s, u"en_US.UTF-8"_s}}));
        const char *source = "Wrong PIN. %n attempt(s) left.";
        QCOMPARE(QCoreApplication::translate("PasskeyOverlay", source, nullptr, 1),
                 u"Wrong PIN. 1 attempt left."_s);
        QCOMPARE(QCoreApplication::translate("PasskeyOverlay", source, nullptr, 3),
                 u"Wrong PIN. 3 attempts left."_s);
    }

    // Relative dates and sizes follow the language chosen, through ICU and QLocale.
    void datesAndSizes_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("yesterday");
        QTest::addColumn<QString>("size");
        QTest::newRow("de") << u"de"_s << u"gestern"_s << u"1,2"_s;
        QTest::newRow("fr") << u"fr"_s << u"hier"_s << u"1,2"_s;
        QTest::newRow("es") << u"es"_s << u"ayer"_s << u"1,2"_s;
        QTest::newRow("pt_BR") << u"pt_BR"_s << u"ontem"_s << u"1,2"_s;
        QTest::newRow("it") << u"it"_s << u"ieri"_s << u"1,2"_s;
        QTest::newRow("ja") << u"ja"_s << u"昨日"_s << u"1.2"_s;
        QTest::newRow("zh_CN") << u"zh_CN"_s << u"昨天"_s << u"1.2"_s;
        QTest::newRow("en") << u"en_US"_s << u"yesterday"_s << u"1.2"_s;
    }

    void datesAndSizes()
    {
        QFETCH(QString, language);
        QFETCH(QString, yesterday);
        QFETCH(QString, size);
        Translations::install(environment({{u"LANG"_s, language + u".UTF-8"_s}}));
        const auto now = QDateTime(QDate(2026, 6, 15), QTime(12, 0), Qt::UTC);
        const QString updated = ShareSheetText::updated(now.addSecs(-26 * 3600), now);
        QVERIFY2(updated.contains(yesterday), qPrintable(updated));
        SharedFile file;
        file.sizeBytes = 1'234'567;
        const QString detail = ShareSheetText::fileDetail(file);
        QVERIFY2(detail.contains(size), qPrintable(detail));
    }

    // Every program speaks the user's language, from its first line on: before the application
    // object exists too.
    void programs_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("argument");
        for (const auto &language : {u"de"_s, u"ja"_s}) {
            const auto row = [&](const char *name) {
                return &QTest::newRow(qPrintable(language + u' ' + QLatin1StringView(name)));
            };
            *row("usage error") << QStringLiteral(ZELT_SHARE_PROGRAM)
                                << QStringList{u"--headless"_s, u"--to"_s, u"bogus"_s, u"x"_s}
                                << QByteArray() << language << u"ZeltShareCommand"_s
                                << u"--to takes tovi, thread:ID or search:TEXT."_s << QString();
            *row("item error") << QStringLiteral(ZELT_SHARE_PROGRAM)
                               << QStringList{u"--headless"_s, u"--frobnicate"_s} << QByteArray()
                               << language << u"ExtensionContext"_s << u"Unknown option: %1"_s
                               << u"--frobnicate"_s;
            *row("controls") << QStringLiteral(ZELT_CONTROLS_PROGRAM)
                             << QStringList{u"run"_s, u"Bogus"_s} << QByteArray() << language
                             << u"ZeltControls"_s << u"unknown control kind \"%1\""_s << u"Bogus"_s;
            *row("share menu") << QStringLiteral(ZELT_PURPOSE_PROGRAM) << QStringList{}
                               << QByteArray() << language << u"PurposeHelper"_s
                               << u"KDE's Share menu starts this program with --server SOCKET; "
                                  "run zelt-share to share from a terminal."_s
                               << QString();
            // A frame that announces five bytes and ends after none.
            *row("browser host") << QStringLiteral(ZELT_BROWSER_HOST_PROGRAM) << QStringList{}
                                 << QByteArray("\x05\x00\x00\x00", 4) << language
                                 << u"NativeMessageChannel"_s
                                 << u"The message from the browser was cut short."_s << QString();
        }
    }

    void programs()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, language);
        QFETCH(QString, context);
        QFETCH(QString, source);
        QFETCH(QString, argument);

        QTranslator catalogue;
        QVERIFY(catalogue.load(u":/i18n/zelt-share_"_s + language + u".qm"_s));
        QString expected = catalogue.translate(qPrintable(context), qPrintable(source));
        QVERIFY2(!expected.isEmpty() && expected != source, qPrintable(source));
        if (!argument.isNull())
            expected = expected.arg(argument);

        QProcess process;
        auto variables = QProcessEnvironment::systemEnvironment();
        variables.insert(u"LANG"_s, language + u".UTF-8"_s);
        process.setProcessEnvironment(variables);
        process.start(program, arguments);
        QVERIFY(process.waitForStarted());
        process.write(input);
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(30000));
        const QString said = QString::fromUtf8(process.readAllStandardError()) +
                             QString::fromUtf8(process.readAllStandardOutput());
        QVERIFY2(said.contains(expected),
                 qPrintable(u"expected “%1” in: %2"_s.arg(expected, said)));
    }
};

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
