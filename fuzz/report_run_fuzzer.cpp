// A whole report on an arbitrary store, buffer size, code page and default user: the run
// writes only inside the buffer, delivers exactly the lines that fit, and removes from
// the store exactly the sessions of the delivered lines.
//
// Input: byte 0 picks the code page, byte 1 the default user, bytes 2-3 the buffer size;
// the rest is the store's bytes. A session named "psrl-fuzz-live" is held live throughout.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "files/profile_access.h"
#include "platform/platform.h"
#include "platform/posix/profile_parser.h"
#include "platform/session_event_owner.h"
#include "report/report_run.h"

namespace {

using psrl::platform::posix::ProfileDocument;

constexpr unsigned char kGuardByte = 0xA5;
constexpr size_t kGuardLength = 64;

// Supported ones, and three that are not (UTF-16, UTF-7, a made-up number).
constexpr uint32_t kCodePages[] = {65001, 0, 1, 3, 20127, 1252, 932, 28591, 54936, 1200, 65000, 42};
constexpr int32_t kDefaultUsers[] = {
    0, 1, -1, 7, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()};

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "report_run_fuzzer: %s\n", what);
    std::abort();
  }
}

// One folder per process, on a memory file system when there is one: fsync is cheap there.
const std::string& Folder() {
  static const std::string folder = [] {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/psrl-fuzz-XXXXXX";
    Require(mkdtemp(pattern.data()) != nullptr, "cannot create the work folder");
    return pattern;
  }();
  return folder;
}

std::u16string Wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  Require(static_cast<bool>(out), "cannot write the store");
}

std::vector<std::string> FolderEntries() {
  std::vector<std::string> entries;
  DIR* dir = opendir(Folder().c_str());
  Require(dir != nullptr, "cannot list the work folder");
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") entries.push_back(name);
  }
  closedir(dir);
  return entries;
}

std::u16string Folded(std::u16string name) {
  for (char16_t& c : name) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return name;
}

