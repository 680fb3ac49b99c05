// zelt-activation-token: prints an activation token that the compositor of WAYLAND_DISPLAY issues
// (xdg-activation), as a launcher asks for one for the program it starts. Exits 1 when the
// compositor has no xdg-activation or issues none.
#include "xdg-activation-v1-client-protocol.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <wayland-client.h>

namespace {

struct State
{
    xdg_activation_v1 *activation = nullptr;
    std::string token;
    bool done = false;
};

void announced(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    auto &state = *static_cast<State *>(data);
    if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0)
        state.activation = static_cast<xdg_activation_v1 *>(
            wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
}

void removed(void *, wl_registry *, uint32_t) {}

const wl_registry_listener registryListener{announced, removed};

void issued(void *data, xdg_activation_token_v1 *, const char *token)
{
    auto &state = *static_cast<State *>(data);
    state.token = token;
    state.done = true;
}

const xdg_activation_token_v1_listener tokenListener{issued};

} // namespace

int main()
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fputs("zelt-activation-token: no compositor\n", stderr);
        return 1;
    }
    State state;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &state);
    wl_display_roundtrip(display);
    if (!state.activation) {
        std::fputs("zelt-activation-token: the compositor has no xdg-activation\n", stderr);
        return 1;
    }
    xdg_activation_token_v1 *token = xdg_activation_v1_get_activation_token(state.activation);
    xdg_activation_token_v1_add_listener(token, &tokenListener, &state);
    xdg_activation_token_v1_set_app_id(token, "app.zelt.ZeltShare");
    xdg_activation_token_v1_commit(token);
    while (!state.done && wl_display_dispatch(display) >= 0) {
    }
    if (state.token.empty())
        return 1;
    std::printf("%s\n", state.token.c_str());
    xdg_activation_token_v1_destroy(token);
    xdg_activation_v1_destroy(state.activation);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
