// Writes the translations of a data file from the catalogues: the keys of a desktop entry (and of
// Nemo's actions, which share its form), the elements of an AppStream record, the plugin metadata
// of KDE's Share menu, the browser extension's _locales, and the table of the GNOME Files
// extension. Run by the build; a text of the file that no catalogue holds stops it, so that no
// file ships half translated.
//
// Usage: zelt-localize-data KIND INPUT OUTPUT --context NAME… --catalogue FILE.ts…
//   KIND: desktop | metainfo | purpose | browser (OUTPUT: the _locales folder) | python

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

struct Failure : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const QString &message)
{
    throw Failure(message.toStdString());
}

// One language's translations of the chosen contexts, by source text.
struct Catalogue
{
    QString language;
    // context → source → translation
    QMap<QString, QMap<QString, QString>> texts;
};

Catalogue readCatalogue(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(u"cannot read %1"_s.arg(path));
    QXmlStreamReader xml(&file);
    Catalogue catalogue;
    // zelt-share_LANGUAGE.ts: the language as the catalogue's file names it ("de", "pt_BR"),
    // which is how desktop entries and browsers name it too.
    catalogue.language = QFileInfo(path).completeBaseName().section(u'_', 1);
    QString context, source, translation;
    bool finished = true;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == u"name") {
                context = xml.readElementText();
            } else if (name == u"source") {
                source = xml.readElementText();
            } else if (name == u"translation") {
                const auto type = xml.attributes().value(u"type"_s);
                finished = type.isEmpty();
                translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            }
        } else if (xml.isEndElement() && xml.name() == u"message") {
            if (finished && !translation.isEmpty())
                catalogue.texts[context].insert(source, translation);
            source.clear();
            translation.clear();
            finished = true;
        }
    }
    if (xml.hasError())
        fail(u"%1: %2"_s.arg(path, xml.errorString()));
    if (catalogue.language.isEmpty())
        fail(u"%1 names no language"_s.arg(path));
    return catalogue;
}

class Translator
{
public:
    Translator(QList<Catalogue> catalogues, QStringList contexts, QString input)
        : m_catalogues(std::move(catalogues))
        , m_contexts(std::move(contexts))
        , m_input(std::move(input))
    {}

    const QList<Catalogue> &catalogues() const { return m_catalogues; }
    const QStringList &contexts() const { return m_contexts; }

    // The translation of source into each language, by language. Every catalogue must have it:
    // the check of the catalogues keeps them complete, and a text missing from all of them is one
    // that the list of data-file texts lacks.
    QMap<QString, QString> translations(const QString &source) const
    {
        QMap<QString, QString> found;
        for (const auto &catalogue : m_catalogues) {
            std::optional<QString> translation;
            for (const auto &context : m_contexts) {
                const auto texts = catalogue.texts.value(context);
                if (const auto it = texts.constFind(source); it != texts.cend()) {
                    translation = *it;
                    break;
                }
            }
            if (!translation)
                fail(u"%1: \"%2\" has no %3 translation in the contexts %4"_s.arg(
                    m_input, source, catalogue.language, m_contexts.join(u", "_s)));
            found.insert(catalogue.language, *translation);
        }
        return found;
    }

private:
    QList<Catalogue> m_catalogues;
    QStringList m_contexts;
    QString m_input;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(u"cannot read %1"_s.arg(path));
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() ||
        !file.commit())
        fail(u"cannot write %1"_s.arg(path));
}

// Desktop entries: after each Name, GenericName, Comment and Keywords, the same key for each
// language. Values are escaped as desktop entries escape them.
QByteArray localizeDesktopEntry(const Translator &translator, const QString &text)
{
    static const QRegularExpression translatable(u"^(Name|GenericName|Comment|Keywords)=(.*)$"_s);
    const auto escaped = [](QString value) {
        if (value.contains(u'\n') || value.contains(u'\r'))
            fail(u"a translation of a desktop entry spans lines: %1"_s.arg(value));
        return value.replace(u"\\"_s, u"\\\\"_s);
    };
    QString output;
    const auto lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        output += line;
        if (i + 1 < lines.size())
            output += u'\n';
        const auto match = translatable.match(line);
        if (!match.hasMatch())
            continue;
        const QString key = match.captured(1);
        const QString source = match.captured(2).replace(u"\\\\"_s, u"\\"_s);
        const auto translations = translator.translations(source);
        for (auto it = translations.cbegin(); it != translations.cend(); ++it) {
            if (key == u"Keywords" && !it->endsWith(u';'))
                fail(u"the %1 keywords do not end with a semicolon: %2"_s.arg(it.key(), *it));
            output += key + u'[' + it.key() + u"]="_s + escaped(*it) + u'\n';
        }
    }
    return output.toUtf8();
}

