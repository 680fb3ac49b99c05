#include "ZeltControlsDesktopEntry.h"

#include "ZeltControls.h"

using namespace Qt::StringLiterals;

namespace {

// Characters that force an Exec argument into double quotes.
constexpr QStringView reservedCharacters = u" \t\n\"'\\><~|&;$*?#()`";

QString quotedArgument(const QString &argument)
{
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument) {
        if (reservedCharacters.contains(c))
            needsQuotes = true;
    }
    if (!needsQuotes)
        return argument;
    QString quoted = u"\""_s;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    return quoted;
}

// A desktop entry string value: no line breaks, backslashes escaped.
QString stringValue(QString value)
{
    value.replace(u'\\', u"\\\\"_s);
    value.replace(u'\n', u"\\n"_s);
    value.replace(u'\t', u"\\t"_s);
    value.replace(u'\r', u"\\r"_s);
    return value;
}

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace

QString ZeltControlsDesktopEntry::execValue(const QStringList &arguments)
{
    QStringList quoted;
    for (const auto &argument : arguments) {
        QString escaped = quotedArgument(argument);
        escaped.replace(u'%', u"%%"_s);
        quoted.append(escaped);
    }
    return stringValue(quoted.join(u' '));
}

QString ZeltControlsDesktopEntry::text(const QString &executable)
{
    QStringList actions;
    for (const auto &control : ZeltMacWidgetBundle::body())
        actions.append(control.kindText());

    // Names and descriptions are the English source texts: launchers translate desktop entries
    // through localised keys, not through the program's catalogue.
    QString entry = u"[Desktop Entry]\n"
                    "Type=Application\n"
                    "Version=1.4\n"
                    "Name=Zelt Controls\n"
                    "GenericName=Zelt shortcuts\n"
                    "Comment=Open Zelt on a new thread, on Tovi, with dictation or in a call\n"
                    "Icon=app.zelt.ZeltToviFace\n"_s;
    entry += u"Exec="_s + execValue({executable, u"open"_s}) + u'\n';
    entry += u"Terminal=false\n"
             "StartupNotify=true\n"
             "Categories=Utility;\n"
             "Keywords=Zelt;Tovi;thread;dictation;call;\n"_s;
    entry += u"Actions="_s + actions.join(u';') + u";\n"_s;

    for (const auto &control : ZeltMacWidgetBundle::body()) {
        entry += u"\n[Desktop Action "_s + control.kindText() + u"]\n"_s;
        entry += u"Name="_s + stringValue(QString::fromUtf8(control.displayName)) + u'\n';
        entry += u"Icon="_s + latin1(control.image.iconName) + u'\n';
        entry += u"Exec="_s + execValue({executable, u"run"_s, control.kindText()}) + u'\n';
    }
    return entry;
}
