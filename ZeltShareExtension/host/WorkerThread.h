#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace WorkerThread {

// What a function run on a worker thread gave: its value or its exception. QtConcurrent wraps
// an exception that is not a QException, so it is carried across by hand.
template <typename T>
struct Outcome
{
    std::optional<T> value;
    std::exception_ptr error;
};

template <>
struct Outcome<void>
{
    std::exception_ptr error;
};

namespace detail {

template <typename Result>
QCoro::Task<Result> outcomeOf(QFuture<Outcome<Result>> future)
{
    // Awaited as a named object: GCC 12 destroys some temporaries of a co_await expression
    // twice, so none is made there.
    Outcome<Result> outcome = co_await future;
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    if constexpr (!std::is_void_v<Result>)
        co_return std::move(*outcome.value);
}

} // namespace detail

// Runs function on the global thread pool and resumes the awaiting coroutine on its own thread
// with the function's result, or rethrows there what the function threw. The function is
// moved to the worker; it must not touch objects of the awaiting thread.
//
// Not a coroutine itself: a lambda made inside a coroutine frame from one of its parameters is
// another case that compiler mishandles.
template <typename Function, typename Result = std::invoke_result_t<Function &>>
QCoro::Task<Result> run(Function function)
{
    auto future = QtConcurrent::run([function = std::move(function)]() mutable {
        Outcome<Result> result;
        try {
            if constexpr (std::is_void_v<Result>)
                function();
            else
                result.value.emplace(function());
        } catch (...) {
            result.error = std::current_exception();
        }
        return result;
    });
    return detail::outcomeOf<Result>(std::move(future));
}

} // namespace WorkerThread
