#include "platform/files_conformance.h"

TEST_P(FilesConformance, ReplaceWritesANewFileAndLeavesNoTemporary)
{
    const auto target = path(L"Night.ini");
    ASSERT_TRUE(platform::replaceFile(files(), target, bytesOf("# Vantor Ovix Settings\n")));
    EXPECT_EQ(files().readAll(target), bytesOf("# Vantor Ovix Settings\n"));
    EXPECT_FALSE(files().exists(target + L".part"));
}

TEST_P(FilesConformance, ReplaceOverAnExistingFileSwapsItsContent)
{
    const auto target = path(L"Night.ini");
    ASSERT_TRUE(platform::replaceFile(files(), target, bytesOf("old contents, longer than the new")));
    ASSERT_TRUE(platform::replaceFile(files(), target, bytesOf("new"), L".saving"));
    EXPECT_EQ(files().readAll(target), bytesOf("new"));
    EXPECT_FALSE(files().exists(target + L".saving"));
}

TEST_P(FilesConformance, NothingReachesTheTargetBeforeCommit)
{
    const auto target = path(L"take.wav");
    ASSERT_TRUE(platform::replaceFile(files(), target, bytesOf("previous take")));
    auto writer = files().beginReplace(target, L".part");
    ASSERT_NE(writer, nullptr);
    const auto chunk = bytesOf("RIFF....WAVE");
    ASSERT_TRUE(writer->write(chunk));
    EXPECT_TRUE(files().exists(target + L".part"));
    EXPECT_EQ(files().readAll(target), bytesOf("previous take"));
    ASSERT_TRUE(writer->commit());
    EXPECT_EQ(files().readAll(target), chunk);
}

TEST_P(FilesConformance, AnAbandonedWriteDeletesItsTemporaryAndKeepsTheOldFile)
{
    const auto target = path(L"Night.ini");
    ASSERT_TRUE(platform::replaceFile(files(), target, bytesOf("keep me")));
    {
        auto writer = files().beginReplace(target, L".part");
        ASSERT_NE(writer, nullptr);
        ASSERT_TRUE(writer->write(bytesOf("half a fi")));
        writer->abandon();
        EXPECT_FALSE(writer->commit()) << "an abandoned writer cannot commit";
    }
    {
        auto writer = files().beginReplace(target, L".part");
        ASSERT_NE(writer, nullptr);
        ASSERT_TRUE(writer->write(bytesOf("dropped without commit")));
    }
    EXPECT_EQ(files().readAll(target), bytesOf("keep me"));
    EXPECT_FALSE(files().exists(target + L".part"));
}

TEST_P(FilesConformance, LargeFilesRoundTripInFull)
{
    std::vector<uint8_t> data(3 * 1024 * 1024 + 17);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    const auto target = path(L"long.wav");
    auto writer = files().beginReplace(target, L".part");
    ASSERT_NE(writer, nullptr);
    for (size_t offset = 0; offset < data.size(); offset += 65536)
        ASSERT_TRUE(writer->write(std::span(data).subspan(offset, std::min<size_t>(65536, data.size() - offset))));
    ASSERT_TRUE(writer->commit());
    EXPECT_EQ(files().readAll(target), data);
}

TEST_P(FilesConformance, MissingFilesReadAsNothingAndRemoveSaysSo)
{
    const auto target = path(L"absent.ini");
    EXPECT_FALSE(files().exists(target));
    EXPECT_FALSE(files().readAll(target).has_value());
    EXPECT_FALSE(files().removeFile(target));
    ASSERT_TRUE(platform::replaceFile(files(), target, bytesOf("x")));
    EXPECT_TRUE(files().removeFile(target));
    EXPECT_FALSE(files().exists(target));
}

namespace {

const platform::FolderEntry* entryNamed(const std::vector<platform::FolderEntry>& entries, const std::wstring& name)
{
    for (const auto& entry : entries) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

} // namespace

TEST_P(FilesConformance, FoldersAreCreatedWithTheirParentsAndListedWithoutDots)
{
    const auto deep = path(L"copy\\Ovix\\setups");
    EXPECT_FALSE(files().isFolder(deep));
    EXPECT_FALSE(files().listFolder(path(L"copy")).has_value());
    ASSERT_TRUE(files().createFolders(deep));
    EXPECT_TRUE(files().createFolders(deep)) << "an existing folder is fine";
    EXPECT_TRUE(files().isFolder(deep));
    ASSERT_TRUE(platform::replaceFile(files(), path(L"copy\\Ovix\\VantorOvix.exe"), bytesOf("MZ")));
    EXPECT_FALSE(files().isFolder(path(L"copy\\Ovix\\VantorOvix.exe")));

    const auto entries = files().listFolder(path(L"copy\\Ovix"));
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 2u);
    const auto* setups = entryNamed(*entries, L"setups");
    const auto* exe = entryNamed(*entries, L"VantorOvix.exe");
    ASSERT_NE(setups, nullptr);
    ASSERT_NE(exe, nullptr);
    EXPECT_TRUE(setups->isFolder);
    EXPECT_FALSE(exe->isFolder);
    EXPECT_EQ(exe->sizeBytes, 2u);
    const auto empty = files().listFolder(deep);
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST_P(FilesConformance, ACopyReplacesItsTargetAndKeepsTheSourcesLastWrite)
{
    ASSERT_TRUE(files().createFolders(path(L"sync")));
    const auto source = path(L"sync\\Night.ini");
    const auto target = path(L"sync\\Copy.ini");
    ASSERT_TRUE(platform::replaceFile(files(), target, bytesOf("an older and longer text")));
    ASSERT_TRUE(platform::replaceFile(files(), source, bytesOf("# Vantor Ovix Settings\n")));
    ASSERT_TRUE(files().copyFile(source, target));
    EXPECT_EQ(files().readAll(target), bytesOf("# Vantor Ovix Settings\n"));
    const auto entries = files().listFolder(path(L"sync"));
    ASSERT_TRUE(entries.has_value());
    ASSERT_NE(entryNamed(*entries, L"Night.ini"), nullptr);
    ASSERT_NE(entryNamed(*entries, L"Copy.ini"), nullptr);
    EXPECT_EQ(entryNamed(*entries, L"Copy.ini")->lastWrite, entryNamed(*entries, L"Night.ini")->lastWrite);
    EXPECT_FALSE(files().copyFile(path(L"sync\\Absent.ini"), target));
    EXPECT_EQ(files().readAll(target), bytesOf("# Vantor Ovix Settings\n"));
}
