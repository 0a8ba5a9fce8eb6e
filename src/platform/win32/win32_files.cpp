#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <algorithm>

namespace platform::win32 {
namespace {

class Writer final : public FileWriter {
public:
    Writer(std::wstring path, std::wstring temp, HANDLE file)
        : path_(std::move(path)), temp_(std::move(temp)), file_(file)
    { }
    ~Writer() override { abandon(); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool write(std::span<const uint8_t> bytes) override
    {
        if (file_ == INVALID_HANDLE_VALUE)
            return false;
        size_t offset = 0;
        while (offset < bytes.size()) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1u << 30));
            DWORD written = 0;
            if (!WriteFile(file_, bytes.data() + offset, chunk, &written, nullptr) || written == 0)
                return false;
            offset += written;
        }
        return true;
    }

    bool commit() override
    {
        if (file_ == INVALID_HANDLE_VALUE)
            return false;
        const bool flushed = FlushFileBuffers(file_) != 0;
        const bool closed = CloseHandle(file_) != 0;
        file_ = INVALID_HANDLE_VALUE;
        if (flushed && closed
            && MoveFileExW(temp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        DeleteFileW(temp_.c_str());
        return false;
    }

    void abandon() override
    {
        if (file_ == INVALID_HANDLE_VALUE)
            return;
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        DeleteFileW(temp_.c_str());
    }

private:
    const std::wstring path_;
    const std::wstring temp_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

class WinFiles final : public Files {
public:
    std::unique_ptr<FileWriter> beginReplace(const std::wstring& path, const std::wstring& tempSuffix) override
    {
        std::wstring temp = path + tempSuffix;
        HANDLE file
            = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return nullptr;
        return std::make_unique<Writer>(path, std::move(temp), file);
    }

    std::optional<std::vector<uint8_t>> readAll(const std::wstring& path) override
    {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return std::nullopt;
        std::optional<std::vector<uint8_t>> result;
        LARGE_INTEGER size{};
        if (GetFileSizeEx(file, &size) && size.QuadPart >= 0 && size.QuadPart < (int64_t{1} << 32)) {
            std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
            size_t offset = 0;
            bool ok = true;
            while (offset < bytes.size()) {
                DWORD got = 0;
                const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1u << 30));
                if (!ReadFile(file, bytes.data() + offset, want, &got, nullptr) || got == 0) {
                    ok = false;
                    break;
                }
                offset += got;
            }
            if (ok)
                result = std::move(bytes);
        }
        CloseHandle(file);
        return result;
    }

    bool exists(const std::wstring& path) override
    {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    bool removeFile(const std::wstring& path) override { return DeleteFileW(path.c_str()) != 0; }
};

} // namespace

std::unique_ptr<Files> makeFiles()
{
    return std::make_unique<WinFiles>();
}

} // namespace platform::win32
