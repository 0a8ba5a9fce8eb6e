#pragma once
// Files, as the program writes them: every file is written under a temporary
// name and moved into place with replace-existing and write-through; a failed
// write deletes the temporary file and leaves the old file untouched.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

// One file being written. Nothing is visible at the final path until commit()
// succeeds; destroying an uncommitted writer abandons it.
class FileWriter {
public:
    virtual ~FileWriter() = default;
    virtual bool write(std::span<const uint8_t> bytes) = 0;
    // Flushes, closes and moves the temporary file over the final path.
    virtual bool commit() = 0;
    // Closes and deletes the temporary file.
    virtual void abandon() = 0;
};

// One entry of a folder listing.
struct FolderEntry {
    std::wstring name;
    bool isFolder = false;
    bool hidden = false;
    bool system = false;
    bool reparsePoint = false;
    // Last write, in the implementation's own units: compare only times that
    // came from the same Files.
    int64_t lastWrite = 0;
    uint64_t sizeBytes = 0; // files only
};

class Files {
public:
    virtual ~Files() = default;
    // Starts writing path through path + tempSuffix (".part", ".saving").
    // Returns nullptr when the temporary file cannot be created.
    virtual std::unique_ptr<FileWriter> beginReplace(const std::wstring& path, const std::wstring& tempSuffix) = 0;
    virtual std::optional<std::vector<uint8_t>> readAll(const std::wstring& path) = 0;
    virtual bool exists(const std::wstring& path) = 0;
    virtual bool removeFile(const std::wstring& path) = 0;

    // Every entry of a folder except "." and ".."; nullopt when it cannot be listed.
    virtual std::optional<std::vector<FolderEntry>> listFolder(const std::wstring& folder) = 0;
    virtual bool isFolder(const std::wstring& path) = 0;
    // Creates the folder and any missing parents; true when it exists afterwards.
    virtual bool createFolders(const std::wstring& path) = 0;
    // Copies a file, replacing the target; the copy keeps the source's last-write time.
    virtual bool copyFile(const std::wstring& from, const std::wstring& to) = 0;
    // Moves a finished file over to (replace existing, write through), for
    // files that another writer made (the platform's encoder). False with
    // the platform's error number in systemError.
    virtual bool moveReplace(const std::wstring& from, const std::wstring& to, uint32_t& systemError) = 0;
    // Appends bytes to a log file, creating it; a plain file already larger
    // than emptyAbove bytes is emptied first. False when it cannot be written.
    virtual bool appendToLog(const std::wstring& path, std::span<const uint8_t> bytes, uint64_t emptyAbove) = 0;
};

// Writes the whole of bytes to path through a temporary file. On failure the
// temporary file is gone and whatever was at path before is unchanged.
bool replaceFile(
    Files& files, const std::wstring& path, std::span<const uint8_t> bytes, const std::wstring& tempSuffix = L".part");

} // namespace platform
