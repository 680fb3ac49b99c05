#pragma once

#include <QCoreApplication>
#include <QCoroTask>
#include <QEvent>

#include <exception>
#include <optional>

// The value or the exception of a finished task. Waits in a nested event loop; unlike a bare
// QCoro::waitFor, a task that throws ends the wait and hands its exception over.
template <typename T>
struct TaskResult
{
    std::optional<T> value;
    std::exception_ptr error;

    static TaskResult wait(QCoro::Task<T> task)
    {
        TaskResult result;
        QCoro::waitFor(capture(std::move(task), result));
        // The transfer's network objects go with deleteLater(); let them go now rather than
        // at exit.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return result;
    }

private:
    static QCoro::Task<> capture(QCoro::Task<T> task, TaskResult &result)
    {
        try {
            result.value = co_await std::move(task);
        } catch (...) {
            result.error = std::current_exception();
        }
    }
};
