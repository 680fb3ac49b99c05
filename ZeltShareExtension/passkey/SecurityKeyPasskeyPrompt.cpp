#include "SecurityKeyPasskeyPrompt.h"

#include "Logging.h"
#include "service/ServiceError.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroSignal>
#include <QCoroTimer>
#include <QPromise>
#include <QScopeGuard>

#include <atomic>
#include <fido.h>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

struct Text
{
    Q_DECLARE_TR_FUNCTIONS(SecurityKeyPasskeyPrompt)
};

// An open device and the assertion it is asked for. Shared with the threads that talk to the
// key, so that a cancel from the main thread always finds both alive.
struct Session
{
    fido_dev_t *device = fido_dev_new();
    fido_assert_t *assertion = fido_assert_new();
    // Set by the thread that opened the device.
    std::atomic<bool> open = false;

    ~Session()
    {
        if (open)
            fido_dev_close(device);
        fido_dev_free(&device);
        fido_assert_free(&assertion);
    }
};

// One libfido2 call that talks to the key, on a thread of its own that keeps what the call
// uses. Its result is settled once: by the call, or by Cancel, which does not wait for a key that
// may never answer. Such a key keeps its thread until it answers or is pulled out; neither the
// ceremony nor the process waits for it, and the main thread never blocks on a key.
struct KeyCall
{
    std::mutex mutex;
    bool settled = false;
    QPromise<int> promise;

    KeyCall() { promise.start(); }

    static std::shared_ptr<KeyCall> start(std::function<int()> call)
    {
        auto keyCall = std::make_shared<KeyCall>();
        std::thread([keyCall, call = std::move(call)] { keyCall->settle(call()); }).detach();
        return keyCall;
    }

    void settle(int status)
    {
        const std::lock_guard lock(mutex);
        if (settled)
            return;
        settled = true;
        promise.addResult(status);
        promise.finish();
    }
};

QString pinBlockedMessage()
{
    return Text::tr("The security key's PIN is blocked.");
}

QByteArray bytes(const unsigned char *data, size_t length)
{
    return data ? QByteArray(reinterpret_cast<const char *>(data), qsizetype(length))
                : QByteArray();
}

} // namespace

SecurityKeyPasskeyPrompt::SecurityKeyPasskeyPrompt(
    SecurityKeyPresenter *presenter, std::shared_ptr<const SecurityKeyDevices> devices)
    : m_presenter(presenter)
    , m_devices(std::move(devices))
{
    fido_init(0);
}

QByteArray SecurityKeyPasskeyPrompt::unwrapByteString(const QByteArray &cbor)
{
    if (cbor.isEmpty() || (quint8(cbor[0]) >> 5) != 2)
        return {};
    const quint8 additional = quint8(cbor[0]) & 0x1f;
    qsizetype header = 1;
    quint64 length = additional;
    if (additional >= 24) {
        if (additional > 27)
            return {};
        header = 1 + (qsizetype(1) << (additional - 24));
        if (cbor.size() < header)
            return {};
        length = 0;
        for (qsizetype i = 1; i < header; ++i)
            length = (length << 8) | quint8(cbor[i]);
    }
    if (quint64(cbor.size() - header) != length)
        return {};
    return cbor.mid(header);
}

