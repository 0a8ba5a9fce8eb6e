#include "platform/win32/audio_trace.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace platform::win32 {
namespace {

struct Record {
    int64_t micros;
    uint64_t b;
    uint64_t c;
    int32_t hr;
    uint32_t a;
    uint32_t d;
    uint32_t thread;
    TraceKind kind;
};

constexpr size_t kCapacity = size_t{1} << 20; // about 50 minutes of a running engine

const char* kindName(TraceKind kind)
{
    switch (kind) {
    case TraceKind::Open: return "open";
    case TraceKind::Padding: return "padding";
    case TraceKind::Write: return "write";
    case TraceKind::PacketSize: return "packet_size";
    case TraceKind::Packet: return "packet";
    case TraceKind::Release: return "release";
    case TraceKind::Wait: return "wait";
    case TraceKind::Start: return "start";
    case TraceKind::Stop: return "stop";
    }
    return "?";
}

// The ring and the file it goes to; written out by its destructor at exit.
class Trace {
public:
    explicit Trace(const char* path) : path_(path), records_(new Record[kCapacity])
    {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        frequency_ = f.QuadPart > 0 ? f.QuadPart : 1;
    }
    ~Trace() { writeOut(); }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    void add(const Record& r) noexcept
    {
        const size_t i = next_.fetch_add(1, std::memory_order_relaxed);
        if (i < kCapacity)
            records_[i] = r;
    }

    int64_t nowMicros() const noexcept
    {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        return counter.QuadPart / frequency_ * 1000000 + counter.QuadPart % frequency_ * 1000000 / frequency_;
    }

    std::atomic<uint32_t> streams{0};

private:
    void writeOut() noexcept
    {
        FILE* f = std::fopen(path_, "w");
        if (!f)
            return;
        const size_t n = std::min(next_.load(), kCapacity);
        const int64_t t0 = n > 0 ? records_[0].micros : 0;
        std::fprintf(f, "# micros thread kind hr a b c d\n");
        for (size_t i = 0; i < n; ++i) {
            const Record& r = records_[i];
            std::fprintf(f, "%lld %u %s %08lx %u %llu %llu %u\n", static_cast<long long>(r.micros - t0), r.thread,
                kindName(r.kind), static_cast<unsigned long>(r.hr), r.a, static_cast<unsigned long long>(r.b),
                static_cast<unsigned long long>(r.c), r.d);
        }
        if (next_.load() > kCapacity)
            std::fprintf(f, "# %llu records lost: the ring was full\n",
                static_cast<unsigned long long>(next_.load() - kCapacity));
        std::fclose(f);
    }

    const char* path_;
    int64_t frequency_ = 1;
    std::unique_ptr<Record[]> records_;
    std::atomic<size_t> next_{0};
};

Trace* trace() noexcept
{
    // Made on the first audio call (stream opening, not the block loop).
    static const std::unique_ptr<Trace> instance = []() -> std::unique_ptr<Trace> {
        const char* path = std::getenv("OVIX_AUDIO_TRACE");
        if (!path || !*path)
            return nullptr;
        return std::make_unique<Trace>(path);
    }();
    return instance.get();
}

} // namespace

bool audioTraceOn() noexcept
{
    return trace() != nullptr;
}

void audioTrace(TraceKind kind, int32_t hr, uint32_t a, uint64_t b, uint64_t c, uint32_t d) noexcept
{
    Trace* t = trace();
    if (!t)
        return;
    t->add({t->nowMicros(), b, c, hr, a, d, static_cast<uint32_t>(GetCurrentThreadId()), kind});
}

uint32_t audioTraceStreamId() noexcept
{
    Trace* t = trace();
    return t ? t->streams.fetch_add(1, std::memory_order_relaxed) + 1 : 0;
}

} // namespace platform::win32
