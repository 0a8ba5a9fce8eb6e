#include "platform/sim/memory_files.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <type_traits>

namespace platform::sim {
namespace {

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

std::wstring withoutTrailingSeparators(std::wstring path)
{
    while (path.size() > 1 && isSeparator(path.back()))
        path.pop_back();
    return path;
}

// The part of path below folder, when path lies inside it.
std::optional<std::wstring> below(const std::wstring& path, const std::wstring& folder)
{
    if (path.size() <= folder.size() + 1 || path.compare(0, folder.size(), folder) != 0
        || !isSeparator(path[folder.size()]))
        return std::nullopt;
    return path.substr(folder.size() + 1);
}

} // namespace

class MemoryFiles::Writer final : public FileWriter {
public:
    Writer(MemoryFiles& files, std::wstring path, std::wstring temp)
        : files_(files), path_(std::move(path)), temp_(std::move(temp))
    { }
    ~Writer() override { abandon(); }

    bool write(std::span<const uint8_t> bytes) override
    {
        std::lock_guard lock(files_.mutex_);
        if (done_)
            return false;
        auto& data = files_.files_[temp_];
        if (files_.failBeyond_ >= 0 && static_cast<int64_t>(data.size() + bytes.size()) > files_.failBeyond_)
            return false;
        data.insert(data.end(), bytes.begin(), bytes.end());
        return true;
    }

    bool commit() override
    {
        std::lock_guard lock(files_.mutex_);
        if (done_)
            return false;
        done_ = true;
        auto node = files_.files_.extract(temp_);
        if (files_.failMoves_ || node.empty())
            return false;
        files_.files_[path_] = std::move(node.mapped());
        files_.stampLocked(path_);
        return true;
    }

