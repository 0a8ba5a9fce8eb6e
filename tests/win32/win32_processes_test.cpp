// Child programs and the process's standing on the real system under wine:
// hidden starts and shell starts report their programs' exit codes, failures
// to start are told apart, and the system's folders are found.

#include "platform/win32/win32_platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

namespace {

class Win32Processes : public ::testing::Test {
protected:
    std::unique_ptr<platform::Processes> processes = platform::win32::makeProcesses();
    std::wstring cmd = processes->systemFolder() + L"\\cmd.exe";
};

TEST_F(Win32Processes, HiddenAndShellStartsReportTheirProgramsExitCodes)
{
    auto hidden = processes->run(L"\"" + cmd + L"\" /c exit 7", processes->systemFolder());
    ASSERT_TRUE(hidden);
    EXPECT_EQ(hidden->wait(platform::kWaitForever), 7u);

    platform::ShellStart start;
    start.verb = L"open";
    start.file = cmd;
    start.parameters = L"/c exit 3";
    start.hidden = true;
    auto shell = processes->shellStart(start);
    ASSERT_TRUE(shell);
    EXPECT_EQ(shell->wait(platform::kWaitForever), 3u);
}

TEST_F(Win32Processes, AProgramThatIsNotThereDoesNotStart)
{
    const std::wstring missing = processes->systemFolder() + L"\\no-such-program.exe";
    EXPECT_FALSE(processes->run(L"\"" + missing + L"\"", L""));
    platform::ShellStart start;
    start.verb = L"open";
    start.file = missing;
    start.hidden = true;
    EXPECT_FALSE(processes->shellStart(start));
}

TEST_F(Win32Processes, TheSystemFolderHasNoTrailingSeparatorAndTheOwnExecutableIsThisProgram)
{
    const std::wstring system = processes->systemFolder();
    ASSERT_FALSE(system.empty());
    EXPECT_NE(system.back(), L'\\');
    EXPECT_NE(GetFileAttributesW(cmd.c_str()), INVALID_FILE_ATTRIBUTES);

    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    EXPECT_EQ(processes->ownExecutable(), own);
}

TEST_F(Win32Processes, TakingOwnershipOfAKeyMakesTheAdministratorsItsOwnerWithFullInheritedAccess)
{
    auto machine = platform::win32::makeRegistry(platform::Hive::LocalMachine);
    const std::wstring root = L"SOFTWARE\\VantorOvixTest";
    const std::wstring key = root + L"\\Owned\\Properties";
    ASSERT_TRUE(machine->writeString(key, L"name", L"CABLE Output"));

    EXPECT_TRUE(processes->takeOwnershipOfKey(L"MACHINE\\" + key));
    std::wstring object = L"MACHINE\\" + key;
    PSID owner = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(object.data(), SE_REGISTRY_KEY,
                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr, &acl, nullptr, &descriptor),
        static_cast<DWORD>(ERROR_SUCCESS));
    BYTE adminBytes[SECURITY_MAX_SID_SIZE];
    DWORD adminSize = sizeof(adminBytes);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminBytes, &adminSize));
    EXPECT_TRUE(EqualSid(owner, adminBytes));
    bool granted = false;
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        granted = granted
            || (EqualSid(&ace->SidStart, adminBytes) && (ace->Mask & KEY_ALL_ACCESS) == KEY_ALL_ACCESS
                && (ace->Header.AceFlags & CONTAINER_INHERIT_ACE));
    }
    EXPECT_TRUE(granted) << "no inherited full-access entry for the Administrators";
    LocalFree(descriptor);
    EXPECT_EQ(machine->deleteKey(root), platform::DeleteResult::Deleted);
}

} // namespace
