#pragma once
// In-memory files with the atomic-replace rules of the real ones, and faults a
// test can inject: a temporary file that cannot be created, a write that fails
// after some bytes, a move that fails.

#include "platform/files.h"

#include <map>
#include <mutex>

namespace platform::sim {

class MemoryFiles final : public Files {
public:
    std::unique_ptr<FileWriter> beginReplace(const std::wstring& path, const std::wstring& tempSuffix) override;
    std::optional<std::vector<uint8_t>> readAll(const std::wstring& path) override;
    bool exists(const std::wstring& path) override;
    bool removeFile(const std::wstring& path) override;

    // Test controls.
    void put(const std::wstring& path, std::vector<uint8_t> bytes);
    void failCreate(bool fail);
    // Writes fail once a file being written would grow beyond this many bytes (-1: never).
    void failWritesBeyond(int64_t bytes);
    void failMoves(bool fail);
    std::vector<std::wstring> paths() const;

private:
    class Writer;
    friend class Writer;

    mutable std::mutex mutex_;
    std::map<std::wstring, std::vector<uint8_t>> files_; // guarded by mutex_
    bool failCreate_ = false;                            // guarded by mutex_
    int64_t failBeyond_ = -1;                            // guarded by mutex_
    bool failMoves_ = false;                             // guarded by mutex_
};

// Real files through the standard library, for the headless tool on Linux and
// for tests that need a disk. The move is a rename, which replaces atomically.
class StdFiles final : public Files {
public:
    std::unique_ptr<FileWriter> beginReplace(const std::wstring& path, const std::wstring& tempSuffix) override;
    std::optional<std::vector<uint8_t>> readAll(const std::wstring& path) override;
    bool exists(const std::wstring& path) override;
    bool removeFile(const std::wstring& path) override;
};

} // namespace platform::sim
