#pragma once

#include "HttpTransfer.h"
#include "NativeSharedSession.h"

#include <QCoroTask>
#include <QPointer>

#include <chrono>

class SessionHolder;
class ServiceEnvironment;

// One cookie-authenticated call to the service, relative to the base origin.
struct ServiceRequest
{
    QByteArray method = "GET";
    // Appended to the base origin's path as segments, e.g. "api/internal/app".
    QString relativePath;
    // Already percent-encoded; set as it is.
    QString encodedQuery;
    QByteArray body;
    // Sent only with a body.
    QByteArray contentType;
    bool acceptJson = true;
    // An inactivity time-out: the call fails when no byte moves for this long.
    std::chrono::milliseconds timeout{std::chrono::seconds(60)};
    QPointer<RequestAbort> abort;
};

// The conventions every service call shares: the request built from the holder's base origin
// and session, one transfer per call, and the response check that keeps the shared session
// current, signs out on a refused session and recognises the step-up demand.
class ServiceClient
{
public:
    // The URL of a relative path under the base origin, with or without its trailing "/".
    static QUrl endpointUrl(const QUrl &baseOrigin, const QString &relativePath);
    static QNetworkRequest buildRequest(const ServiceEnvironment &environment,
                                        const ServiceRequest &request,
                                        const NativeSharedSession &session);

    // Sends the request with the holder's current session and checks the answer. Returns the
    // successful (2xx) answer. Throws ShareError ("Open Zelt and sign in first." without a
    // session or on a refused one; "Zelt did not return a valid response."; the service's
    // message), PasskeyRequiredError, or TransportError.
    static QCoro::Task<HttpResponse> send(QPointer<SessionHolder> holder, ServiceRequest request);

    // The response check, run after every answer of a call made with requestSession. An answer
    // whose body went past the ceiling is checked on its status and headers: a refusal still
    // signs out and a rotation is still kept, but it is never a successful answer.
    static void checkServiceResponse(SessionHolder &holder, const HttpResponse &response,
                                     const NativeSharedSession &requestSession);
};
