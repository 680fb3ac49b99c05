#include "DisplayServer.h"

#include <QDeadlineTimer>
#include <QtGlobal>

#include <cerrno>
#include <poll.h>
#include <string_view>
#include <wayland-client.h>

using namespace Qt::StringLiterals;

namespace {

// Long enough for a loaded machine; a compositor slower than that gets the choices that are
// safe without an answer.
constexpr int answerTimeout = 3000;

struct Globals
{
    bool seat = false;
    bool decorationManager = false;
    bool activation = false;
    bool answered = false;
};

void announced(void *data, wl_registry *, uint32_t, const char *interface, uint32_t)
{
    auto &globals = *static_cast<Globals *>(data);
    const std::string_view name(interface);
    if (name == "wl_seat")
        globals.seat = true;
    else if (name == "zxdg_decoration_manager_v1")
        globals.decorationManager = true;
    else if (name == "xdg_activation_v1")
        globals.activation = true;
}

void removed(void *, wl_registry *, uint32_t) {}

const wl_registry_listener registryListener{announced, removed};

void synced(void *data, wl_callback *, uint32_t)
{
    static_cast<Globals *>(data)->answered = true;
}

const wl_callback_listener syncListener{synced};

// The globals arrive before the answer to a sync that follows the registry request. Waits for
// that answer no longer than the deadline, where wl_display_roundtrip would wait for ever.
void waitForAnswer(wl_display *display, Globals &globals)
{
    const QDeadlineTimer deadline(answerTimeout);
    while (!globals.answered) {
        if (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0)
                return;
            continue;
        }
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            return;
        }
        pollfd ready{wl_display_get_fd(display), POLLIN, 0};
        const int count = ::poll(&ready, 1, int(deadline.remainingTime()));
        if (count <= 0) {
            wl_display_cancel_read(display);
            if (count < 0 && errno == EINTR && !deadline.hasExpired())
                continue;
            return;
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
            return;
    }
}

bool mayUseWayland()
{
    // Qt connects to Wayland only where its platform is chosen so, or left to it.
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    return platform.isEmpty() || platform.contains(u"wayland"_s);
}

} // namespace

DisplayServer DisplayServer::probe()
{
    DisplayServer server;
    if (!mayUseWayland())
        return server;
    // A connection handed over in WAYLAND_SOCKET can be taken once, and it is Qt's.
    if (qEnvironmentVariableIsSet("WAYLAND_SOCKET")) {
        server.m_reachable = true;
        return server;
    }
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return server;
    server.m_reachable = true;
    Globals globals;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    wl_callback *sync = wl_display_sync(display);
    wl_callback_add_listener(sync, &syncListener, &globals);
    waitForAnswer(display, globals);
    wl_callback_destroy(sync);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (globals.answered) {
        server.m_probed = true;
        server.m_seat = globals.seat;
        server.m_decorationManager = globals.decorationManager;
        server.m_activation = globals.activation;
    }
    return server;
}

DisplayServer DisplayServer::prepare()
{
    DisplayServer server = probe();
    if (server.m_reachable && !server.m_seat && !qEnvironmentVariableIsSet("QT_IM_MODULE")) {
        qputenv("QT_IM_MODULE", "compose");
        server.m_choseInputMethod = true;
    }
    return server;
}

void DisplayServer::applicationStarted() const
{
    // Qt has read it while connecting, and does not read it again: the choice holds.
    if (m_choseInputMethod)
        qunsetenv("QT_IM_MODULE");
}

DisplayServer::WindowFrame DisplayServer::windowFrame(const QString &platformName) const
{
    if (!platformName.startsWith(u"wayland"_s))
        return WindowFrame::System;
    // Qt asks for server-side decorations wherever the compositor offers them.
    return m_decorationManager ? WindowFrame::ServerDecorated : WindowFrame::Sheet;
}
