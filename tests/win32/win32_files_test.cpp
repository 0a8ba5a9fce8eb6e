// The file adapter against the file system that wine provides.

#include "platform/files_conformance.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <string>

namespace {

std::wstring makeTestFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    // Wine hands out the same process ids run after run: the clock keeps a
    // folder left by an interrupted run from being taken for this one's.
    static int counter = 0;
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    std::wstring dir = std::wstring(temp) + L"ovix-files-" + std::to_wstring(GetCurrentProcessId()) + L"-"
        + std::to_wstring(now.QuadPart) + L"-" + std::to_wstring(counter++);
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void removeFolder(const std::wstring& dir)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((dir + L"\\" + name).c_str());
            else if (name != L"." && name != L"..")
                removeFolder(dir + L"\\" + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(dir.c_str());
}

FilesEnv makeWin32Env()
{
    const std::wstring dir = makeTestFolder();
    FilesEnv env;
    env.files = platform::win32::makeFiles();
    env.path = [dir](const std::wstring& name) { return dir + L"\\" + name; };
    env.cleanup = [dir] { removeFolder(dir); };
    return env;
}

INSTANTIATE_TEST_SUITE_P(
    Win32, FilesConformance, ::testing::Values(&makeWin32Env), [](const auto&) { return std::string("impl"); });

class Win32FilesFaults : public ::testing::Test {
protected:
    void TearDown() override { removeFolder(dir_); }
    const std::wstring dir_ = makeTestFolder();
    std::unique_ptr<platform::Files> files_ = platform::win32::makeFiles();
};

TEST_F(Win32FilesFaults, AMoveOverAFileHeldOpenFailsAndLeavesItIntact)
{
    const std::wstring target = dir_ + L"\\Night.ini";
    ASSERT_TRUE(platform::replaceFile(*files_, target, bytesOf("the old setup")));
    // Another program holds the file without sharing delete access.
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(platform::replaceFile(*files_, target, bytesOf("a new setup")));
    CloseHandle(held);
    EXPECT_EQ(files_->readAll(target), bytesOf("the old setup"));
    EXPECT_FALSE(files_->exists(target + L".part"));
}

TEST_F(Win32FilesFaults, AFolderThatDoesNotExistFailsWithoutLeavingAnything)
{
    const std::wstring target = dir_ + L"\\missing\\Night.ini";
    EXPECT_EQ(files_->beginReplace(target, L".part"), nullptr);
    EXPECT_FALSE(platform::replaceFile(*files_, target, bytesOf("x")));
    EXPECT_FALSE(files_->exists(target));
}

} // namespace
