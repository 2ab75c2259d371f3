#include "parallel.h"

#include <system_error>
#include <vector>

namespace pricelookup {

namespace {

class ThreadPool {
public:
    bool Run(std::function<void()> job) {
        std::unique_lock<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        if (idle_ >= jobs_.size()) {
            waiting_.notify_one();
            return true;
        }
        try {
            std::thread(&ThreadPool::Work, this).detach();
        } catch (const std::system_error&) {
            jobs_.pop_back();
            return false;
        }
        return true;
    }

private:
    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ++idle_;
            waiting_.wait(lock, [this] { return !jobs_.empty(); });
            --idle_;
            std::function<void()> job = std::move(jobs_.front());
            jobs_.erase(jobs_.begin());
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable waiting_;
    // Never more than a few; a vector keeps its room from one load to the next.
    std::vector<std::function<void()>> jobs_;
    std::size_t idle_ = 0;
};

} // namespace

bool RunOnPoolThread(std::function<void()> job) {
    // Never destroyed: its threads stay parked on it until the process ends.
    static ThreadPool* const pool = new ThreadPool;
    return pool->Run(std::move(job));
}

void PoolJobs::Start(std::size_t count) {
    for (std::size_t t = 0; t < count; ++t) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++pending_;
        }
        if (!RunOnPoolThread([this] { RunJob(); })) {
            std::lock_guard<std::mutex> lock(mutex_);
            --pending_;
            return;
        }
    }
}

void PoolJobs::RunJob() {
    bool run;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        run = !closed_;
    }
    if (run)
        run_(work_);
    std::lock_guard<std::mutex> lock(mutex_);
    --pending_;
    changed_.notify_all();
}

void PoolJobs::Finish(Call idle, void* context, std::chrono::milliseconds period) {
    std::unique_lock<std::mutex> lock(mutex_);
    closed_ = true;
    while (pending_ > 0) {
        if (changed_.wait_for(lock, period, [this] { return pending_ == 0; }))
            break;
        lock.unlock();
        idle(context);
        lock.lock();
    }
}

} // namespace pricelookup
