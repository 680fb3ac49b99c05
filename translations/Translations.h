#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The catalogues of every program here, built into each of them, and the choice among them the
// way gettext makes it: LANGUAGE (a list, read unless the messages' locale is C), then LC_ALL,
// LC_MESSAGES and LANG.
namespace Translations {

// The languages that the environment asks for, most wanted first, each followed by its language
// without the territory ("pt_BR", "pt"). Empty for the C locale.
QStringList preferredLanguages(const QProcessEnvironment &environment);

// Installs the catalogue of the first preferred language there is one for, and Qt's own for the
// same language where the system has it; English (whose catalogue holds its plural forms) when
// none matches. The default QLocale follows the chosen language where the system's locale speaks
// another, so that dates and sizes read in the language of the sentence they stand in. Replaces
// what an earlier call installed. Needs the application object. Returns the language chosen.
QString install(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

} // namespace Translations
