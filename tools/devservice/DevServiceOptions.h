#pragma once

#include <QString>

#include <chrono>
#include <functional>

// How one development service behaves; `zelt-devservice serve` sets these from its options.
struct DevServiceOptions
{
    using Clock = std::chrono::system_clock;

    // What the direct upload target does with a PUT.
    enum class DirectUpload {
        Ok,          // stores it
        Fail403,     // refuses it with 403
        FailNetwork, // the upload URL names a port where nothing answers
    };

    // Certificates, the session state, uploads and shares live here.
    QString dataDirectory;
    // 0 takes any free port.
    quint16 port = 8443;
    // The port clients reach the service on, when something stands in front of it (a relay
    // that forwards to port); 0: port itself. Origins and upload URLs name it.
    quint16 publicPort = 0;
    // Shares need an active sudo session, opened with a passkey.
    bool requirePasskey = false;
    // What the step-up asks of the authenticator: "preferred", "required" or "discouraged".
    // Only "required" refuses an assertion without the user-verified flag.
    QString userVerification = QStringLiteral("preferred");
    // Every Nth request of a session rotates its cookie; 0 never does.
    int rotateEvery = 0;
    // How long a rotated-away cookie value is still accepted.
    std::chrono::seconds rotationGrace{60};
    std::chrono::seconds sudoDuration{300};
    std::chrono::seconds uploadUrlLifetime{900};
    std::chrono::seconds passkeyAttemptLifetime{300};
    DirectUpload directUpload = DirectUpload::Ok;
    // Added before every answer.
    std::chrono::milliseconds latency{0};
    // The service's notion of now; tests move it by hand. Default: the system clock.
    std::function<Clock::time_point()> clock;
    // Receives one line per request. Default: standard error.
    std::function<void(const QString &line)> log;
};
