#pragma once

// Tells the main application that the shared state changed (a rotated session was written
// back, or the passkey step-up was handed off): a payload-free signal on the session bus,
// path /app/zelt/NativeSharedState, interface app.zelt.NativeSharedState, member Changed.
// No session bus is not an error.
class SharedStateNotifier
{
public:
    // False when there is no session bus or the signal could not be queued.
    static bool post();
};
