#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "converter/OldFolders.h"
#include "tests/support/TempDir.h"

namespace orvale::converter {
namespace {

namespace fs = std::filesystem;

TEST(OldFoldersTest, ListsDateFoldersByChannelAndDateWithTheirDrive) {
    test::TempDir dir;
    const fs::path root = dir.Path() / "ZERoza";
    for (const char* folder : {"cam2/20240102", "cam1/20240103", "cam1/20240101", "cam3"}) {
        fs::create_directories(root / folder);
    }
    test::WriteFile(root / "notes.txt", "x");
    test::WriteFile(root / "cam1" / "20240104", "a file, not a date folder");
    test::TempDir elsewhere;
    fs::create_directories(elsewhere.Path() / "20240105");
    fs::create_directory_symlink(elsewhere.Path(), root / "linked");
    fs::create_directory_symlink(elsewhere.Path() / "20240105", root / "cam2" / "20240105");

    std::error_code error;
    const auto folders = ListDateFolders('D', dir.Path(), error);
    EXPECT_FALSE(error);
    ASSERT_EQ(folders.size(), 3u);
    std::vector<std::string> names;
    for (const date_folder_s& folder : folders) {
        EXPECT_EQ(folder.drive, 'D');
        EXPECT_EQ(folder.path, root / folder.channel / folder.date);
        EXPECT_EQ(folder.ChannelPath(), root / folder.channel);
        names.push_back(folder.channel + "/" + folder.date);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"cam1/20240101", "cam1/20240103", "cam2/20240102"}));

    test::TempDir empty;
    EXPECT_TRUE(ListDateFolders('E', empty.Path(), error).empty());
    EXPECT_FALSE(error);
}

TEST(OldFoldersTest, ListsTheRegularFilesOfADateFolder) {
    test::TempDir dir;
    for (const char* name : {"0002_b.nmd", "0001_a.nmt", "Thumbs.db", "0001_a.nmb"}) {
        test::WriteFile(dir.Path() / name, "x");
    }
    fs::create_directory(dir.Path() / "sub.nmd");
    fs::create_symlink(dir.Path() / "0002_b.nmd", dir.Path() / "0003_link.nmd");
    std::error_code error;
    std::vector<std::string> names;
    for (const fs::path& file : ListDateFiles(dir.Path(), error)) {
        names.push_back(file.filename().string());
    }
    EXPECT_FALSE(error);
    EXPECT_EQ(names, (std::vector<std::string>{"0001_a.nmb", "0001_a.nmt", "0002_b.nmd"}));

    ListDateFiles(dir.Path() / "absent", error);
    EXPECT_TRUE(error);
}

TEST(OldFoldersTest, ClassifiesFilesByTheExtensionsAnywhereInTheName) {
    const std::pair<const char*, OldFileKind> cases[] = {
        {"0001.nmd", OldFileKind::kMedia},        {"0001.nmb", OldFileKind::kMedia},
        {"0001.nmt", OldFileKind::kMetadata},     {"0001.nmd.nmt", OldFileKind::kMetadata},
        {"0001.nmt.bak", OldFileKind::kMetadata}, {"0001.NMD", OldFileKind::kMedia},
        {"0001.Nmb", OldFileKind::kMedia},        {"0001.NmT", OldFileKind::kMetadata},
        {"0001.avi", OldFileKind::kOther},        {"readme.txt", OldFileKind::kOther},
    };
    for (const auto& [name, kind] : cases) EXPECT_EQ(ClassifyOldFile(name), kind) << name;
}

}  // namespace
}  // namespace orvale::converter
