#pragma once
// In-memory files with the atomic-replace rules of the real ones, and faults a
// test can inject: a temporary file that cannot be created, a write that fails
// after some bytes, a move that fails. Paths separate folders with "\\" or
// "/"; a folder exists when it was created or holds something. Last-write
// times come from a counter that every write moves forward.

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
    std::optional<std::vector<FolderEntry>> listFolder(const std::wstring& folder) override;
    bool isFolder(const std::wstring& path) override;
    bool createFolders(const std::wstring& path) override;
    bool copyFile(const std::wstring& from, const std::wstring& to) override;
    bool moveReplace(const std::wstring& from, const std::wstring& to, uint32_t& systemError) override;
    bool appendToLog(const std::wstring& path, std::span<const uint8_t> bytes, uint64_t emptyAbove) override;

    // Test controls.
    void put(const std::wstring& path, std::vector<uint8_t> bytes);
    void failCreate(bool fail);
    // Writes fail once a file being written would grow beyond this many bytes (-1: never).
    void failWritesBeyond(int64_t bytes);
    void failMoves(bool fail);
    std::vector<std::wstring> paths() const;
    void setLastWrite(const std::wstring& path, int64_t time);
    std::optional<int64_t> lastWrite(const std::wstring& path) const;
    // Marks a file or folder as hidden, system or a reparse point in listings.
    void setFlags(const std::wstring& path, bool hidden, bool system, bool reparsePoint);

private:
    struct Flags {
        bool hidden = false;
        bool system = false;
        bool reparsePoint = false;
    };
    bool isFolderLocked(const std::wstring& path) const;
    void stampLocked(const std::wstring& path);

    class Writer;
    friend class Writer;

    mutable std::mutex mutex_;
    std::map<std::wstring, std::vector<uint8_t>> files_; // guarded by mutex_
    bool failCreate_ = false;                            // guarded by mutex_
    int64_t failBeyond_ = -1;                            // guarded by mutex_
    bool failMoves_ = false;                             // guarded by mutex_
    std::map<std::wstring, int64_t> lastWrite_;          // guarded by mutex_
    int64_t writeCounter_ = 0;                           // guarded by mutex_
    std::map<std::wstring, bool> folders_;               // created folders; guarded by mutex_
    std::map<std::wstring, Flags> flags_;                // guarded by mutex_
};

// Real files through the standard library, for the headless tool on Linux and
// for tests that need a disk. The move is a rename, which replaces atomically.
// Where "/" separates folders, "\\" in a path is taken as a separator too, so
// the program's Windows-style paths work unchanged.
class StdFiles final : public Files {
public:
    std::unique_ptr<FileWriter> beginReplace(const std::wstring& path, const std::wstring& tempSuffix) override;
    std::optional<std::vector<uint8_t>> readAll(const std::wstring& path) override;
    bool exists(const std::wstring& path) override;
    bool removeFile(const std::wstring& path) override;
    std::optional<std::vector<FolderEntry>> listFolder(const std::wstring& folder) override;
    bool isFolder(const std::wstring& path) override;
    bool createFolders(const std::wstring& path) override;
    bool copyFile(const std::wstring& from, const std::wstring& to) override;
    bool moveReplace(const std::wstring& from, const std::wstring& to, uint32_t& systemError) override;
    bool appendToLog(const std::wstring& path, std::span<const uint8_t> bytes, uint64_t emptyAbove) override;
};

} // namespace platform::sim
