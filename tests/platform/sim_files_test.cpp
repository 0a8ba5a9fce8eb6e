#include "platform/files_conformance.h"
#include "platform/sim/memory_files.h"

#include <filesystem>
#include <random>

namespace {

FilesEnv makeMemoryEnv()
{
    FilesEnv env;
    env.files = std::make_unique<platform::sim::MemoryFiles>();
    env.path = [](const std::wstring& name) { return L"mem/setups/" + name; };
    return env;
}

FilesEnv makeDiskEnv()
{
    // Tests run in parallel processes: each takes a folder of its own.
    const auto dir = std::filesystem::temp_directory_path() / ("ovix-files-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    FilesEnv env;
    env.files = std::make_unique<platform::sim::StdFiles>();
    env.path = [dir](const std::wstring& name) { return (dir / name).wstring(); };
    env.cleanup = [dir] {
        std::error_code error;
        std::filesystem::remove_all(dir, error);
    };
    return env;
}

INSTANTIATE_TEST_SUITE_P(
    Memory, FilesConformance, ::testing::Values(&makeMemoryEnv), [](const auto&) { return std::string("impl"); });
INSTANTIATE_TEST_SUITE_P(
    Disk, FilesConformance, ::testing::Values(&makeDiskEnv), [](const auto&) { return std::string("impl"); });

class MemoryFilesFaults : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(platform::replaceFile(files, L"Night.ini", bytesOf("the old setup"))); }
    void expectOldFileIntact()
    {
        EXPECT_EQ(files.readAll(L"Night.ini"), bytesOf("the old setup"));
        EXPECT_EQ(files.paths(), std::vector<std::wstring>{L"Night.ini"}) << "no temporary file left";
    }
    platform::sim::MemoryFiles files;
};

TEST_F(MemoryFilesFaults, AWriteThatFailsPartWayLeavesTheOldFileIntact)
{
    files.failWritesBeyond(4);
    EXPECT_FALSE(platform::replaceFile(files, L"Night.ini", bytesOf("a new setup")));
    expectOldFileIntact();
}

TEST_F(MemoryFilesFaults, AFailedMoveLeavesTheOldFileIntact)
{
    files.failMoves(true);
    EXPECT_FALSE(platform::replaceFile(files, L"Night.ini", bytesOf("a new setup")));
    expectOldFileIntact();
}

TEST_F(MemoryFilesFaults, ATemporaryThatCannotBeCreatedFailsAtOnce)
{
    files.failCreate(true);
    EXPECT_EQ(files.beginReplace(L"Night.ini", L".part"), nullptr);
    EXPECT_FALSE(platform::replaceFile(files, L"Night.ini", bytesOf("a new setup")));
    expectOldFileIntact();
}

TEST(StdFiles, AMissingFolderFailsWithoutCreatingAnything)
{
    platform::sim::StdFiles files;
    const auto dir = std::filesystem::temp_directory_path() / "ovix-no-such-folder-7f3a";
    EXPECT_EQ(files.beginReplace((dir / "x.ini").wstring(), L".part"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir));
}

} // namespace
