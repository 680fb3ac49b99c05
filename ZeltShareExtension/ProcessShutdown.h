#pragma once

#include <atomic>

// How a share process ends: everything it started stops and finishes while the application
// object still exists. Qt's network objects and the worker threads' results must not outlive
// it, and a copy or an image still in the works must not go on filling the disk or the memory
// after the user asked the process to stop.
class ProcessShutdown
{
public:
    // Set once the process is to end. Long work on worker threads (copies, image preparation)
    // reads it between steps and gives up. Any thread; requestStop() is async-signal-safe.
    static const std::atomic<bool> &stopRequested();
    static void requestStop();

    // After the event loop has ended and before the share's objects go: asks the work to stop,
    // aborts the transfers in flight, waits for the worker threads, and runs what they and
    // the transfers hand back until nothing is left in flight.
    static void stopWork();
    // After the share's objects are gone: deletes what they left for deletion.
    static void finish();
};