    void abandon() override
    {
        std::lock_guard lock(files_.mutex_);
        if (!done_)
            files_.files_.erase(temp_);
        done_ = true;
    }

private:
    MemoryFiles& files_;
    const std::wstring path_;
    const std::wstring temp_;
    bool done_ = false; // guarded by files_.mutex_
};

std::unique_ptr<FileWriter> MemoryFiles::beginReplace(const std::wstring& path, const std::wstring& tempSuffix)
{
    std::lock_guard lock(mutex_);
    if (failCreate_)
        return nullptr;
    const std::wstring temp = path + tempSuffix;
    files_[temp].clear();
    return std::make_unique<Writer>(*this, path, temp);
}

std::optional<std::vector<uint8_t>> MemoryFiles::readAll(const std::wstring& path)
{
    std::lock_guard lock(mutex_);
    auto it = files_.find(path);
    if (it == files_.end())
        return std::nullopt;
    return it->second;
}

bool MemoryFiles::exists(const std::wstring& path)
{
    std::lock_guard lock(mutex_);
    return files_.count(path) != 0;
}

bool MemoryFiles::removeFile(const std::wstring& path)
{
    std::lock_guard lock(mutex_);
    lastWrite_.erase(path);
    return files_.erase(path) != 0;
}

bool MemoryFiles::isFolderLocked(const std::wstring& path) const
{
    if (folders_.count(path))
        return true;
    for (const auto& [file, data] : files_) {
        if (below(file, path))
            return true;
    }
    for (const auto& [folder, created] : folders_) {
        if (below(folder, path))
            return true;
    }
    return false;
}

void MemoryFiles::stampLocked(const std::wstring& path)
{
    lastWrite_[path] = ++writeCounter_;
}

std::optional<std::vector<FolderEntry>> MemoryFiles::listFolder(const std::wstring& folder)
{
    std::lock_guard lock(mutex_);
    const std::wstring root = withoutTrailingSeparators(folder);
    if (!isFolderLocked(root))
        return std::nullopt;
    std::vector<FolderEntry> entries;
    std::set<std::wstring> subfolders;
    auto flagged = [this](FolderEntry entry, const std::wstring& path) {
        if (auto it = flags_.find(path); it != flags_.end()) {
            entry.hidden = it->second.hidden;
            entry.system = it->second.system;
            entry.reparsePoint = it->second.reparsePoint;
        }
        return entry;
    };
    auto addSubfolder = [&](const std::wstring& rest, const std::wstring& full) {
        const size_t cut = std::find_if(rest.begin(), rest.end(), isSeparator) - rest.begin();
        const std::wstring name = rest.substr(0, cut);
        if (subfolders.insert(name).second)
            entries.push_back(flagged({.name = name, .isFolder = true}, full.substr(0, root.size() + 1 + cut)));
    };
    for (const auto& [path, data] : files_) {
        const auto rest = below(path, root);
        if (!rest)
            continue;
        if (std::none_of(rest->begin(), rest->end(), isSeparator)) {
            auto stamp = lastWrite_.find(path);
            entries.push_back(flagged(
                {.name = *rest, .lastWrite = stamp == lastWrite_.end() ? 0 : stamp->second, .sizeBytes = data.size()},
                path));
        } else {
            addSubfolder(*rest, path);
        }
    }
    for (const auto& [path, created] : folders_) {
        if (const auto rest = below(path, root))
            addSubfolder(*rest, path);
    }
    return entries;
}

bool MemoryFiles::isFolder(const std::wstring& path)
{
    std::lock_guard lock(mutex_);
    return isFolderLocked(withoutTrailingSeparators(path));
}

bool MemoryFiles::createFolders(const std::wstring& path)
{
    std::lock_guard lock(mutex_);
    const std::wstring folder = withoutTrailingSeparators(path);
    if (folder.empty() || files_.count(folder))
        return false;
    folders_[folder] = true;
    return true;
}

bool MemoryFiles::copyFile(const std::wstring& from, const std::wstring& to)
{
    std::lock_guard lock(mutex_);
    auto source = files_.find(from);
    if (source == files_.end() || failMoves_)
        return false;
    if (from == to)
        return true;
    files_[to] = source->second;
    lastWrite_[to] = lastWrite_.count(from) ? lastWrite_[from] : 0;
    return true;
}

bool MemoryFiles::moveReplace(const std::wstring& from, const std::wstring& to, uint32_t& systemError)
{
    std::lock_guard lock(mutex_);
    auto node = files_.extract(from);
    if (node.empty() || failMoves_) {
        if (!node.empty())
            files_.insert(std::move(node));
        systemError = node.empty() && !failMoves_ ? 2 : 5; // not found; access denied
        return false;
    }
    files_[to] = std::move(node.mapped());
    lastWrite_.erase(from);
    stampLocked(to);
    systemError = 0;
    return true;
}

bool MemoryFiles::appendToLog(const std::wstring& path, std::span<const uint8_t> bytes, uint64_t emptyAbove)
{
    std::lock_guard lock(mutex_);
    if (failCreate_ || isFolderLocked(path))
        return false;
    std::vector<uint8_t>& file = files_[path];
    if (file.size() > emptyAbove && !flags_[path].reparsePoint)
        file.clear();
    file.insert(file.end(), bytes.begin(), bytes.end());
    stampLocked(path);
    return true;
}

void MemoryFiles::put(const std::wstring& path, std::vector<uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    files_[path] = std::move(bytes);
    stampLocked(path);
}

void MemoryFiles::setLastWrite(const std::wstring& path, int64_t time)
{
    std::lock_guard lock(mutex_);
    lastWrite_[path] = time;
    writeCounter_ = std::max(writeCounter_, time);
}

std::optional<int64_t> MemoryFiles::lastWrite(const std::wstring& path) const
{
    std::lock_guard lock(mutex_);
    if (!files_.count(path))
        return std::nullopt;
    auto it = lastWrite_.find(path);
    return it == lastWrite_.end() ? 0 : it->second;
}

void MemoryFiles::setFlags(const std::wstring& path, bool hidden, bool system, bool reparsePoint)
{
    std::lock_guard lock(mutex_);
    flags_[withoutTrailingSeparators(path)] = {hidden, system, reparsePoint};
}

void MemoryFiles::failCreate(bool fail)
{
    std::lock_guard lock(mutex_);
    failCreate_ = fail;
}

void MemoryFiles::failWritesBeyond(int64_t bytes)
{
    std::lock_guard lock(mutex_);
    failBeyond_ = bytes;
}

void MemoryFiles::failMoves(bool fail)
{
    std::lock_guard lock(mutex_);
    failMoves_ = fail;
}

std::vector<std::wstring> MemoryFiles::paths() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::wstring> out;
    for (const auto& [path, data] : files_)
        out.push_back(path);
    return out;
}

namespace {

std::filesystem::path fsPath(const std::wstring& path)
{
    if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>) {
        return std::filesystem::path(path);
    } else {
        std::wstring separated = path;
        std::replace(separated.begin(), separated.end(), L'\\', L'/');
        return std::filesystem::path(utf8FromWide(separated));
    }
}

std::wstring wideName(const std::filesystem::path& path)
{
    if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>)
        return path.filename().wstring();
    else
        return wideFromUtf8(path.filename().string());
}

