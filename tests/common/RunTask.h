#pragma once

#include <QEventLoop>

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>

// Runs a task to its end in a nested event loop and returns its result or rethrows its exception.
// (QCoro::waitFor never returns when the task throws.) For tests only.
namespace detail {
template <class T>
QCoro::Task<> driveTask(QCoro::Task<T>& task, std::optional<T>& result, std::exception_ptr& error, bool& done,
                        QEventLoop& loop) {
    try {
        result.emplace(co_await task);
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

inline QCoro::Task<> driveTask(QCoro::Task<>& task, std::exception_ptr& error, bool& done, QEventLoop& loop) {
    try {
        co_await task;
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}
} // namespace detail

template <class T> T runTask(QCoro::Task<T> task) {
    QEventLoop loop;
    std::optional<T> result;
    std::exception_ptr error;
    bool done = false;
    detail::driveTask(task, result, error, done, loop);
    if (!done) {
        loop.exec();
    }
    if (error) {
        std::rethrow_exception(error);
    }
    return std::move(*result);
}

inline void runTask(QCoro::Task<> task) {
    QEventLoop loop;
    std::exception_ptr error;
    bool done = false;
    detail::driveTask(task, error, done, loop);
    if (!done) {
        loop.exec();
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

// Runs the task and returns the exception of type E it ends with; fails the test when it ends otherwise.
template <class E, class T> E expectFailure(QCoro::Task<T> task) {
    try {
        runTask(std::move(task));
    } catch (const E& error) {
        return error;
    }
    qFatal("the task did not fail with the expected error");
}
