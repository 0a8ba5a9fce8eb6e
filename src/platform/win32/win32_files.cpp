#include "platform/win32/win32_known_folders.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

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

    std::optional<std::vector<FolderEntry>> listFolder(const std::wstring& folder) override
    {
        std::wstring pattern = folder;
        if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/')
            pattern += L'\\';
        pattern += L'*';
        WIN32_FIND_DATAW found{};
        HANDLE search = FindFirstFileW(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            // An empty folder still lists "." and ".."; only a missing one fails.
            return std::nullopt;
        }
        std::vector<FolderEntry> entries;
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            FolderEntry entry;
            entry.name = name;
            entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            entry.hidden = (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
            entry.system = (found.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
            entry.reparsePoint = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            entry.lastWrite = static_cast<int64_t>((static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32)
                | found.ftLastWriteTime.dwLowDateTime);
            entry.sizeBytes = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            entries.push_back(std::move(entry));
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return entries;
    }

    bool isFolder(const std::wstring& path) override
    {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    bool createFolders(const std::wstring& path) override
    {
        // Each parent in turn; those that exist (or are drive and share roots) fail harmlessly.
        for (size_t i = 1; i < path.size(); ++i) {
            if (path[i] == L'\\' || path[i] == L'/')
                CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
        }
        CreateDirectoryW(path.c_str(), nullptr);
        return isFolder(path);
    }

    bool copyFile(const std::wstring& from, const std::wstring& to) override
    {
        return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
    }

    bool moveReplace(const std::wstring& from, const std::wstring& to, uint32_t& systemError) override
    {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            systemError = 0;
            return true;
        }
        systemError = GetLastError();
        return false;
    }

    bool appendToLog(const std::wstring& path, std::span<const uint8_t> bytes, uint64_t emptyAbove) override
    {
        // A plain file grown beyond the limit starts afresh; a folder or a
        // link under the log's name is never emptied.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        bool empty = false;
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)
            && !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
            const uint64_t size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
            empty = size > emptyAbove;
        }
        HANDLE file = CreateFileW(path.c_str(), empty ? GENERIC_WRITE : FILE_APPEND_DATA,
            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, empty ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
            nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)
            && written == bytes.size();
        CloseHandle(file);
        return ok;
    }
};

class WinKnownFolders final : public KnownFolders {
public:
    std::optional<std::wstring> path(KnownFolder folder) override
    {
        const KNOWNFOLDERID* id = &FOLDERID_RoamingAppData;
        switch (folder) {
        case KnownFolder::Desktop:
            id = &FOLDERID_Desktop;
            break;
        case KnownFolder::Downloads:
            id = &FOLDERID_Downloads;
            break;
        case KnownFolder::Documents:
            id = &FOLDERID_Documents;
            break;
        case KnownFolder::Music:
            id = &FOLDERID_Music;
            break;
        case KnownFolder::ApplicationData:
            id = &FOLDERID_RoamingAppData;
            break;
        }
        PWSTR path = nullptr;
        std::optional<std::wstring> result;
        if (SUCCEEDED(SHGetKnownFolderPath(*id, KF_FLAG_DEFAULT, nullptr, &path)) && path)
            result = std::wstring(path);
        CoTaskMemFree(path);
        return result;
    }
};

} // namespace

std::unique_ptr<Files> makeFiles()
{
    return std::make_unique<WinFiles>();
}

std::unique_ptr<KnownFolders> makeKnownFolders()
{
    return std::make_unique<WinKnownFolders>();
}

} // namespace platform::win32
