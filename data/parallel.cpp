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

} // namespace pricelookup
