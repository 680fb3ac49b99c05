#pragma once

#include "DevServiceOptions.h"

#include <QLatin1StringView>
#include <QString>

#include <memory>

// The development Zelt service: HTTPS on 127.0.0.1, answering the endpoints the share
// extension calls, with a real session model (cookie rotation with a grace period, refusal of
// unknown cookies), real WebAuthn verification for the sudo step-up, signed upload URLs with
// streamed bodies, and the shares it received written to disk. docs/devservice.md describes
// every endpoint.
//
// Requests are served on a pool of threads; the object is safe to stop from any thread.
class DevService
{
public:
    static constexpr QLatin1StringView sessionCookieName{"zelt_session"};
    static constexpr QLatin1StringView deviceCookieName{"zelt_device"};
    // The relying party of the service's passkeys.
    static constexpr QLatin1StringView relyingPartyId{"localhost"};

    // Creates or reuses the certificates under the data directory and reads the saved
    // sessions. Throws std::runtime_error.
    explicit DevService(DevServiceOptions options);
    ~DevService();
    DevService(const DevService &) = delete;
    DevService &operator=(const DevService &) = delete;

    // Takes the port on 127.0.0.1. Throws std::runtime_error when it cannot.
    void bind();
    quint16 port() const;
    // https://localhost:<port>
    QString origin() const;
    QString certificateAuthorityFile() const;
    QString sharesDirectory() const;

    // Serves on the calling thread until stop().
    void run();
    // Binds when needed and serves on a thread of its own.
    void start();
    void stop();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
