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

class Files {
public:
    virtual ~Files() = default;
    // Starts writing path through path + tempSuffix (".part", ".saving").
    // Returns nullptr when the temporary file cannot be created.
    virtual std::unique_ptr<FileWriter> beginReplace(const std::wstring& path, const std::wstring& tempSuffix) = 0;
    virtual std::optional<std::vector<uint8_t>> readAll(const std::wstring& path) = 0;
    virtual bool exists(const std::wstring& path) = 0;
    virtual bool removeFile(const std::wstring& path) = 0;
};

// Writes the whole of bytes to path through a temporary file. On failure the
// temporary file is gone and whatever was at path before is unchanged.
bool replaceFile(
    Files& files, const std::wstring& path, std::span<const uint8_t> bytes, const std::wstring& tempSuffix = L".part");

} // namespace platform
