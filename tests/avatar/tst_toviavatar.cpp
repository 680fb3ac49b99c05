#include "avatar/ToviAvatar.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A record as the service sends it, with a sag and a query on the image URL.
QJsonObject sampleJson()
{
    return QJsonDocument::fromJson(R"({
        "id": "spring",
        "imageURL": "https://zelt.app/tovi/avatars/spring/image?v=3",
        "face": {
            "width": 512, "height": 640.5,
            "leftEye": {"x": 190, "y": 180.25, "r": 25},
            "rightEye": {"x": 350, "y": 181, "r": 26.5},
            "mouth": {"x": 280, "y": 300, "halfWidth": 60, "sag": 2.5},
            "skinColor": "#505238",
            "scleraColor": "#e3dec7"
        }
    })")
        .object();
}

ToviAvatar sampleAvatar()
{
    ToviAvatar avatar;
    avatar.id = u"spring"_s;
    avatar.imageURL = QUrl(u"https://zelt.app/tovi/avatars/spring/image?v=3"_s);
    avatar.face.width = 512;
    avatar.face.height = 640.5;
    avatar.face.leftEye = {190, 180.25, 25};
    avatar.face.rightEye = {350, 181, 26.5};
    avatar.face.mouth = {280, 300, 60, 2.5};
    avatar.face.skinColor = u"#505238"_s;
    avatar.face.scleraColor = u"#e3dec7"_s;
    return avatar;
}

// Sets (or, with an undefined value, removes) the value at a "/"-separated path.
QJsonValue edited(const QJsonValue &root, QStringList path, const QJsonValue &value)
{
    if (path.isEmpty())
        return value;
    auto object = root.toObject();
    const QString key = path.takeFirst();
    const QJsonValue child = edited(object.value(key), path, value);
    if (child.isUndefined())
        object.remove(key);
    else
        object.insert(key, child);
    return object;
}

const QJsonValue removed(QJsonValue::Undefined);

} // namespace

