#pragma once
// One device open on a thread of its own, so that the engine thread never
// waits for a device while the voice flows: the engine starts the job, asks
// finished() once per packet and takes the result. The worker writes result_
// and then raises done_; the engine reads result_ only after joining.

#include <atomic>
#include <thread>
#include <utility>

namespace engine {

template <class Result> class DeviceWorker {
public:
    DeviceWorker() = default;
    ~DeviceWorker() { wait(); }
    DeviceWorker(const DeviceWorker&) = delete;
    DeviceWorker& operator=(const DeviceWorker&) = delete;

    // A job is running or its result waits to be taken.
    bool active() const { return thread_.joinable() || done_.load(std::memory_order_acquire); }
    bool finished() const { return done_.load(std::memory_order_acquire); }

    // Only while not active. job() runs on the worker thread and returns the result.
    template <class Job> void start(Job job)
    {
        thread_ = std::thread([this, job = std::move(job)]() mutable {
            result_ = job();
            done_.store(true, std::memory_order_release);
        });
    }
    // After finished(): the result; the worker is idle again.
    Result take()
    {
        wait();
        done_.store(false, std::memory_order_relaxed);
        return std::exchange(result_, Result{});
    }
    // Blocks until a running job has ended (its result stays to be taken).
    void wait()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
    std::atomic<bool> done_{false};
    Result result_{};
};

} // namespace engine
