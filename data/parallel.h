#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace pricelookup {

// Hands `job` to a thread of the process's pool, which keeps its threads
// parked between jobs: starting a thread for every load cost more than a
// small file's whole load. Starts a thread when none is free; false when no
// thread can be had. A job of one pointer costs the pool no allocation.
bool RunOnPoolThread(std::function<void()> job);

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
    auto work = [&] {
        try {
            for (std::size_t i; !failed.load(std::memory_order_relaxed) &&
                                (i = next.fetch_add(1, std::memory_order_relaxed)) < tasks;)
                task(i);
        } catch (...) {
            std::lock_guard<std::mutex> lock(errorMutex);
            if (!error)
                error = std::current_exception();
            failed = true;
        }
    };
    // The helpers' jobs hold nothing but a pointer here: every byte a load
    // takes is given back before it returns. A job that starts after the
    // calling thread finished its own work finds `closed` and leaves the tasks
    // alone; the calling thread waits until every job is done with this.
    struct Helpers {
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t pending = 0;
        bool closed = false;
        void* work = nullptr;
        void (*run)(void*) = nullptr;
    } helpers;
    helpers.work = &work;
    helpers.run = [](void* w) { (*static_cast<decltype(work)*>(w))(); };
    const std::size_t wanted =
        std::min<std::size_t>(threads > 0 ? threads - 1 : 0, tasks > 0 ? tasks - 1 : 0);
    for (std::size_t t = 0; t < wanted; ++t) {
        {
            std::lock_guard<std::mutex> lock(helpers.mutex);
            ++helpers.pending;
        }
        const bool handed = RunOnPoolThread([h = &helpers] {
            bool run;
            {
                std::lock_guard<std::mutex> lock(h->mutex);
                run = !h->closed;
            }
            if (run)
                h->run(h->work);
            std::lock_guard<std::mutex> lock(h->mutex);
            --h->pending;
            h->changed.notify_all();
        });
        if (!handed) {
            // No thread to be had: the ones that started and this one do the work.
            std::lock_guard<std::mutex> lock(helpers.mutex);
            --helpers.pending;
            break;
        }
    }
    work();
    {
        std::unique_lock<std::mutex> lock(helpers.mutex);
        helpers.closed = true;
        while (helpers.pending > 0) {
            if (helpers.changed.wait_for(lock, idlePeriod, [&] { return helpers.pending == 0; }))
                break;
            lock.unlock();
            try {
                idle();
            } catch (...) {
                std::lock_guard<std::mutex> errorLock(errorMutex);
                if (!error)
                    error = std::current_exception();
                failed = true;
            }
            lock.lock();
        }
    }
    if (error)
        std::rethrow_exception(error);
}

template <typename Task> void RunTasks(std::size_t tasks, unsigned threads, Task&& task) {
    RunTasks(
        tasks, threads, std::forward<Task>(task), [] {}, std::chrono::milliseconds(100));
}

} // namespace pricelookup
