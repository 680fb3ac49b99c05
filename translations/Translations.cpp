#include "Translations.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

using namespace Qt::StringLiterals;

namespace Translations {

namespace {

// Where the build puts the compiled catalogues among the program's resources.
QString cataloguePath(const QString &language)
{
    return u":/i18n/zelt-share_"_s + language + u".qm"_s;
}

bool isCLocale(const QString &locale)
{
    return locale.isEmpty() || locale == "C"_L1 || locale == "POSIX"_L1 ||
           locale.startsWith("C."_L1) || locale.startsWith("C@"_L1);
}

// The installed translators, replaced by each install().
std::unique_ptr<QTranslator> &ours()
{
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

std::unique_ptr<QTranslator> &qts()
{
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

void replace(std::unique_ptr<QTranslator> &slot, std::unique_ptr<QTranslator> translator)
{
    if (slot)
        QCoreApplication::removeTranslator(slot.get());
    slot = std::move(translator);
    if (slot)
        QCoreApplication::installTranslator(slot.get());
}

} // namespace

QStringList preferredLanguages(const QProcessEnvironment &environment)
{
    QString locale = environment.value(u"LC_ALL"_s);
    if (locale.isEmpty())
        locale = environment.value(u"LC_MESSAGES"_s);
    if (locale.isEmpty())
        locale = environment.value(u"LANG"_s);
    if (isCLocale(locale))
        return {};
    QStringList names = environment.value(u"LANGUAGE"_s).split(u':', Qt::SkipEmptyParts);
    if (names.isEmpty())
        names = {locale};

    QStringList languages;
    const auto add = [&languages](const QString &language) {
        if (!language.isEmpty() && !languages.contains(language))
            languages.append(language);
    };
    for (const QString &name : std::as_const(names)) {
        // language[_territory][.codeset][@modifier]: neither the codeset nor the modifier
        // chooses a catalogue here.
        const QString language = name.section(u'@', 0, 0).section(u'.', 0, 0);
        if (isCLocale(language))
            continue;
        add(language);
        add(language.section(u'_', 0, 0));
    }
    return languages;
}

QString install(const QProcessEnvironment &environment)
{
    QString chosen = u"en"_s;
    for (const QString &language : preferredLanguages(environment)) {
        if (QFile::exists(cataloguePath(language))) {
            chosen = language;
            break;
        }
    }

    // Qt's own texts first, so that ours answer before them.
    auto qt = std::make_unique<QTranslator>();
    if (chosen == u"en" ||
        !qt->load(u"qtbase_"_s + chosen, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        qt.reset();
    replace(qts(), std::move(qt));

    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(cataloguePath(chosen)))
        translator.reset();
    replace(ours(), std::move(translator));

    const QLocale language(chosen);
    if (QLocale::system().language() == language.language())
        QLocale::setDefault(QLocale::system());
    else
        QLocale::setDefault(language);
    return chosen;
}

} // namespace Translations
