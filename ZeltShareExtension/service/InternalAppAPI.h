#pragma once

#include <QCoroTask>
#include <QJsonObject>
#include <QJsonValue>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class SessionHolder;

// The service's internal remote-procedure endpoint: {"method", "params"} in, an envelope
// {"ok", "result", "error": {"message"}} out.
class InternalAppAPI
{
public:
    struct Envelope
    {
        bool ok = false;
        std::optional<QJsonValue> result;
        std::optional<QString> errorMessage;
    };

    // {"method":…,"params":…}; params are always written, an empty map as {}.
    static QByteArray requestBody(const QString &method, const QJsonObject &params);

    // None when the body is not an envelope: "ok" not a Boolean, a present "error" without a
    // string "message", or a present "result" that resultDecodes refuses.
    static std::optional<Envelope>
    decodeEnvelope(const QByteArray &body,
                   const std::function<bool(const QJsonValue &)> &resultDecodes);

    // The call's result, once it decoded as the caller's type. Throws ShareError with the
    // envelope's error message, or "Zelt did not return a valid response.", besides the errors
    // of every service call.
    static QCoro::Task<QJsonValue> call(QPointer<SessionHolder> holder, QString method,
                                        QJsonObject params,
                                        std::function<bool(const QJsonValue &)> resultDecodes);

    // R provides static std::optional<R> fromJson(const QJsonValue &).
    template <typename R>
    static QCoro::Task<R> call(QPointer<SessionHolder> holder, QString method, QJsonObject params)
    {
        const auto result =
            co_await call(std::move(holder), std::move(method), std::move(params),
                          [](const QJsonValue &value) { return R::fromJson(value).has_value(); });
        co_return *R::fromJson(result);
    }
};

// The result of "completeSudoPasskeyAuthentication".
struct SudoSessionResult
{
    bool isSudoSessionActive = false;

    static std::optional<SudoSessionResult> fromJson(const QJsonValue &value);
};