QCoro::Task<SudoPasskeyPrompt::Credential>
SecurityKeyPasskeyPrompt::requestAssertion(SudoPasskey::AssertionParameters parameters)
{
    using SudoPasskey::CeremonyError;
    if (!m_presenter)
        throw ShareError(Text::tr("Zelt could not show the passkey prompt."));
    QPointer<SecurityKeyPresenter> presenter = m_presenter;
    bool canceled = false;
    // Open Zelt Instead: stopped as by Cancel, but the step goes to the main application.
    bool handedOff = false;
    const auto stopped = [&handedOff]() -> std::exception_ptr {
        if (handedOff)
            return std::make_exception_ptr(
                ShareError(Text::tr("The passkey is to be used through Zelt instead.")));
        return std::make_exception_ptr(CeremonyError(CeremonyError::Kind::canceled));
    };
    auto session = std::make_shared<Session>();
    // The call the key is busy with; Cancel settles it.
    std::shared_ptr<KeyCall> keyCall;
    // The connection reaches into this frame: it is cut before the frame ends, whichever way.
    const auto cancelConnection =
        QObject::connect(presenter, &SecurityKeyPresenter::cancelRequested, presenter,
                         [&canceled, &keyCall, session] {
                             canceled = true;
                             if (session->open)
                                 fido_dev_cancel(session->device);
                             if (keyCall)
                                 keyCall->settle(FIDO_ERR_KEEPALIVE_CANCEL);
                         });
    const auto handOffConnection = QObject::connect(
        presenter, &SecurityKeyPresenter::handOffRequested, presenter, [&handedOff, presenter] {
            handedOff = true;
            if (presenter)
                Q_EMIT presenter->cancelRequested();
        });
    const auto finish = qScopeGuard([presenter, cancelConnection, handOffConnection] {
        QObject::disconnect(cancelConnection);
        QObject::disconnect(handOffConnection);
        if (presenter)
            presenter->close();
    });

    // Wait for a key to be plugged in; with several, the first one found is used.
    const auto devices = m_devices;
    presenter->show(SecurityKeyPresenter::Step::InsertKey);
    QByteArray path = devices->paths().value(0);
    while (path.isEmpty()) {
        co_await QCoro::sleepFor(500ms);
        if (canceled || !presenter)
            std::rethrow_exception(stopped());
        path = devices->paths().value(0);
    }
    // Opening asks the key for its channel and its capabilities.
    keyCall = KeyCall::start([session, devices, path] {
        if (!devices->prepare(session->device, path))
            return FIDO_ERR_INVALID_ARGUMENT;
        const int status = fido_dev_open(session->device, path.constData());
        session->open = status == FIDO_OK;
        return status;
    });
    // A named future: temporaries inside a co_await expression are not safe with GCC 12.
    auto opening = keyCall->promise.future();
    const int opened = co_await opening;
    if (canceled || !presenter)
        std::rethrow_exception(stopped());
    if (opened != FIDO_OK)
        throw ShareError(Text::tr("The security key could not be opened."));

    const QByteArray clientData =
        clientDataJSON(parameters.challenge, parameters.relyingPartyIdentifier);
    const QByteArray rpID = parameters.relyingPartyIdentifier.toUtf8();
    fido_assert_set_rp(session->assertion, rpID.constData());
    fido_assert_set_clientdata(session->assertion,
                               reinterpret_cast<const unsigned char *>(clientData.constData()),
                               size_t(clientData.size()));
    for (const auto &id : parameters.allowedCredentialIDs)
        fido_assert_allow_cred(session->assertion,
                               reinterpret_cast<const unsigned char *>(id.constData()),
                               size_t(id.size()));
    fido_assert_set_up(session->assertion, FIDO_OPT_TRUE);

    // A key with a PIN and no built-in verification verifies the user by its PIN, unless the
    // service discourages verification.
    const bool builtInVerification = fido_dev_has_uv(session->device);
    const bool hasPin = fido_dev_has_pin(session->device);
    const bool verify =
        parameters.userVerification != u"discouraged" &&
        (builtInVerification || hasPin || parameters.userVerification == u"required");
    fido_assert_set_uv(session->assertion,
                       verify && builtInVerification ? FIDO_OPT_TRUE : FIDO_OPT_OMIT);

    std::optional<QByteArray> pin;
    bool wrongPin = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (verify && !builtInVerification) {
            if (!hasPin)
                throw ShareError(Text::tr("This security key has no PIN to verify you with."));
            keyCall = KeyCall::start([session] {
                int retries = -1;
                return fido_dev_get_retry_count(session->device, &retries) == FIDO_OK ? retries
                                                                                      : -1;
            });
            auto counting = keyCall->promise.future();
            const int retries = co_await counting;
            if (canceled || !presenter)
                std::rethrow_exception(stopped());
            // A blocked PIN is refused whatever the user types: no use asking for one.
            if (retries == 0)
                throw ShareError(pinBlockedMessage());
            const auto typed = co_await presenter->requestPin(retries, wrongPin);
            if (!typed || canceled || !presenter)
                std::rethrow_exception(stopped());
            pin = typed->toUtf8();
        }
        presenter->show(SecurityKeyPresenter::Step::TouchKey);
        // The call keeps a copy of the PIN: it may outlive this frame.
        keyCall = KeyCall::start([session, pin] {
            return fido_dev_get_assert(session->device, session->assertion,
                                       pin ? pin->constData() : nullptr);
        });
        auto waiting = keyCall->promise.future();
        const int status = co_await waiting;
        if (canceled || status == FIDO_ERR_KEEPALIVE_CANCEL)
            std::rethrow_exception(stopped());
        if (status == FIDO_ERR_PIN_INVALID) {
            wrongPin = true;
            continue;
        }
        if (status == FIDO_ERR_NO_CREDENTIALS)
            throw ShareError(Text::tr("This security key is not registered with Zelt."));
        if (status == FIDO_ERR_PIN_BLOCKED)
            throw ShareError(pinBlockedMessage());
        if (status == FIDO_ERR_PIN_AUTH_BLOCKED)
            throw ShareError(
                Text::tr("The security key refused too many PINs. Remove it and insert it again."));
        if (status != FIDO_OK || fido_assert_count(session->assertion) < 1)
            throw ShareError(Text::tr("The security key failed: %1")
                                 .arg(QString::fromUtf8(fido_strerr(status))));

        Credential credential;
        credential.id = bytes(fido_assert_id_ptr(session->assertion, 0),
                              fido_assert_id_len(session->assertion, 0));
        credential.clientDataJSON = clientData;
        credential.authenticatorData =
            unwrapByteString(bytes(fido_assert_authdata_ptr(session->assertion, 0),
                                   fido_assert_authdata_len(session->assertion, 0)));
        credential.signature = bytes(fido_assert_sig_ptr(session->assertion, 0),
                                     fido_assert_sig_len(session->assertion, 0));
        if (fido_assert_user_id_len(session->assertion, 0) > 0)
            credential.userHandle = bytes(fido_assert_user_id_ptr(session->assertion, 0),
                                          fido_assert_user_id_len(session->assertion, 0));
        credential.isPlatform = false;
        // Without data and signature the assertion is not one the service can check.
        if (credential.authenticatorData.isEmpty() || credential.signature.isEmpty())
            throw CeremonyError(CeremonyError::Kind::invalidOptions);
        co_return credential;
    }
    throw ShareError(Text::tr("The security key refused the PIN."));
}
