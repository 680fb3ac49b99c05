#include "ToviAvatar.h"

#include "service/AppIdentifiers.h"

#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace {

bool readNumber(const QJsonObject &object, QLatin1StringView key, double &out)
{
    const auto value = object.value(key);
    if (!value.isDouble())
        return false;
    out = value.toDouble();
    return true;
}

bool readString(const QJsonObject &object, QLatin1StringView key, QString &out)
{
    const auto value = object.value(key);
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

std::optional<ToviAvatarFace::Eye> readEye(const QJsonValue &value)
{
    const auto object = value.toObject();
    ToviAvatarFace::Eye eye;
    if (!value.isObject() || !readNumber(object, "x"_L1, eye.x) ||
        !readNumber(object, "y"_L1, eye.y) || !readNumber(object, "r"_L1, eye.r))
        return std::nullopt;
    return eye;
}

std::optional<ToviAvatarFace::Mouth> readMouth(const QJsonValue &value)
{
    const auto object = value.toObject();
    ToviAvatarFace::Mouth mouth;
    if (!value.isObject() || !readNumber(object, "x"_L1, mouth.x) ||
        !readNumber(object, "y"_L1, mouth.y) ||
        !readNumber(object, "halfWidth"_L1, mouth.halfWidth))
        return std::nullopt;
    const auto sag = object.value("sag"_L1);
    if (sag.isDouble())
        mouth.sag = sag.toDouble();
    else if (!sag.isUndefined() && !sag.isNull())
        return std::nullopt;
    return mouth;
}

std::optional<ToviAvatarFace> readFace(const QJsonValue &value)
{
    const auto object = value.toObject();
    ToviAvatarFace face;
    if (!value.isObject() || !readNumber(object, "width"_L1, face.width) ||
        !readNumber(object, "height"_L1, face.height) ||
        !readString(object, "skinColor"_L1, face.skinColor) ||
        !readString(object, "scleraColor"_L1, face.scleraColor))
        return std::nullopt;
    const auto left = readEye(object.value("leftEye"_L1));
    const auto right = readEye(object.value("rightEye"_L1));
    const auto mouth = readMouth(object.value("mouth"_L1));
    if (!left || !right || !mouth)
        return std::nullopt;
    face.leftEye = *left;
    face.rightEye = *right;
    face.mouth = *mouth;
    return face;
}

QJsonObject eyeJson(const ToviAvatarFace::Eye &eye)
{
    return {{"x"_L1, eye.x}, {"y"_L1, eye.y}, {"r"_L1, eye.r}};
}

} // namespace

const ToviAvatar &ToviAvatar::classic()
{
    static const ToviAvatar avatar = [] {
        ToviAvatar classic;
        classic.id = u"classic"_s;
        QUrl url(AppIdentifiers::productionOrigin);
        url.setPath(u"/tovi/avatars/classic/image"_s);
        classic.imageURL = url;
        classic.face.width = 498.0;
        classic.face.height = 602.0;
        classic.face.leftEye = {196.3, 183.8, 26.1};
        classic.face.rightEye = {358.3, 184.3, 26.6};
        classic.face.mouth = {284.0, 294.0, 64.8, 0.0};
        classic.face.skinColor = u"#505238"_s;
        classic.face.scleraColor = u"#e3dec7"_s;
        return classic;
    }();
    return avatar;
}

std::optional<ToviAvatar> ToviAvatar::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const auto object = value.toObject();
    ToviAvatar avatar;
    QString url;
    if (!readString(object, "id"_L1, avatar.id) || !readString(object, "imageURL"_L1, url))
        return std::nullopt;
    avatar.imageURL = QUrl(url, QUrl::StrictMode);
    if (url.isEmpty() || !avatar.imageURL.isValid())
        return std::nullopt;
    const auto face = readFace(object.value("face"_L1));
    if (!face)
        return std::nullopt;
    avatar.face = *face;
    return avatar;
}

QJsonObject ToviAvatar::toJson() const
{
    QJsonObject mouth{
        {"x"_L1, face.mouth.x}, {"y"_L1, face.mouth.y}, {"halfWidth"_L1, face.mouth.halfWidth}};
    if (face.mouth.sag)
        mouth.insert("sag"_L1, *face.mouth.sag);
    const QJsonObject faceObject{{"width"_L1, face.width},
                                 {"height"_L1, face.height},
                                 {"leftEye"_L1, eyeJson(face.leftEye)},
                                 {"rightEye"_L1, eyeJson(face.rightEye)},
                                 {"mouth"_L1, mouth},
                                 {"skinColor"_L1, face.skinColor},
                                 {"scleraColor"_L1, face.scleraColor}};
    return {{"id"_L1, id},
            {"imageURL"_L1, imageURL.toString(QUrl::FullyEncoded)},
            {"face"_L1, faceObject}};
}

bool ToviAvatar::isValidCacheName(const QString &name)
{
    if (name.isEmpty() || name.size() > 64 || name.front() == u'-')
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (!((u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'-'))
            return false;
    }
    return true;
}

std::optional<QString> ToviAvatar::cacheName() const
{
    const QUrlQuery query(imageURL);
    QString version;
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == u"v") {
            version = value;
            break;
        }
    }
    const QString name = version.isEmpty() ? id : id + u'-' + version;
    if (!isValidCacheName(name))
        return std::nullopt;
    return name;
}
