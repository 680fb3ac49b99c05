#include "ShareDestinations.h"

#include "ServiceClient.h"
#include "ServiceError.h"
#include "SessionHolder.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

std::optional<ShareDestinations> ShareDestinations::fromJson(const QByteArray &body)
{
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const auto object = document.object();

    ShareDestinations destinations;
    const auto toviAvailable = object.value("toviAvailable"_L1);
    const auto threads = object.value("threads"_L1);
    if (!toviAvailable.isBool() || !threads.isArray())
        return std::nullopt;
    destinations.toviAvailable = toviAvailable.toBool();

    const auto passkeyRequired = object.value("passkeyRequired"_L1);
    if (passkeyRequired.isBool())
        destinations.passkeyRequired = passkeyRequired.toBool();
    else if (!passkeyRequired.isUndefined() && !passkeyRequired.isNull())
        return std::nullopt;

    for (const auto &value : threads.toArray()) {
        const auto thread = ShareDestinationThread::fromJson(value);
        if (!thread)
            return std::nullopt;
        destinations.threads.append(*thread);
    }

    const auto avatar = object.value("toviAvatar"_L1);
    if (!avatar.isUndefined() && !avatar.isNull()) {
        destinations.toviAvatar = ToviAvatar::fromJson(avatar);
        if (!destinations.toviAvatar)
            return std::nullopt;
    }
    return destinations;
}

QString ShareDestinations::encodedQuery(const QString &query)
{
    return u"q="_s + QString::fromLatin1(query.toUtf8().toPercentEncoding());
}

QCoro::Task<ShareDestinations> ShareDestinations::fetch(QPointer<SessionHolder> holder,
                                                        std::optional<QString> query,
                                                        QPointer<RequestAbort> abort)
{
    if (!holder || !holder->sharedSession())
        throw ShareError(ServiceText::signInFirst());

    ServiceRequest request;
    request.relativePath = u"api/tovi/native-share/destinations"_s;
    if (query)
        request.encodedQuery = encodedQuery(*query);
    if (!ServiceClient::endpointUrl(holder->baseOrigin(), request.relativePath).isValid())
        throw ShareError(ServiceText::unreachable());
    request.timeout = holder->environment()->timeouts().destinations;
    request.abort = abort;

    const auto response = co_await ServiceClient::send(holder, std::move(request));
    auto destinations = fromJson(response.body);
    if (!destinations)
        throw ShareError(ServiceText::invalidResponse());
    co_return std::move(*destinations);
}
