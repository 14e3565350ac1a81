#include "files/file_locations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/platform.h"
#include "support/deployed_library.h"
#include "support/platform_cases.h"
#include "support/temp_folder.h"

namespace psrl {
namespace {

using psrl::testing::HostExecutablePath;
using psrl::testing::ToU16;

// `path` with every '/' replaced by the platform's separator.
std::u16string Native(std::u16string path) {
  std::replace(path.begin(), path.end(), u'/', platform::kPathSeparator);
  return path;
}

std::u16string AsciiLower(std::u16string text) {
  for (auto& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

TEST(FileLocationsTest, DirectoryOfPath) {
  const struct {
    std::u16string path;
    std::u16string directory;
  } cases[] = {
      {u"/opt/host/libpsrl.so", u"/opt/host/"},
      {u"/libpsrl.so", u"/"},
      {u"libpsrl.so", u"libpsrl.so"},  // no separator: unchanged
      {u"/opt/host/", u"/opt/host/"},  // separator last: unchanged
      {u"", u""},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(psrl::testing::ToUtf8(Native(testCase.path)));
    EXPECT_EQ(DirectoryOfPath(Native(testCase.path)), Native(testCase.directory));
  }
}

TEST(FileLocationsTest, ModulePathFallsBackToTheHostExecutable) {
  const auto executable = HostExecutablePath();
  EXPECT_EQ(GetModulePath(nullptr), ToU16(executable));
  EXPECT_EQ(GetModulePath(""), ToU16(executable));
  EXPECT_EQ(GetModulePath("no-such-module.so"), ToU16(executable));
  EXPECT_EQ(GetModuleDirectory("no-such-module.so"),
            ToU16(executable.parent_path()) + platform::kPathSeparator);
}

TEST(FileLocationsTest, ModulePathOfALoadedLibraryIsItsFullPath) {
  const auto path = GetModulePath(psrl::testing::kSystemLibraryName);
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(std::filesystem::path(path).is_absolute());
  // Windows reports system libraries in whatever case their files have.
  EXPECT_TRUE(AsciiLower(path).ends_with(platform::kPathSeparator +
                                         ToU16(std::string(psrl::testing::kSystemLibraryName))));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(path)));
}

TEST(FileLocationsTest, ModulePathQueryReportsACutPathLikeWindows) {
  const auto full = GetModulePath(nullptr);
  ASSERT_GT(full.size(), 4U);
  char16_t buffer[5] = {u'#', u'#', u'#', u'#', u'#'};
  EXPECT_EQ(platform::QueryModulePath(nullptr, buffer, 4), 4U);
  EXPECT_EQ(std::u16string(buffer, 3), full.substr(0, 3));
  EXPECT_EQ(buffer[4], u'#') << "written past the buffer";
  // Linux ends the cut path with a zero as Windows XP and later do; Wine fills the whole
  // buffer with the path, as Windows 2000 did. The library reads neither.
  if (psrl::testing::AppliesHere(psrl::testing::Platforms::kLinuxOnly)) {
    EXPECT_EQ(buffer[3], u'\0');
  }
}

TEST(FileLocationsTest, StorePathIsFoundOnceAndKeptWhileLoaded) {
  // A copy, not a reference to the cache: the test is whether the cache changes.
  // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
  const std::u16string first = GetSessionStorePath();
  ASSERT_TRUE(first.ends_with(u"plg.dat"));
  // A library of the library's own name loaded now changes where the module lookup
  // points, but not the store path found before.
  psrl::testing::TempFolder folder;
  const psrl::testing::LoadedLibrary library(folder.path(), psrl::testing::kLibraryFileName);
  const auto folderNow = GetModuleDirectory(platform::kLibraryModuleName);
  EXPECT_EQ(AsciiLower(folderNow), AsciiLower(ToU16(folder.path()) + platform::kPathSeparator));
  EXPECT_NE(AsciiLower(first), AsciiLower(folderNow + u"plg.dat"));
  EXPECT_EQ(GetSessionStorePath(), first);
  EXPECT_EQ(GetControlFilePath(), folderNow + u"psrl.ini");  // rebuilt on every call
}

}  // namespace
}  // namespace psrl
