#include "engine/device_thread.h"

#include <algorithm>

namespace engine {

void EndpointId::assign(std::wstring_view id) noexcept
{
    size_ = std::min(id.size(), kCapacity);
    std::copy_n(id.begin(), size_, chars_.begin());
}

void DeviceJob::closeStreams() noexcept
{
    captureService.reset();
    if (captureClient)
        captureClient->stop();
    captureClient.reset();
    closeRenderOutput(output);
    output = RenderOutput{};
}

DeviceThread::DeviceThread(Runner runner) : runner_(std::move(runner))
{
    thread_ = std::thread([this] { loop(); });
}

DeviceThread::~DeviceThread()
{
    stop();
    while (DeviceJob* left = results_.readSlot()) {
        left->closeStreams();
        results_.release();
    }
}

void DeviceThread::post() noexcept
{
    jobs_.publish();
    // Taken and let go at once, so that the wake-up cannot slip in between
    // the device thread's look at the ring and its wait.
    {
        std::lock_guard<std::mutex> lock(lock_);
    }
    wake_.notify_one();
}

void DeviceThread::waitIdle()
{
    std::unique_lock<std::mutex> lock(lock_);
    idle_.wait(lock, [this] { return jobs_.empty(); });
}

void DeviceThread::stop()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void DeviceThread::loop()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(lock_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return; // stopping, and every job has run
        }
        while (DeviceJob* job = jobs_.readSlot()) {
            if (job->kind == DeviceJobKind::Retire) {
                job->closeStreams();
            } else {
                runner_(*job);
                // The engine has at most one open of each kind in flight, so
                // a result slot is free but for a moment's lag of its reader.
                DeviceJob* slot = nullptr;
                while ((slot = results_.writeSlot()) == nullptr)
                    std::this_thread::yield();
                slot->closeStreams(); // what the engine left there
                *slot = std::move(*job);
                results_.publish();
            }
            *job = DeviceJob{};
            jobs_.release();
        }
        {
            std::lock_guard<std::mutex> lock(lock_);
        }
        idle_.notify_all();
    }
}

} // namespace engine
