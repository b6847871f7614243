#include "platform/LinuxVolumeProvider.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/HostFolder.h"
#include "tests/support/TempDir.h"

namespace orvale::platform {
namespace {

namespace fs = std::filesystem;
using Kind = VolumeKind;

constexpr const char* kVariable = "OSTREL_DRIVES";

std::vector<char> Letters(const std::vector<VolumeInfo>& volumes) {
    std::vector<char> letters;
    letters.reserve(volumes.size());
    for (const auto& volume : volumes) letters.push_back(volume.letter);
    return letters;
}

class LinuxVolumeProviderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv(kVariable);
        SetHostFolder(host_.Str());
    }
    void TearDown() override {
        ::unsetenv(kVariable);
        SetHostFolder("");
    }

    std::string Folder(const std::string& name) {
        const fs::path path = host_.Path() / name;
        fs::create_directories(path);
        return path.string();
    }
    fs::path Ini() const { return host_.Path() / "ostrel.ini"; }

    test::TempDir host_;
};

TEST_F(LinuxVolumeProviderTest, TheVariableNamesTheVolumesAndWinsOverTheIniFile) {
    const std::string d = Folder("d");
    const std::string e = Folder("e");
    const std::string f = (host_.Path() / "f").string();  // never created
    test::WriteFile(Ini(), "[drives]\nG = " + d + "\n");
    ::setenv(kVariable, ("D=" + d + ";E=removable:" + e + "/;F=" + f + ";C=/").c_str(), 1);

    LinuxVolumeProvider provider;
    const auto volumes = provider.ListVolumes();
    ASSERT_EQ(Letters(volumes), (std::vector<char>{'C', 'D', 'E'}));
    EXPECT_EQ(volumes[0].root, "/");
    EXPECT_TRUE(volumes[0].systemDisk);
    EXPECT_EQ(volumes[1].root, d);
    EXPECT_EQ(volumes[1].kind, Kind::kFixed);
    EXPECT_FALSE(volumes[1].systemDisk);
    EXPECT_EQ(volumes[2].root, e);
    EXPECT_EQ(volumes[2].kind, Kind::kRemovable);

    EXPECT_EQ(provider.RootFolder('F'), f);
    EXPECT_FALSE(provider.IsPresent('F'));
    VolumeSpace space;
    EXPECT_EQ(provider.GetSpace('F', space), ENODEV);
    EXPECT_EQ(provider.RootFolder('G'), "");
    EXPECT_EQ(provider.GetSpace('G', space), ENODEV);
}

TEST_F(LinuxVolumeProviderTest, SpaceComesFromTheFilesystemOfTheRoot) {
    const std::string d = Folder("d");
    ::setenv(kVariable, ("D=" + d).c_str(), 1);
    LinuxVolumeProvider provider;
    VolumeSpace space;
    ASSERT_EQ(provider.GetSpace('D', space), 0);
    struct statvfs figures {};
    ASSERT_EQ(::statvfs(d.c_str(), &figures), 0);
    EXPECT_EQ(space.total, static_cast<uint64_t>(figures.f_blocks) * figures.f_frsize);
    EXPECT_GT(space.total, 0U);
    EXPECT_LE(space.available, space.free);
    EXPECT_LE(space.free, space.total);
}

TEST_F(LinuxVolumeProviderTest, TheIniSectionHoldsWithoutTheVariable) {
    const std::string d = Folder("d");
    const std::string text = "[Core]\nFilter = x\n[drives]\nD = " + d + "\nE = cdrom:/media/cd\n";
    test::WriteFile(Ini(), text);

    LinuxVolumeProvider provider;
    EXPECT_EQ(provider.Mapping(), (std::vector<DriveMapping>{{'D', Kind::kFixed, d},
                                                             {'E', Kind::kCdrom, "/media/cd"}}));
    EXPECT_EQ(Letters(provider.ListVolumes()), (std::vector<char>{'D'}));
    EXPECT_EQ(test::ReadFile(Ini()), text);  // read, never rewritten
}