class TestToviAvatar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decoding_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<bool>("decodes");
        // For records that decode: the expected sag (an invalid variant for none).
        QTest::addColumn<QVariant>("sag");

        const QVariant sample(2.5);
        const QVariant none;
        QTest::newRow("as sent") << u"face/mouth/sag"_s << QJsonValue(2.5) << true << sample;
        QTest::newRow("sag missing") << u"face/mouth/sag"_s << removed << true << none;
        QTest::newRow("sag null") << u"face/mouth/sag"_s << QJsonValue() << true << none;
        QTest::newRow("sag zero") << u"face/mouth/sag"_s << QJsonValue(0) << true << QVariant(0.0);
        QTest::newRow("sag as text") << u"face/mouth/sag"_s << QJsonValue(u"1"_s) << false << none;
        QTest::newRow("unknown top-level key") << u"extra"_s << QJsonValue(1) << true << sample;
        QTest::newRow("unknown face key") << u"face/nose"_s << QJsonValue(u"x"_s) << true << sample;
        QTest::newRow("unknown eye key")
            << u"face/leftEye/lid"_s << QJsonValue(true) << true << sample;
        QTest::newRow("unknown mouth key")
            << u"face/mouth/teeth"_s << QJsonValue(QJsonArray{1}) << true << sample;

        const QStringList required = {
            u"id"_s,
            u"imageURL"_s,
            u"face"_s,
            u"face/width"_s,
            u"face/height"_s,
            u"face/leftEye"_s,
            u"face/rightEye"_s,
            u"face/mouth"_s,
            u"face/skinColor"_s,
            u"face/scleraColor"_s,
            u"face/leftEye/x"_s,
            u"face/leftEye/y"_s,
            u"face/rightEye/r"_s,
            u"face/mouth/x"_s,
            u"face/mouth/y"_s,
            u"face/mouth/halfWidth"_s,
        };
        for (const auto &path : required) {
            QTest::addRow("%s missing", qPrintable(path)) << path << removed << false << none;
            QTest::addRow("%s null", qPrintable(path)) << path << QJsonValue() << false << none;
        }

        QTest::newRow("id as number") << u"id"_s << QJsonValue(7) << false << none;
        QTest::newRow("imageURL as number") << u"imageURL"_s << QJsonValue(7) << false << none;
        QTest::newRow("imageURL empty") << u"imageURL"_s << QJsonValue(u""_s) << false << none;
        QTest::newRow("imageURL not a URL")
            << u"imageURL"_s << QJsonValue(u"https://zelt.app/a b"_s) << false << none;
        QTest::newRow("face as array") << u"face"_s << QJsonValue(QJsonArray{}) << false << none;
        QTest::newRow("width as text") << u"face/width"_s << QJsonValue(u"512"_s) << false << none;
        QTest::newRow("eye as number") << u"face/rightEye"_s << QJsonValue(3) << false << none;
        QTest::newRow("eye y as text")
            << u"face/leftEye/y"_s << QJsonValue(u"1"_s) << false << none;
        QTest::newRow("halfWidth as bool")
            << u"face/mouth/halfWidth"_s << QJsonValue(true) << false << none;
        QTest::newRow("mouth as text")
            << u"face/mouth"_s << QJsonValue(u"smile"_s) << false << none;
        QTest::newRow("skinColor as number")
            << u"face/skinColor"_s << QJsonValue(0x505238) << false << none;

        QTest::newRow("root is an array") << QString() << QJsonValue(QJsonArray{}) << false << none;
        QTest::newRow("root is text") << QString() << QJsonValue(u"spring"_s) << false << none;
        QTest::newRow("root is null") << QString() << QJsonValue() << false << none;
    }

    void decoding()
    {
        QFETCH(QString, path);
        QFETCH(QJsonValue, value);
        QFETCH(bool, decodes);
        QFETCH(QVariant, sag);

        const QStringList components = path.isEmpty() ? QStringList() : path.split(u'/');
        const auto avatar = ToviAvatar::fromJson(edited(sampleJson(), components, value));
        QCOMPARE(avatar.has_value(), decodes);
        if (!decodes)
            return;
        auto expected = sampleAvatar();
        expected.face.mouth.sag =
            sag.isValid() ? std::optional<double>(sag.toDouble()) : std::nullopt;
        QCOMPARE(*avatar, expected);
    }

    void roundTrip_data()
    {
        QTest::addColumn<ToviAvatar>("avatar");

        QTest::newRow("classic") << ToviAvatar::classic();
        QTest::newRow("with sag") << sampleAvatar();
        auto withoutSag = sampleAvatar();
        withoutSag.face.mouth.sag.reset();
        QTest::newRow("without sag") << withoutSag;
        auto encodedURL = sampleAvatar();
        encodedURL.imageURL = QUrl(u"https://zelt.app/tovi/a%20b/image?v=3&w=%2B1#top"_s);
        QTest::newRow("encoded URL") << encodedURL;
    }

    void roundTrip()
    {
        QFETCH(ToviAvatar, avatar);

        // Through text, as the defaults keep it.
        const auto text = QJsonDocument(avatar.toJson()).toJson(QJsonDocument::Compact);
        const auto json = QJsonDocument::fromJson(text).object();
        QCOMPARE(ToviAvatar::fromJson(json), std::optional<ToviAvatar>(avatar));
        // An absent sag is left out, never written as null.
        const auto mouth = json.value("face"_L1).toObject().value("mouth"_L1).toObject();
        QCOMPARE(mouth.contains("sag"_L1), avatar.face.mouth.sag.has_value());
    }

    void cacheName_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("query");
        // Empty for none.
        QTest::addColumn<QString>("name");

        const QString longest = u"0"_s + QString(63, u'a');
        QTest::newRow("version") << u"spring"_s << u"v=3"_s << u"spring-3"_s;
        QTest::newRow("empty version") << u"spring"_s << u"v="_s << u"spring"_s;
        QTest::newRow("version without value") << u"spring"_s << u"v"_s << u"spring"_s;
        QTest::newRow("no query") << u"spring"_s << QString() << u"spring"_s;
        QTest::newRow("other items") << u"spring"_s << u"w=1&size=2"_s << u"spring"_s;
        QTest::newRow("first v counts") << u"spring"_s << u"w=1&v=3&v=4"_s << u"spring-3"_s;
        QTest::newRow("encoded version") << u"spring"_s << u"v=%33a"_s << u"spring-3a"_s;
        QTest::newRow("version with a dot") << u"spring"_s << u"v=3.1"_s << QString();
        QTest::newRow("version with a slash") << u"spring"_s << u"v=a%2F..%2Fb"_s << QString();
        QTest::newRow("upper-case version") << u"spring"_s << u"v=A"_s << QString();
        QTest::newRow("64 characters from a digit") << longest << QString() << longest;
        QTest::newRow("64 characters and a version") << longest << u"v=1"_s << QString();
        QTest::newRow("65 characters") << longest + u'a' << QString() << QString();
        QTest::newRow("upper case") << u"Spring"_s << QString() << QString();
        QTest::newRow("leading dash") << u"-spring"_s << QString() << QString();
        QTest::newRow("inner dash") << u"spring-2"_s << QString() << u"spring-2"_s;
        QTest::newRow("dot") << u"spring.png"_s << QString() << QString();
        QTest::newRow("underscore") << u"spring_2"_s << QString() << QString();
        QTest::newRow("non-ASCII") << u"fr\u00fchling"_s << QString() << QString();
        QTest::newRow("empty id") << QString() << QString() << QString();
        QTest::newRow("empty id with a version") << QString() << u"v=3"_s << QString();
    }

    void cacheName()
    {
        QFETCH(QString, id);
        QFETCH(QString, query);
        QFETCH(QString, name);

        ToviAvatar avatar = sampleAvatar();
        avatar.id = id;
        QUrl url(u"https://zelt.app/tovi/avatars/image"_s);
        if (!query.isNull())
            url.setQuery(query);
        avatar.imageURL = url;
        QCOMPARE(avatar.cacheName(), name.isEmpty() ? std::nullopt : std::optional<QString>(name));
        // Without a version the name is the id itself, so the id rule alone decides.
        if (query.isNull())
            QCOMPARE(ToviAvatar::isValidCacheName(id), !name.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestToviAvatar)
#include "tst_toviavatar.moc"
