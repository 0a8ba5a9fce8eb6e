#pragma once
// The busy flags the recorder and the take editor share (interface thread
// only): while either is set, both refuse new operations.

namespace recorder {

struct BusyFlags {
    bool recording = false; // a take is being captured
    bool saving = false;    // a take save or an effects render is running
    bool busy() const { return recording || saving; }
};

} // namespace recorder
