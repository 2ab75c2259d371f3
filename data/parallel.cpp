#include "parallel.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace pricelookup {

namespace {

// Threads parked on a queue of jobs. A job is a call and its argument, so
// handing one over allocates nothing once the queue has its room.
class ThreadPool {
public:
    static ThreadPool& Instance() {
        // Never destroyed: its threads stay parked on it until the process ends.
        static ThreadPool* const pool = new ThreadPool;
        return *pool;
    }

    // Queues run(arg), starting a thread when none is parked; false when no
    // thread can be had.
    bool Run(PoolJobs::Call run, void* arg) {
        std::unique_lock<std::mutex> lock(mutex_);
        jobs_.push_back({run, arg});
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

    // Removes the queued jobs with argument `arg`; returns how many.
    std::size_t Withdraw(void* arg) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto kept = std::remove_if(jobs_.begin(), jobs_.end(),
                                         [arg](const Job& job) { return job.arg == arg; });
        const auto taken = static_cast<std::size_t>(jobs_.end() - kept);
        jobs_.erase(kept, jobs_.end());
        return taken;
    }

private:
    struct Job {
        PoolJobs::Call run;
        void* arg;
    };

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ++idle_;
            waiting_.wait(lock, [this] { return !jobs_.empty(); });
            --idle_;
            const Job job = jobs_.front();
            jobs_.erase(jobs_.begin());
            lock.unlock();
            job.run(job.arg);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable waiting_;
    // Never more than a few; a vector keeps its room from one load to the next.
    std::vector<Job> jobs_;
    std::size_t idle_ = 0;
};

} // namespace

void PoolJobs::Start(std::size_t count) {
    for (std::size_t t = 0; t < count; ++t) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++pending_;
        }
        if (!ThreadPool::Instance().Run([](void* jobs) { static_cast<PoolJobs*>(jobs)->RunJob(); },
                                        this)) {
            std::lock_guard<std::mutex> lock(mutex_);
            --pending_;
            return;
        }
    }
}

void PoolJobs::RunJob() {
    run_(work_);
    std::lock_guard<std::mutex> lock(mutex_);
    --pending_;
    changed_.notify_all();
}

void PoolJobs::Finish(Call idle, void* context, std::chrono::milliseconds period) {
    const std::size_t taken = ThreadPool::Instance().Withdraw(this);
    std::unique_lock<std::mutex> lock(mutex_);
    pending_ -= taken;
    while (pending_ > 0) {
        if (changed_.wait_for(lock, period, [this] { return pending_ == 0; }))
            break;
        lock.unlock();
        idle(context);
        lock.lock();
    }
}

} // namespace pricelookup
