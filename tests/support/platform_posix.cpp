// The Linux side of the tests' platform helpers: stores are plain files whose bytes the
// engine keeps, so they are written and checked byte for byte.
#include <gtest/gtest.h>

#include "support/platform_cases.h"
#include "support/store_file.h"
#include "support/temp_folder.h"

namespace psrl::testing {

bool AppliesHere(Platforms platforms) { return platforms != Platforms::kWindowsOnly; }

std::filesystem::path HostExecutablePath() { return std::filesystem::canonical("/proc/self/exe"); }

const char* const kSystemLibraryName = "libc.so.6";

void WriteStore(const std::filesystem::path& file, const StoreContent& content,
                const StoreFormat& format) {
  WriteFileBytes(file, StoreBytes(content, format));
}

void ExpectStore(const std::filesystem::path& file, const StoreContent& expected,
                 const StoreFormat& format) {
  EXPECT_EQ(ReadFileBytes(file), StoreBytes(expected, format));
}

}  // namespace psrl::testing
