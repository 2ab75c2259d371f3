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
    std::size_t done = 0;
    std::mutex doneMutex;
    std::condition_variable doneChanged;
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
    const std::size_t helpers =
        std::min<std::size_t>(threads > 0 ? threads - 1 : 0, tasks > 0 ? tasks - 1 : 0);
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    try {
        for (std::size_t t = 0; t < helpers; ++t)
            pool.emplace_back([&] {
                work();
                std::lock_guard<std::mutex> lock(doneMutex);
                ++done;
                doneChanged.notify_one();
            });
    } catch (...) {
        // No thread to be had: the ones that started and this one do the work.
    }
    work();
    {
        std::unique_lock<std::mutex> lock(doneMutex);
        while (done < pool.size()) {
            if (doneChanged.wait_for(lock, idlePeriod, [&] { return done == pool.size(); }))
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
    for (std::thread& t : pool)
        t.join();
    if (error)
        std::rethrow_exception(error);
}

template <typename Task> void RunTasks(std::size_t tasks, unsigned threads, Task&& task) {
    RunTasks(
        tasks, threads, std::forward<Task>(task), [] {}, std::chrono::milliseconds(100));
}

} // namespace pricelookup
