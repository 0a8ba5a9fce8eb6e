#include "platform/sim/memory_files.h"

#include "platform/text.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <type_traits>

namespace platform::sim {

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
    return files_.erase(path) != 0;
}

void MemoryFiles::put(const std::wstring& path, std::vector<uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    files_[path] = std::move(bytes);
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
    if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>)
        return std::filesystem::path(path);
    else
        return std::filesystem::path(utf8FromWide(path));
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

} // namespace platform::sim