class StdWriter final : public FileWriter {
public:
    StdWriter(std::filesystem::path path, std::filesystem::path temp, std::ofstream stream)
        : path_(std::move(path)), temp_(std::move(temp)), stream_(std::move(stream))
    { }
    ~StdWriter() override { abandon(); }

    bool write(std::span<const uint8_t> bytes) override
    {
        if (done_)
            return false;
        stream_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(stream_);
    }

    bool commit() override
    {
        if (done_)
            return false;
        stream_.flush();
        const bool written = static_cast<bool>(stream_);
        stream_.close();
        std::error_code error;
        if (written && !stream_.fail())
            std::filesystem::rename(temp_, path_, error);
        if (!written || stream_.fail() || error) {
            std::filesystem::remove(temp_, error);
            done_ = true;
            return false;
        }
        done_ = true;
        return true;
    }

    void abandon() override
    {
        if (done_)
            return;
        done_ = true;
        stream_.close();
        std::error_code error;
        std::filesystem::remove(temp_, error);
    }

private:
    std::filesystem::path path_;
    std::filesystem::path temp_;
    std::ofstream stream_;
    bool done_ = false;
};

} // namespace

std::unique_ptr<FileWriter> StdFiles::beginReplace(const std::wstring& path, const std::wstring& tempSuffix)
{
    auto target = fsPath(path);
    auto temp = fsPath(path + tempSuffix);
    std::ofstream stream(temp, std::ios::binary | std::ios::trunc);
    if (!stream)
        return nullptr;
    return std::make_unique<StdWriter>(std::move(target), std::move(temp), std::move(stream));
}

std::optional<std::vector<uint8_t>> StdFiles::readAll(const std::wstring& path)
{
    std::ifstream stream(fsPath(path), std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad())
        return std::nullopt;
    return bytes;
}

bool StdFiles::exists(const std::wstring& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(fsPath(path), error);
}

bool StdFiles::removeFile(const std::wstring& path)
{
    std::error_code error;
    return std::filesystem::remove(fsPath(path), error);
}

std::optional<std::vector<FolderEntry>> StdFiles::listFolder(const std::wstring& folder)
{
    std::error_code error;
    std::filesystem::directory_iterator it(fsPath(folder), error);
    if (error)
        return std::nullopt;
    std::vector<FolderEntry> entries;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        FolderEntry entry;
        entry.name = wideName(it->path());
        entry.isFolder = it->is_directory(error);
        entry.reparsePoint = it->is_symlink(error);
        entry.hidden = !entry.name.empty() && entry.name.front() == L'.';
        if (!entry.isFolder) {
            entry.lastWrite = it->last_write_time(error).time_since_epoch().count();
            const auto size = it->file_size(error);
            entry.sizeBytes = error ? 0 : size;
        }
        entries.push_back(std::move(entry));
    }
    if (error)
        return std::nullopt;
    return entries;
}

bool StdFiles::isFolder(const std::wstring& path)
{
    std::error_code error;
    return std::filesystem::is_directory(fsPath(path), error);
}

bool StdFiles::createFolders(const std::wstring& path)
{
    std::error_code error;
    std::filesystem::create_directories(fsPath(path), error);
    return std::filesystem::is_directory(fsPath(path), error);
}

bool StdFiles::moveReplace(const std::wstring& from, const std::wstring& to, uint32_t& systemError)
{
    std::error_code error;
    std::filesystem::rename(fsPath(from), fsPath(to), error);
    systemError = static_cast<uint32_t>(error.value());
    return !error;
}

bool StdFiles::appendToLog(const std::wstring& path, std::span<const uint8_t> bytes, uint64_t emptyAbove)
{
    std::error_code error;
    const std::filesystem::path file = fsPath(path);
    const bool plain = std::filesystem::is_regular_file(std::filesystem::symlink_status(file, error));
    const bool empty = plain && std::filesystem::file_size(file, error) > emptyAbove && !error;
    std::ofstream out(file, std::ios::binary | (empty ? std::ios::trunc : std::ios::app));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool StdFiles::copyFile(const std::wstring& from, const std::wstring& to)
{
    // Read and replace rather than copy_file, whose overwrite fails with some
    // standard libraries on Windows; the target is never left half-written.
    const auto bytes = readAll(from);
    if (!bytes || !replaceFile(*this, to, *bytes, L".part"))
        return false;
    std::error_code error;
    const auto time = std::filesystem::last_write_time(fsPath(from), error);
    if (!error)
        std::filesystem::last_write_time(fsPath(to), time, error);
    return true;
}

} // namespace platform::sim
