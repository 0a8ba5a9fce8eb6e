#pragma once
// A trace of the audio calls for finding timing faults on a real machine:
// set OVIX_AUDIO_TRACE to a file path and every WASAPI stream call, capture
// packet and engine wait is noted with its time and result in a ring made
// before the streams start. The ring is written out as text when the
// program ends, never while the engine thread runs. Off, a call costs one
// load of a pointer.

#include <cstdint>

namespace platform::win32 {

enum class TraceKind : uint8_t {
    Open,          // a: stream id, b: 1 capture / 0 render, c: buffer frames
    Padding,       // a: stream id, b: queued frames
    Write,         // a: stream id, b: frames, d: frames of digital silence among them
    PacketSize,    // a: stream id, b: frames
    Packet,        // a: stream id, b: frames, c: device position, d: flags
    Release,       // a: stream id, b: frames
    Wait,          // a: 0 signalled / 1 timeout / 2 failed, b: asked ms, c: micros waited
    Start,         // a: stream id
    Stop,          // a: stream id
};

// True when a trace is being kept (the variable was set at the first call).
bool audioTraceOn() noexcept;
// Notes one call; hr is the platform's result. No allocation, no lock.
void audioTrace(TraceKind kind, int32_t hr, uint32_t a, uint64_t b = 0, uint64_t c = 0, uint32_t d = 0) noexcept;
// A new number for a stream, for telling streams apart in the trace.
uint32_t audioTraceStreamId() noexcept;

} // namespace platform::win32
