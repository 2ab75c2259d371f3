#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace pricelookup {

// The same piece of work handed to threads of the process's pool, and waited
// for. The pool keeps its threads parked between jobs: starting a thread for
// every load cost more than a small file's whole load. The jobs hold nothing
// but a pointer: every byte a load takes is given back before it returns. A
// job that no thread has taken yet when Finish is called is taken back, so
// that work the caller did alone never waits for a thread to wake.
class PoolJobs {
public:
    using Call = void (*)(void*);
    PoolJobs(Call run, void* work) : run_(run), work_(work) {}
    PoolJobs(const PoolJobs&) = delete;
    PoolJobs& operator=(const PoolJobs&) = delete;

    // Hands the work to up to `count` pool threads; stops at the first that
    // cannot be had, so that the ones that started and the caller do it.
    void Start(std::size_t count);
    // Takes back the jobs no thread has started, and waits until the others
    // are done, calling idle(context) every `period` meanwhile.
    void Finish(Call idle, void* context, std::chrono::milliseconds period);

private:
    void RunJob();

    Call run_;
    void* work_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t pending_ = 0;
};

// Runs task(i) for every i below `tasks` on up to `threads` threads, the
// calling one among them, each taking the next task as it finishes one. When
// the calling thread has no task left it calls idle() every `idlePeriod`
// until the others are done. The first exception a task throws is thrown here
// once every thread has stopped; the tasks not yet started then do not run.
template <typename Task, typename Idle>
void RunTasks(std::size_t tasks, unsigned threads, Task&& task, Idle&& idle,
              std::chrono::milliseconds idlePeriod) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex errorMutex;
    auto keepFirstError = [&] {
        std::lock_guard<std::mutex> lock(errorMutex);
        if (!error)
            error = std::current_exception();
        failed = true;
    };
    auto work = [&] {
        try {
            for (std::size_t i; !failed.load(std::memory_order_relaxed) &&
                                (i = next.fetch_add(1, std::memory_order_relaxed)) < tasks;)
                task(i);
        } catch (...) {
            keepFirstError();
        }
    };
    auto checkedIdle = [&] {
        try {
            idle();
        } catch (...) {
            keepFirstError();
        }
    };
    PoolJobs jobs([](void* w) { (*static_cast<decltype(work)*>(w))(); }, &work);
    jobs.Start(std::min<std::size_t>(threads > 0 ? threads - 1 : 0, tasks > 0 ? tasks - 1 : 0));
    work();
    jobs.Finish([](void* i) { (*static_cast<decltype(checkedIdle)*>(i))(); }, &checkedIdle,
                idlePeriod);
    if (error)
        std::rethrow_exception(error);
}

template <typename Task> void RunTasks(std::size_t tasks, unsigned threads, Task&& task) {
    RunTasks(
        tasks, threads, std::forward<Task>(task), [] {}, std::chrono::milliseconds(100));
}

} // namespace pricelookup
