#include "ProcessShutdown.h"

#include "service/HttpTransfer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThreadPool>

namespace {

std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// The work of worker threads that reads the stop flag ends within a fraction of a second;
// anything else (a security key waiting for a touch) is not waited for past this.
constexpr int workerWaitMilliseconds = 800;

void drainEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

const std::atomic<bool> &ProcessShutdown::stopRequested()
{
    return stopFlag;
}

void ProcessShutdown::requestStop()
{
    stopFlag.store(true, std::memory_order_relaxed);
}

void ProcessShutdown::stopWork()
{
    requestStop();
    HttpTransfer::abortAll();
    const QDeadlineTimer deadline(workerWaitMilliseconds);
    // A worker's result resumes its coroutine through an event, which may start the next step;
    // that step fails at once now, so this settles after a few rounds.
    for (int round = 0; round < 100; ++round) {
        QThreadPool::globalInstance()->waitForDone(int(deadline.remainingTime()));
        drainEvents();
        if (HttpTransfer::liveTransfers() == 0 &&
            QThreadPool::globalInstance()->activeThreadCount() == 0)
            break;
        if (deadline.hasExpired() && HttpTransfer::liveTransfers() == 0)
            break;
    }
}

void ProcessShutdown::finish()
{
    drainEvents();
}
