#pragma once

#include "HttpTransfer.h"
#include "ShareDestination.h"
#include "avatar/ToviAvatar.h"

#include <QCoroTask>
#include <QList>
#include <QPointer>

#include <optional>

class SessionHolder;

// The destinations answer: recent threads (or those matching a search), whether Tovi can be
// offered, whether sending will need the passkey step-up, and Tovi's avatar.
struct ShareDestinations
{
    bool toviAvailable = false;
    std::optional<bool> passkeyRequired; // absent: not stated
    QList<ShareDestinationThread> threads;
    std::optional<ToviAvatar> toviAvatar;

    // One bad thread or a present but invalid avatar fails the whole answer.
    static std::optional<ShareDestinations> fromJson(const QByteArray &body);

    // "q=<text>" with everything but unreserved characters percent-encoded, so "+" reaches the
    // service as "%2B" and a space as "%20".
    static QString encodedQuery(const QString &query);

    // GET api/tovi/native-share/destinations, with "q" when a query is given (even an empty
    // one). Throws ShareError "Zelt did not return a valid response." for an answer that does
    // not decode, besides the errors of every service call.
    static QCoro::Task<ShareDestinations> fetch(QPointer<SessionHolder> holder,
                                                std::optional<QString> query,
                                                QPointer<RequestAbort> abort = nullptr);
};
