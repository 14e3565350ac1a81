// Whole reports over broken or odd session stores on real files: none crashes, none loses
// a session, and each ends as its row states.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/file_system_calls.h"
#include "platform/session_event_owner.h"
#include "unit/posix/report_in_folder.h"

namespace psrl::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using platform::posix::FileSystemCalls;
using platform::posix::RealFileSystemCalls;
using platform::posix::ScopedFileSystemCalls;

// Simulated through the call table, so that the rows also hold for root.
enum class Denied {
  kNothing,
  kStoreRead,       // EACCES on opening "plg.dat", as chmod 000 does
  kNewFileInFolder  // EACCES on the exclusive create, as in a read-only folder
};
Denied denied = Denied::kNothing;

FileSystemCalls DenyingCalls() {
  FileSystemCalls calls = RealFileSystemCalls();
  calls.open = [](const char* path, int flags, mode_t mode) {
    const bool store = std::strstr(path, "plg.dat") != nullptr && (flags & O_EXCL) == 0;
    if ((denied == Denied::kStoreRead && store) ||
        (denied == Denied::kNewFileInFolder && (flags & O_EXCL) != 0)) {
      errno = EACCES;
      return -1;
    }
    return RealFileSystemCalls().open(path, flags, mode);
  };
  return calls;
}

const std::string kLongName(10000, 'n');
const std::string kOtherLongName = std::string(9999, 'n') + "m";  // differs only at its end

struct Case {
  const char* name;
  std::function<void(const fs::path& folder)> make{};  // creates "plg.dat" in the folder
  std::string lines{};                                 // expected delivered lines
  std::optional<std::string> storeAfter{};             // bytes; nothing: checked by `check`
  std::function<void(const fs::path& store)> check{};
  Denied denied = Denied::kNothing;
  std::string live{};  // a session held live during the report
};

std::function<void(const fs::path&)> Bytes(const std::string& bytes) {
  return [bytes](const fs::path& folder) { WriteFileBytes(folder / "plg.dat", bytes); };
}

TEST(BrokenStoreTest, NoStoreCrashesOrLosesASession) {
  const std::string session = StoreBytes({SessionAt("S", "/p/")});
  const std::string keep = StoreBytes({SessionAt("K", "/k/")});
  std::string manyEmpty;
  for (int i = 0; i < 100000; ++i) manyEmpty += "[e" + std::to_string(i) + "]\r\n";
  const std::string hugeLine = "[S]\r\n" + std::string(10 << 20, 'x') + "\r\n" +
                               StoreBytes({SessionAt("", "/p/")}).substr(4);

  const std::vector<Case> cases = {
      {.name = "empty file", .make = Bytes(""), .lines = "", .storeAfter = ""},
      {.name = "UTF-8 byte-order mark only",
       .make = Bytes("\xEF\xBB\xBF"),
       .lines = "",
       .storeAfter = "\xEF\xBB\xBF"},
      {.name = "UTF-16 byte-order mark only",
       .make = Bytes("\xFF\xFE"),
       .lines = "",
       .storeAfter = "\xFF\xFE"},
      // The odd byte belongs to the last section, and goes with it.
      {.name = "odd-length UTF-16",
       .make = Bytes(Utf16LeWithBom(ToU16(keep + session)) + "Z"),
       .lines = LineOf("/k/") + LineOf("/p/"),
       .storeAfter = "\xFF\xFE"},
      // A name ends at its zero, and so does a value as the reader sees it.
      {.name = "NUL bytes",
       .make = Bytes("[S\0junk]\r\nGameName=G\0H\r\n"s + session.substr(5)),
       .lines = LineOf("/p/"),
       .storeAfter = ""},
      {.name = "invalid UTF-8",
       .make = Bytes("[S\xFF\xC3]\r\nUserID=1\r\nGameName=G\xE2\x82\r\nGameFullPath=/p\xFF/\r\n" +
                     keep),
       .lines = LineOf("/k/") + "1;G\xEF\xBF\xBD\xEF\xBF\xBD;;/p\xEF\xBF\xBD/;;0;0;1;1;0\r\n",
       .storeAfter = ""},
      {.name = "a 10 MB line", .make = Bytes(hugeLine), .lines = LineOf("/p/"), .storeAfter = ""},
      {.name = "100,000 empty sections",
       .make = Bytes(manyEmpty),
       .lines = "0;;;;;0;0;100000;100000;0\r\n",
       .storeAfter = ""},
      {.name = "a folder named plg.dat",
       .make = [](const fs::path& folder) { fs::create_directory(folder / "plg.dat"); },
       .check = [](const fs::path& store) { EXPECT_TRUE(fs::is_directory(store)); }},
      {.name = "an unreadable plg.dat",
       .make = Bytes(session),
       .storeAfter = session,
       .denied = Denied::kStoreRead},
      {.name = "a dangling symbolic link",
       .make =
           [](const fs::path& folder) {
             fs::create_symlink(folder / "gone.dat", folder / "plg.dat");
           },
       .check =
           [](const fs::path& store) {
             EXPECT_TRUE(fs::is_symlink(store));
             EXPECT_FALSE(fs::exists(store));
           }},
      // The sessions of delivered lines are deleted by rewriting the file in place.
      {.name = "a read-only folder",
       .make = Bytes(session + keep),
       .lines = LineOf("/k/") + LineOf("/p/"),
       .storeAfter = "",
       .denied = Denied::kNewFileInFolder},
      // Hashed event addresses: the live one is skipped, its neighbour with the same first
      // 9,999 characters is not.
      {.name = "section names of 10,000 characters",
       .make = Bytes(StoreBytes({SessionAt(kLongName, "/l/"), SessionAt(kOtherLongName, "/m/")})),
       .lines = LineOf("/m/"),
       .storeAfter = StoreBytes({SessionAt(kLongName, "/l/")}),
       .live = kLongName},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const fs::path store = folder / "plg.dat";
    c.make(folder.path());
    struct stat original {};
    const bool isFile = lstat(store.c_str(), &original) == 0 && S_ISREG(original.st_mode);
    std::optional<platform::SessionEventOwner> owner;
    if (!c.live.empty()) {
      owner.emplace(ToU16(c.live));
      ASSERT_TRUE(owner->valid());
    }
    denied = c.denied;
    FolderReport report;
    {
      const ScopedFileSystemCalls calls(DenyingCalls());
      report = ReportFolder(folder.path(), 1 << 16, 0);
    }
    denied = Denied::kNothing;

    EXPECT_EQ(report.text, c.lines);
    EXPECT_EQ(report.result, 0);
    if (c.storeAfter) {
      EXPECT_EQ(ReadFileBytes(store), *c.storeAfter);
    }
    if (c.check) {
      c.check(store);
    }
    struct stat now {};
    if (isFile && c.denied == Denied::kNewFileInFolder) {
      ASSERT_EQ(lstat(store.c_str(), &now), 0);
      EXPECT_EQ(now.st_ino, original.st_ino) << "not rewritten in place";
    }
    EXPECT_EQ(FolderEntries(folder.path()), std::vector<std::string>{"plg.dat"});
  }
}

}  // namespace
}  // namespace psrl::testing