// AppStream: each name, summary and paragraph of the description is followed by its
// translations, marked with xml:lang, at the same indentation.
QByteArray localizeMetainfo(const Translator &translator, const QByteArray &input)
{
    QXmlStreamReader reader(input);
    QByteArray output;
    QXmlStreamWriter writer(&output);
    QString indentation;
    QStringList path;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            path.append(reader.name().toString());
            const bool untranslated = !reader.attributes().hasAttribute(
                u"http://www.w3.org/XML/1998/namespace"_s, u"lang"_s);
            const QString name = reader.name().toString();
            const bool textElement =
                (path.size() == 2 && (name == u"name" || name == u"summary")) ||
                (path.size() == 3 && path[1] == u"description" && name == u"p");
            if (textElement && untranslated) {
                const auto attributes = reader.attributes();
                const QString text = reader.readElementText();
                path.removeLast();
                writer.writeStartElement(name);
                writer.writeAttributes(attributes);
                writer.writeCharacters(text);
                writer.writeEndElement();
                const auto translations = translator.translations(text.simplified());
                for (auto it = translations.cbegin(); it != translations.cend(); ++it) {
                    writer.writeCharacters(indentation);
                    writer.writeStartElement(name);
                    writer.writeAttribute(u"xml:lang"_s, it.key());
                    writer.writeCharacters(*it);
                    writer.writeEndElement();
                }
                continue;
            }
        } else if (reader.isEndElement()) {
            path.removeLast();
        } else if (reader.isCharacters() && reader.isWhitespace()) {
            // The line break and indentation before the next element.
            indentation = reader.text().toString();
        }
        writer.writeCurrentToken(reader);
        // The reader drops the line breaks outside the root element.
        if (path.isEmpty() && (reader.isStartDocument() || reader.isComment()))
            writer.writeCharacters(u"\n"_s);
    }
    if (reader.hasError())
        fail(u"the AppStream record: %1"_s.arg(reader.errorString()));
    return output + '\n';
}

// KDE's plugin metadata: Name[language] beside Name in KPlugin, and so on.
QByteArray localizePurposeMetadata(const Translator &translator, const QByteArray &input)
{
    QJsonParseError error;
    auto document = QJsonDocument::fromJson(input, &error);
    if (!document.isObject())
        fail(u"the plugin metadata: %1"_s.arg(error.errorString()));
    auto root = document.object();
    auto plugin = root.value(u"KPlugin"_s).toObject();
    for (const auto &key : {u"Name"_s, u"Description"_s, u"X-Purpose-ActionDisplay"_s}) {
        const auto value = plugin.value(key);
        if (!value.isString())
            continue;
        const auto translations = translator.translations(value.toString());
        for (auto it = translations.cbegin(); it != translations.cend(); ++it)
            plugin.insert(key + u'[' + it.key() + u']', *it);
    }
    root.insert(u"KPlugin"_s, plugin);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

// The browsers' _locales: one messages.json a language, the descriptions kept. Browsers name the
// folders as the catalogues do (pt_BR, zh_CN).
void writeBrowserLocales(const Translator &translator, const QByteArray &input,
                         const QString &folder)
{
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(input, &error);
    if (!document.isObject())
        fail(u"the extension's messages: %1"_s.arg(error.errorString()));
    std::map<QString, QJsonObject> languages;
    const auto messages = document.object();
    for (auto it = messages.constBegin(); it != messages.constEnd(); ++it) {
        auto message = it->toObject();
        const auto translations = translator.translations(message.value(u"message"_s).toString());
        for (auto language = translations.cbegin(); language != translations.cend(); ++language) {
            message.insert(u"message"_s, *language);
            languages[language.key()].insert(it.key(), message);
        }
    }
    for (const auto &[language, translated] : languages) {
        const QString directory = folder + u'/' + language;
        if (!QDir().mkpath(directory))
            fail(u"cannot make %1"_s.arg(directory));
        writeFile(directory + u"/messages.json"_s,
                  QJsonDocument(translated).toJson(QJsonDocument::Indented));
    }
}

// A Python module: @ZELT_TRANSLATIONS@ becomes a dict from language to a dict from source text
// to translation, for every text of the contexts. JSON's strings and objects are Python's too.
QByteArray localizePython(const Translator &translator, const QByteArray &input)
{
    const QByteArray marker = "@ZELT_TRANSLATIONS@";
    if (input.count(marker) != 1)
        fail(u"the module must name @ZELT_TRANSLATIONS@ once"_s);
    QJsonObject table;
    for (const auto &catalogue : translator.catalogues()) {
        QJsonObject texts;
        for (const auto &context : translator.contexts()) {
            const auto translations = catalogue.texts.value(context);
            for (auto it = translations.cbegin(); it != translations.cend(); ++it)
                texts.insert(it.key(), *it);
        }
        table.insert(catalogue.language, texts);
    }
    QByteArray output = input;
    return output.replace(marker, QJsonDocument(table).toJson(QJsonDocument::Compact));
}

int run(const QStringList &arguments)
{
    if (arguments.size() < 4)
        fail(u"usage: zelt-localize-data KIND INPUT OUTPUT --context NAME… --catalogue FILE…"_s);
    const QString kind = arguments[1], input = arguments[2], output = arguments[3];
    QStringList contexts;
    QList<Catalogue> catalogues;
    for (qsizetype i = 4; i < arguments.size(); ++i) {
        if (i + 1 >= arguments.size())
            fail(u"%1 needs a value"_s.arg(arguments[i]));
        if (arguments[i] == u"--context")
            contexts.append(arguments[++i]);
        else if (arguments[i] == u"--catalogue")
            catalogues.append(readCatalogue(arguments[++i]));
        else
            fail(u"unknown option %1"_s.arg(arguments[i]));
    }
    if (contexts.isEmpty() || catalogues.isEmpty())
        fail(u"give at least one --context and one --catalogue"_s);

    const Translator translator(catalogues, contexts, input);
    const QByteArray text = readFile(input);
    if (kind == u"desktop")
        writeFile(output, localizeDesktopEntry(translator, QString::fromUtf8(text)));
    else if (kind == u"metainfo")
        writeFile(output, localizeMetainfo(translator, text));
    else if (kind == u"purpose")
        writeFile(output, localizePurposeMetadata(translator, text));
    else if (kind == u"browser")
        writeBrowserLocales(translator, text, output);
    else if (kind == u"python")
        writeFile(output, localizePython(translator, text));
    else
        fail(u"unknown kind %1"_s.arg(kind));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    try {
        return run(arguments);
    } catch (const Failure &failure) {
        std::fprintf(stderr, "zelt-localize-data: %s\n", failure.what());
        return 1;
    }
}
