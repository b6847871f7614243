#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/HostFolder.h"
#include "tests/support/TempDir.h"

namespace orvale::platform {
namespace {

constexpr const char* kVariable = "OSTREL_RAID_LIBRARY";
constexpr const char* kFileName = "libi2bdg.so";

TEST(DynamicLibraryTest, AFailedLoadAnswersNullWithTheLoadersText) {
    std::string error;
    EXPECT_EQ(DynamicLibrary::Open("/nonexistent/libnothing.so", &error), nullptr);
    EXPECT_NE(error.find("libnothing.so"), std::string::npos) << error;
    // An empty name must not hand out the main program.
    EXPECT_EQ(DynamicLibrary::Open(""), nullptr);
}

TEST(DynamicLibraryTest, FindsExportedFunctionsOnly) {
    const auto library = DynamicLibrary::Open(FAKE_RAID_LIBRARY);
    ASSERT_NE(library, nullptr);
    EXPECT_NE(library->Symbol("i2bApi_getLogDrvInfo"), nullptr);
    EXPECT_EQ(library->Symbol("WriteLittleEndian"), nullptr);
    EXPECT_EQ(library->Symbol("no_such_function"), nullptr);
}

class VendorLibraryTest : public ::testing::Test {
  protected:
    void TearDown() override {
        ::unsetenv(kVariable);
        SetHostFolder("");
    }
};

TEST_F(VendorLibraryTest, TheVariableAloneNamesTheFileWhenSet) {
    SetHostFolder(FAKE_RAID_FOLDER);  // holds a loadable libi2bdg.so

    ::setenv(kVariable, FAKE_RAID_WITHOUT_LOGICAL, 1);
    auto library = DynamicLibrary::OpenBesideHost(kFileName, kVariable);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->File(), FAKE_RAID_WITHOUT_LOGICAL);

    test::TempDir empty;
    ::setenv(kVariable, (empty.Str() + "/" + kFileName).c_str(), 1);
    EXPECT_EQ(DynamicLibrary::OpenBesideHost(kFileName, kVariable), nullptr);
}

TEST_F(VendorLibraryTest, WithoutTheVariableTheHostFolderComesBeforeTheSystemSearch) {
    SetHostFolder(FAKE_RAID_FOLDER);
    auto library = DynamicLibrary::OpenBesideHost(kFileName, kVariable);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->File(), std::string(FAKE_RAID_FOLDER) + "/" + kFileName);

    test::TempDir empty;
    SetHostFolder(empty.Str());
    library = DynamicLibrary::OpenBesideHost(kFileName, kVariable);
    // This machine has no vendor library installed: the search finds none.
    if (library != nullptr) {
        EXPECT_EQ(library->File(), kFileName);
    }
}

}  // namespace
}  // namespace orvale::platform
