#include "support/deployed_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/platform_cases.h"

namespace psrl::testing {
namespace {

constexpr unsigned char kGuardByte = 0xA5;
constexpr size_t kGuardLength = 64;

}  // namespace

std::filesystem::path HostExecutableFolder() { return HostExecutablePath().parent_path(); }

CallOutcome CallWithGuard(GetPSRFunction getPsr, const CallArguments& arguments) {
  CallOutcome outcome;
  // The caller promises at least one writable byte, whatever the size says.
  const size_t capacity = static_cast<size_t>(std::max(arguments.bufferSize, 1));
  std::vector<unsigned char> memory(capacity + kGuardLength, kGuardByte);
  char* buffer = arguments.nullBuffer ? nullptr : reinterpret_cast<char*>(memory.data());
  int32_t written = 0x5A5A5A5A;
  outcome.result = getPsr(buffer, arguments.bufferSize, arguments.nullWritten ? nullptr : &written,
                          arguments.codePage, arguments.defaultUserId);
  if (!arguments.nullWritten) outcome.written = written;

  if (arguments.nullBuffer) {
    EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](unsigned char byte) {
      return byte == kGuardByte;
    })) << "a null buffer was written through";
    return outcome;
  }
  const auto end = std::find(memory.begin(), memory.end(), 0);
  EXPECT_NE(end, memory.end()) << "the buffer holds no zero byte";
  const auto textLength = static_cast<size_t>(end - memory.begin());
  outcome.text.assign(reinterpret_cast<const char*>(memory.data()), textLength);
  if (!arguments.nullWritten) {
    EXPECT_EQ(static_cast<size_t>(written), textLength) << "written disagrees with the buffer";
  }
  if (textLength > 0) {
    EXPECT_LT(textLength, static_cast<size_t>(std::max(arguments.bufferSize, 0)))
        << "the lines and their zero byte do not fit into bufferSize";
  }
  EXPECT_TRUE(std::all_of(memory.begin() + static_cast<std::ptrdiff_t>(textLength) + 1,
                          memory.end(), [](unsigned char byte) { return byte == kGuardByte; }))
      << "bytes past the zero byte changed";
  return outcome;
}

}  // namespace psrl::testing
