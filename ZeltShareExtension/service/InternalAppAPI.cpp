#include "InternalAppAPI.h"

#include "ServiceClient.h"
#include "ServiceError.h"
#include "SessionHolder.h"

#include <QJsonDocument>

using namespace Qt::StringLiterals;

QByteArray InternalAppAPI::requestBody(const QString &method, const QJsonObject &params)
{
    return QJsonDocument(QJsonObject{{"method"_L1, method}, {"params"_L1, params}})
        .toJson(QJsonDocument::Compact);
}

std::optional<InternalAppAPI::Envelope>
InternalAppAPI::decodeEnvelope(const QByteArray &body,
                               const std::function<bool(const QJsonValue &)> &resultDecodes)
{
    QJsonParseError parseError{};
    const auto document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const auto object = document.object();

    Envelope envelope;
    const auto ok = object.value("ok"_L1);
    if (!ok.isBool())
        return std::nullopt;
    envelope.ok = ok.toBool();

    const auto result = object.value("result"_L1);
    if (!result.isUndefined() && !result.isNull()) {
        if (!resultDecodes(result))
            return std::nullopt;
        envelope.result = result;
    }

    const auto error = object.value("error"_L1);
    if (!error.isUndefined() && !error.isNull()) {
        const auto message = error.toObject().value("message"_L1);
        if (!error.isObject() || !message.isString())
            return std::nullopt;
        envelope.errorMessage = message.toString();
    }
    return envelope;
}

QCoro::Task<QJsonValue> InternalAppAPI::call(QPointer<SessionHolder> holder, QString method,
                                             QJsonObject params,
                                             std::function<bool(const QJsonValue &)> resultDecodes)
{
    if (!holder || !holder->sharedSession())
        throw ShareError(ServiceText::signInFirst());

    ServiceRequest request;
    request.method = "POST";
    request.relativePath = u"api/internal/app"_s;
    request.body = requestBody(method, params);
    request.contentType = "application/json";
    request.timeout = holder->environment()->timeouts().internalApp;

    const auto response = co_await ServiceClient::send(holder, std::move(request));
    const auto envelope = decodeEnvelope(response.body, resultDecodes);
    if (!envelope)
        throw ShareError(ServiceText::invalidResponse());
    if (envelope->ok && envelope->result)
        co_return *envelope->result;
    throw ShareError(envelope->errorMessage.value_or(ServiceText::invalidResponse()));
}

std::optional<SudoSessionResult> SudoSessionResult::fromJson(const QJsonValue &value)
{
    const auto active = value.toObject().value("isSudoSessionActive"_L1);
    if (!value.isObject() || !active.isBool())
        return std::nullopt;
    return SudoSessionResult{active.toBool()};
}