TEST_F(LinuxVolumeProviderTest, DiscoveredLettersAreRecordedAndStayPut) {
    const std::string a = Folder("a");
    const std::string b = Folder("b");
    const std::string zero = Folder("0");
    auto table = std::make_shared<std::string>(
        "1 0 0:100 / / rw - ext4 /dev/ostrel-test-root rw\n"
        "2 1 0:101 / " +
        a +
        " rw - ext4 /dev/ostrel-test-a rw\n"
        "3 1 0:102 / " +
        b + " rw - xfs /dev/ostrel-test-b rw\n");
    const auto source = [table] { return *table; };
    test::WriteFile(Ini(), "[Core]\nFilter = x\n");

    LinuxVolumeProvider provider(source);
    const std::vector<DriveMapping> found = {
        {'C', Kind::kFixed, "/"}, {'D', Kind::kFixed, a}, {'E', Kind::kFixed, b}};
    EXPECT_EQ(provider.Mapping(), found);
    EXPECT_EQ(test::ReadFile(Ini()),
              "[Core]\nFilter = x\n[drives]\nC = /\nD = " + a + "\nE = " + b + "\n");

    // Disk a goes away and a new one sorts first: nobody changes letters.
    *table =
        "1 0 0:100 / / rw - ext4 /dev/ostrel-test-root rw\n"
        "3 1 0:102 / " +
        b +
        " rw - xfs /dev/ostrel-test-b rw\n"
        "4 1 0:103 / " +
        zero + " rw - xfs /dev/ostrel-test-0 rw\n";
    fs::remove(a);
    EXPECT_EQ(provider.Mapping(), found);
    EXPECT_EQ(LinuxVolumeProvider(source).Mapping(), found);
    EXPECT_EQ(Letters(provider.ListVolumes()), (std::vector<char>{'C', 'E'}));
}

// Mounts a small tmpfs for the test's life; Mounted() is false where the
// system does not let the test mount.
class TmpfsMount {
  public:
    explicit TmpfsMount(std::string folder) : folder_(std::move(folder)) { Mount(); }
    ~TmpfsMount() { Unmount(); }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool Mount() {
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=4m") == 0;
        error_ = mounted_ ? 0 : errno;
        return mounted_;
    }
    void Unmount() {
        if (mounted_) ::umount(folder_.c_str());
        mounted_ = false;
    }
    bool Mounted() const { return mounted_; }
    std::string Error() const { return std::strerror(error_); }

  private:
    std::string folder_;
    bool mounted_ = false;
    int error_ = 0;
};

TEST_F(LinuxVolumeProviderTest, AnEmptyFormerMountPointIsNotPresent) {
    const std::string m = Folder("m");
    TmpfsMount tmpfs(m);
    if (!tmpfs.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << tmpfs.Error();
    ::setenv(kVariable, ("D=" + m).c_str(), 1);

    LinuxVolumeProvider provider;
    ASSERT_TRUE(provider.IsPresent('D'));
    VolumeSpace space;
    ASSERT_EQ(provider.GetSpace('D', space), 0);
    EXPECT_EQ(space.total, 4U << 20);
    EXPECT_EQ(space.available, space.total);
    test::WriteFile(fs::path(m) / "one-mib", std::string(1 << 20, 'x'));
    ASSERT_EQ(provider.GetSpace('D', space), 0);
    EXPECT_EQ(space.available, space.total - (1U << 20));

    tmpfs.Unmount();
    EXPECT_TRUE(fs::is_directory(m));
    EXPECT_FALSE(provider.IsPresent('D'));
    EXPECT_EQ(provider.GetSpace('D', space), ENODEV);
    EXPECT_TRUE(provider.ListVolumes().empty());

    ASSERT_TRUE(tmpfs.Mount());
    EXPECT_TRUE(provider.IsPresent('D'));
}

class FakeProvider : public VolumeProvider {
  public:
    std::vector<VolumeInfo> ListVolumes() override { return {}; }
    std::string RootFolder(char) override { return {}; }
    bool IsPresent(char) override { return false; }
    int GetSpace(char, VolumeSpace&) override { return ENODEV; }
};

TEST(VolumeProviderTest, AnInstalledProviderReplacesTheDefaultForTheProcess) {
    const auto standard = CurrentVolumeProvider();
    ASSERT_NE(dynamic_cast<LinuxVolumeProvider*>(standard.get()), nullptr);

    const auto fake = std::make_shared<FakeProvider>();
    InstallVolumeProvider(fake);
    EXPECT_EQ(CurrentVolumeProvider(), fake);

    InstallVolumeProvider(nullptr);
    EXPECT_EQ(CurrentVolumeProvider(), standard);
}

}  // namespace
}  // namespace orvale::platform
