#include "SudoPasskey.h"

#include "service/ServiceError.h"

#include <QCoreApplication>
#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace SudoPasskey {

std::optional<Options> Options::fromJson(const QJsonValue &value)
{
    const auto object = value.toObject();
    const auto attempt = object.value("passkeyAttemptID"_L1);
    const auto challenge = object.value("challenge"_L1);
    const auto rpID = object.value("rpID"_L1);
    const auto allowed = object.value("allowCredentialIDs"_L1);
    const auto verification = object.value("userVerification"_L1);
    if (!value.isObject() || !attempt.isString() || !challenge.isString() || !rpID.isString() ||
        !allowed.isArray() || !verification.isString())
        return std::nullopt;
    Options options{
        attempt.toString(), challenge.toString(), rpID.toString(), {}, verification.toString()};
    for (const auto &id : allowed.toArray()) {
        if (!id.isString())
            return std::nullopt;
        options.allowCredentialIDs.append(id.toString());
    }
    return options;
}

QJsonObject Completion::toJson() const
{
    QJsonObject assertion{{"clientDataJSON"_L1, response.response.clientDataJSON},
                          {"authenticatorData"_L1, response.response.authenticatorData},
                          {"signature"_L1, response.response.signature}};
    if (response.response.userHandle)
        assertion.insert("userHandle"_L1, *response.response.userHandle);
    const QJsonObject credential{{"id"_L1, response.id},
                                 {"rawId"_L1, response.rawId},
                                 {"type"_L1, response.type},
                                 {"response"_L1, assertion},
                                 {"clientExtensionResults"_L1, QJsonObject{}},
                                 {"authenticatorAttachment"_L1, response.authenticatorAttachment}};
    return {{"passkeyAttemptID"_L1, passkeyAttemptID}, {"response"_L1, credential}};
}

CeremonyError::CeremonyError(Kind kind)
    : UserFacingError(kind == Kind::canceled ? "passkey ceremony canceled"
                                             : "invalid passkey options")
    , m_kind(kind)
{}

QString CeremonyError::errorDescription() const
{
    if (m_kind == Kind::canceled)
        return QCoreApplication::translate("SudoPasskey", "Passkey authentication was canceled.");
    return ServiceText::invalidResponse();
}

std::optional<QByteArray> base64URLDecode(const QString &text)
{
    QByteArray standard;
    standard.reserve(text.size() + 3);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool alphabet = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') ||
                              (u >= u'0' && u <= u'9') || u == u'+' || u == u'/';
        if (u == u'-')
            standard.append('+');
        else if (u == u'_')
            standard.append('/');
        else if (alphabet || u == u'=')
            standard.append(char(u));
        else
            return std::nullopt;
    }
    standard.append((4 - standard.size() % 4) % 4, '=');

    // Padding only at the end, at most two characters of it.
    const auto firstPad = standard.indexOf('=');
    if (firstPad >= 0) {
        const auto padding = standard.size() - firstPad;
        if (padding > 2 || standard.mid(firstPad).count('=') != padding)
            return std::nullopt;
    }
    auto decoded =
        QByteArray::fromBase64Encoding(standard, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

QString base64URLEncode(const QByteArray &bytes)
{
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

AssertionParameters assertionParameters(const Options &options)
{
    const auto challenge = base64URLDecode(options.challenge);
    if (!challenge)
        throw CeremonyError(CeremonyError::Kind::invalidOptions);
    AssertionParameters parameters{options.rpID, *challenge, {}, options.userVerification};
    for (const auto &text : options.allowCredentialIDs) {
        if (const auto id = base64URLDecode(text))
            parameters.allowedCredentialIDs.append(*id);
    }
    return parameters;
}

Completion completion(const Credential &credential, const QString &passkeyAttemptID)
{
    Completion result;
    result.passkeyAttemptID = passkeyAttemptID;
    result.response.id = base64URLEncode(credential.id);
    result.response.rawId = result.response.id;
    result.response.type = u"public-key"_s;
    result.response.response.clientDataJSON = base64URLEncode(credential.clientDataJSON);
    result.response.response.authenticatorData = base64URLEncode(credential.authenticatorData);
    result.response.response.signature = base64URLEncode(credential.signature);
    if (credential.userHandle)
        result.response.response.userHandle = base64URLEncode(*credential.userHandle);
    result.response.authenticatorAttachment =
        credential.isPlatform ? u"platform"_s : u"cross-platform"_s;
    return result;
}

QCoro::Task<Options> beginSudoPasskeyAuthentication(QPointer<SessionHolder> holder)
{
    co_return co_await InternalAppAPI::call<Options>(
        std::move(holder), u"beginSudoPasskeyAuthentication"_s, QJsonObject{});
}

QCoro::Task<SudoSessionResult> completeSudoPasskeyAuthentication(QPointer<SessionHolder> holder,
                                                                 Completion completion)
{
    co_return co_await InternalAppAPI::call<SudoSessionResult>(
        std::move(holder), u"completeSudoPasskeyAuthentication"_s, completion.toJson());
}

} // namespace SudoPasskey