// The listed section names of a store's bytes, folded as the engine compares them, sorted.
std::vector<std::u16string> NameMultiset(const std::string& bytes) {
  const ProfileDocument document(bytes);
  std::vector<std::u16string> names;
  for (uint32_t size = 256;; size *= 2) {
    std::u16string buffer(size, u'\0');
    const uint32_t length = document.ListSectionNames(buffer.data(), size);
    if (length >= size - 2) continue;
    for (size_t at = 0; at < length;) {
      const size_t end = buffer.find(u'\0', at);
      names.push_back(Folded(buffer.substr(at, end - at)));
      at = end + 1;
    }
    break;
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A line in the code page as the run converts it: up to its first zero byte; empty when
// it cannot be converted.
std::string Convert(const std::u16string& line, uint32_t codePage) {
  const int32_t needed = psrl::platform::ConvertToCodePage(codePage, line.c_str(), nullptr, 0);
  if (needed <= 0) return {};
  std::vector<char> bytes(static_cast<size_t>(needed) + 1, '\0');
  if (psrl::platform::ConvertToCodePage(codePage, line.c_str(), bytes.data(), needed) <= 0) {
    return {};
  }
  return {bytes.data()};
}

bool IsSubsequence(const std::string& part, const std::string& whole) {
  size_t at = 0;
  for (const char c : whole) {
    if (at < part.size() && part[at] == c) ++at;
  }
  return at == part.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const psrl::platform::SessionEventOwner live(u"psrl-fuzz-live");
  const auto byte = [&](size_t at) -> unsigned { return at < size ? data[at] : 0U; };
  const uint32_t codePage = kCodePages[byte(0) % std::size(kCodePages)];
  const int32_t defaultUser = kDefaultUsers[byte(1) % std::size(kDefaultUsers)];
  // Mostly small sizes, where lines stop fitting; some negative ones and a null buffer.
  const unsigned sizeByte = byte(3);
  int32_t bufferSize = 0;
  bool nullBuffer = false;
  switch (byte(2) % 4) {
    case 0:
      bufferSize = static_cast<int32_t>(sizeByte % 16) - 2;
      nullBuffer = sizeByte >= 0xF0;
      break;
    case 1:
      bufferSize = static_cast<int32_t>(sizeByte) * 4;
      break;
    case 2:
      bufferSize = static_cast<int32_t>(sizeByte) * 64;
      break;
    default:
      bufferSize = 1 << 20;
      break;
  }
  const std::string before(reinterpret_cast<const char*>(data) + std::min<size_t>(size, 4),
                           reinterpret_cast<const char*>(data) + size);

  const std::string storePath = Folder() + "/plg.dat";
  WriteBytes(storePath, before);
  const psrl::ReportFiles files{Wide(Folder() + "/psrl.ini"), Wide(storePath)};

  // What the run should do, worked out from the same gathering on the store before it.
  psrl::AggregateTable table;
  psrl::platform::BeginRun();
  psrl::GatherSessions(files.sessionStore, psrl::ReadSectionNames(files.sessionStore), defaultUser,
                       table);
  psrl::platform::EndRun();
  std::string expectedText;
  int32_t expectedNeeded = 0;
  std::vector<std::u16string> removed;
  int32_t remaining = nullBuffer ? 0 : bufferSize;
  for (const auto& [key, aggregate] : table) {
    const std::string line = Convert(psrl::FormatReportLine(aggregate), codePage);
    if (line.empty()) continue;
    if (remaining > 0 && line.size() < static_cast<size_t>(remaining)) {
      expectedText += line;
      remaining -= static_cast<int32_t>(line.size());
      for (const auto& name : aggregate.sectionNames) removed.push_back(Folded(name));
    } else {
      const auto add = static_cast<int64_t>(line.size()) + 1;
      expectedNeeded = static_cast<int32_t>(
          std::min<int64_t>(expectedNeeded + add, std::numeric_limits<int32_t>::max()));
    }
  }

  // The caller promises one writable byte whatever the size says.
  const size_t capacity = static_cast<size_t>(std::max(bufferSize, 1));
  std::vector<unsigned char> memory(capacity + kGuardLength, kGuardByte);
  int32_t written = -12345;
  psrl::ReportRequest request;
  request.output = {nullBuffer ? nullptr : reinterpret_cast<char*>(memory.data()), bufferSize,
                    &written, codePage};
  request.defaultUserId = defaultUser;
  psrl::ReportSummary summary;
  const int32_t result = psrl::RunReport(request, &files, &summary);

  if (nullBuffer) {
    Require(
        std::all_of(memory.begin(), memory.end(), [](unsigned char b) { return b == kGuardByte; }),
        "a null buffer was written through");
    Require(written == 0, "a null buffer reported bytes written");
  } else {
    Require(written >= 0 && static_cast<size_t>(written) < capacity, "written is out of range");
    const auto end = memory.begin() + written;
    Require(std::find(memory.begin(), end, 0) == end, "a zero byte inside the written lines");
    Require(*end == 0, "the written lines are not followed by a zero byte");
    Require(std::all_of(end + 1, memory.end(), [](unsigned char b) { return b == kGuardByte; }),
            "bytes past the zero byte changed");
    Require(written == 0 || written < bufferSize, "the lines and their zero exceed bufferSize");
    Require(std::string(memory.begin(), end) == expectedText,
            "the buffer holds other lines than those that fit");
  }
  Require(result == expectedNeeded, "the result is not the bytes the other lines need");

  // The store lost exactly the sessions of the delivered lines and kept every other byte.
  const std::string after = ReadBytes(storePath);
  std::vector<std::u16string> expectedNames = NameMultiset(before);
  std::sort(removed.begin(), removed.end());
  std::vector<std::u16string> remainingNames;
  std::set_difference(expectedNames.begin(), expectedNames.end(), removed.begin(), removed.end(),
                      std::back_inserter(remainingNames));
  Require(removed.size() == summary.emission.sessionsRemoved, "the summary counts other sessions");
  Require(NameMultiset(after) == remainingNames, "the store lost or kept the wrong sessions");
  Require(IsSubsequence(after, before), "the store gained bytes");
  Require(FolderEntries() == std::vector<std::string>{"plg.dat"}, "a file was left behind");
  return 0;
}
