// Reports racing a writer of the store, and reports killed at random moments. Every
// session has a game path of its own, "/sNNNNN/", so each delivered line names exactly
// one session. PSRL_STRESS_ITERATIONS=N (N > 1) runs N times as many rounds, and kills
// reports of a store of 20,000 sessions instead of 1,500.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/profile_parser.h"
#include "platform/session_event_owner.h"
#include "report/report_run.h"
#include "support/temp_folder.h"

namespace psrl::testing {
namespace {

namespace fs = std::filesystem;

int Iterations() {
  const char* text = std::getenv("PSRL_STRESS_ITERATIONS");
  const int value = text != nullptr ? std::atoi(text) : 1;
  return value > 0 ? value : 1;
}

std::string Number(int id) {
  char text[16];
  std::snprintf(text, sizeof text, "%05d", id);
  return text;
}
// Section names carry the test process's id, given before any child is forked: the
// abstract names that hold sessions live are shared by every process of the machine, and
// another test running at the same time (its writer holds sessions of its own) must not
// make one of ours look live.
const std::string kNamePrefix = "s" + std::to_string(getpid()) + "-";
std::string SectionName(int id) { return kNamePrefix + Number(id); }
std::string GamePath(int id) { return "/s" + Number(id) + "/"; }
std::string SectionBytes(int id) {
  return "[" + SectionName(id) + "]\r\nUserID=1\r\nGameFullPath=" + GamePath(id) +
         "\r\nGamingTime=5\r\n";
}
// Every line has this length: "1;;;/sNNNNN/;;5;5;1;1;0\r\n".
constexpr int32_t kLineLength = 25;

// The session ids of delivered lines; fails the test on a line of another form.
std::vector<int> DeliveredIds(const std::string& text) {
  std::vector<int> ids;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    const std::string line = text.substr(at, end == std::string::npos ? end : end - at + 2);
    at = end == std::string::npos ? text.size() : end + 2;
    if (line.size() != static_cast<size_t>(kLineLength) || line.compare(0, 6, "1;;;/s") != 0 ||
        line.compare(11, 14, "/;;5;5;1;1;0\r\n") != 0) {
      ADD_FAILURE() << "unexpected line: " << line;
      continue;
    }
    ids.push_back(std::stoi(line.substr(6, 5)));
  }
  return ids;
}

// The session ids in the store, in file order.
std::vector<int> StoredIds(const std::string& bytes) {
  const platform::posix::ProfileDocument document(bytes);
  std::vector<char16_t> buffer(bytes.size() + 16);
  const uint32_t length =
      document.ListSectionNames(buffer.data(), static_cast<uint32_t>(buffer.size()));
  std::vector<int> ids;
  for (uint32_t at = 0; at < length;) {
    const std::u16string name(buffer.data() + at);
    ids.push_back(std::stoi(ToUtf8(name.substr(name.rfind(u'-') + 1))));
    at += static_cast<uint32_t>(name.size()) + 1;
  }
  return ids;
}

struct Report {
  std::string text;
  int32_t result = 0;
};

Report RunOnce(const fs::path& folder, int32_t bufferSize, bool keepSessions = false) {
  std::vector<char> buffer(static_cast<size_t>(std::max(bufferSize, 1)), '\0');
  int32_t written = 0;
  ReportRequest request;
  request.output = {buffer.data(), bufferSize, &written, 65001};
  request.keepSessions = keepSessions;
  const ReportFiles files{ToU16(folder / "psrl.ini"), ToU16(folder / "plg.dat")};
  Report report;
  report.result = RunReport(request, &files);
  report.text.assign(buffer.data(), static_cast<size_t>(written));
  return report;
}

// One writer adds sessions under the engine's lock, holding some of them live for a few
// of its rounds, while this process reports with random buffer sizes. In the end every
// session was delivered exactly once.
TEST(StoreStressTest, ReportsRacingAWriterDeliverEverySessionOnce) {
  TempFolder folder;
  const int sessions = 200 * Iterations();
  const std::u16string store = ToU16(folder / "plg.dat");

  const pid_t writer = fork();
  ASSERT_NE(writer, -1);
  if (writer == 0) {
    std::deque<platform::SessionEventOwner> held;
    for (int id = 0; id < sessions; ++id) {
      const std::u16string name = ToU16(SectionName(id));
      if (id % 4 == 0) held.emplace_back(name);  // live before it is written
      platform::BeginRun();
      const bool written =
          platform::ProfileWriteString(name.c_str(), u"UserID", u"1", store.c_str()) &&
          platform::ProfileWriteString(name.c_str(), u"GameFullPath", ToU16(GamePath(id)).c_str(),
                                       store.c_str()) &&
          platform::ProfileWriteString(name.c_str(), u"GamingTime", u"5", store.c_str());
      platform::EndRun();
      if (!written) _exit(2);
      if (held.size() > 3) held.pop_front();  // finished after a few more rounds
      usleep(200);
    }
    _exit(0);
  }

  std::mt19937 random(std::random_device{}());
  std::map<int, int> deliveries;
  int status = 0;
  bool writing = true;
  while (writing) {
    writing = waitpid(writer, &status, WNOHANG) == 0;
    const auto bufferSize = static_cast<int32_t>(random() % (uint64_t{kLineLength} * 12));
    for (const int id : DeliveredIds(RunOnce(folder.path(), bufferSize).text)) ++deliveries[id];
  }
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writer failed";
  // The writer is gone, and with it every live session: the rest comes out now.
  for (int round = 0; round < 10 && !StoredIds(ReadFileBytes(folder / "plg.dat")).empty();
       ++round) {
    for (const int id : DeliveredIds(RunOnce(folder.path(), 1 << 20).text)) ++deliveries[id];
  }

  EXPECT_EQ(StoredIds(ReadFileBytes(folder / "plg.dat")), std::vector<int>{});
  int missing = 0;
  for (int id = 0; id < sessions; ++id) {
    const int count = deliveries.count(id) != 0 ? deliveries[id] : 0;
    if (count == 0) ++missing;
    EXPECT_LE(count, 1) << "session " << id << " was delivered " << count << " times";
  }
  EXPECT_EQ(missing, 0) << "sessions neither delivered nor in the store";
  EXPECT_EQ(deliveries.size(), static_cast<size_t>(sessions));
}

// A child reports a large store in calls of random size and records each call's lines
// once the call has returned; it is killed at a random moment. Afterwards the store is
// a whole file, and every session is in it or in a recorded call, except for the lines
// of a call killed after it replaced the store and before it returned (counted).
TEST(StoreStressTest, AKilledReportLeavesAWholeStoreAndLosesNoRecordedSession) {
  // Quick by default; the longer mode reports a store of 20,000 sessions.
  const int sessions = Iterations() > 1 ? 20000 : 1500;
  TempFolder folder;
  const fs::path storePath = folder / "plg.dat";
  const fs::path recordPath = folder / "calls.log";
  std::string bytes;
  for (int id = 0; id < sessions; ++id) bytes += SectionBytes(id);
  WriteFileBytes(storePath, bytes);

  // Kills land anywhere in the first three calls: how long one takes is measured here.
  const auto started = std::chrono::steady_clock::now();
  RunOnce(folder.path(), kLineLength * 100, true);
  const auto callMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now() - started)
                                    .count();

  std::mt19937 random(std::random_device{}());
  std::set<int> remaining;  // in the store, by the store's own account
  for (int id = 0; id < sessions; ++id) remaining.insert(id);
  int windowHits = 0;
  int kills = 0;
  const int rounds = 10 * Iterations();
  for (int round = 0; round < rounds && !remaining.empty(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    fs::remove(recordPath);
    const auto seed = random();
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      std::mt19937 sizes(seed);
      const int record = open(recordPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      for (;;) {
        const auto bufferSize = static_cast<int32_t>(kLineLength * (5 + sizes() % 50) + 1);
        const std::string call = "C " + std::to_string(bufferSize) + "\n";
        if (write(record, call.data(), call.size()) < 0) _exit(2);
        const Report report = RunOnce(folder.path(), bufferSize);
        // One write per call: a record is there whole or not at all.
        const std::string done = "D " + std::to_string(report.text.size()) + "\n" + report.text;
        if (write(record, done.data(), done.size()) < 0) _exit(2);
        if (report.text.empty()) _exit(0);
      }
    }
    usleep(static_cast<useconds_t>(random() % static_cast<uint64_t>(3 * callMicroseconds + 1)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFSIGNALED(status)) ++kills;

    // Replay the record: finished calls, and the size of a call that did not return.
    const std::string log = fs::exists(recordPath) ? ReadFileBytes(recordPath) : "";
    std::set<int> atCallStart = remaining;
    int32_t unfinishedSize = 0;
    for (size_t at = 0; at < log.size();) {
      const size_t lineEnd = log.find('\n', at);
      if (lineEnd == std::string::npos) break;
      const std::string head = log.substr(at, lineEnd - at);
      at = lineEnd + 1;
      const auto number = static_cast<size_t>(std::stoul(head.substr(2)));
      if (head[0] == 'C') {
        unfinishedSize = static_cast<int32_t>(number);
        continue;
      }
      ASSERT_LE(at + number, log.size());
      for (const int id : DeliveredIds(log.substr(at, number))) {
        EXPECT_EQ(atCallStart.erase(id), 1U) << "session " << id << " delivered twice";
      }
      at += number;
      unfinishedSize = 0;
    }

    // The store must be whole: exactly the original bytes of the sessions it lists.
    const std::string store = ReadFileBytes(storePath);
    const std::vector<int> stored = StoredIds(store);
    std::string expected;
    for (const int id : stored) expected += SectionBytes(id);
    ASSERT_EQ(store, expected) << "the store is not one whole version of itself";
    const std::set<int> inStore(stored.begin(), stored.end());
    ASSERT_EQ(inStore.size(), stored.size()) << "a session appears twice in the store";

    if (inStore != atCallStart) {
      // Only the killed call's own lines may be missing: the first ones in key order that
      // fit its buffer, delivered and deleted, with the call killed before it returned.
      ASSERT_GT(unfinishedSize, 0) << "sessions vanished outside a call";
      std::set<int> lost = atCallStart;
      const auto fitting = static_cast<size_t>((unfinishedSize - 1) / kLineLength);
      std::set<int> expectedStore;
      size_t index = 0;
      for (const int id : atCallStart) {
        if (index++ >= fitting) expectedStore.insert(id);
      }
      ASSERT_EQ(inStore, expectedStore) << "the store lost other sessions than one call's";
      ++windowHits;
    }
    remaining = inStore;
  }
  // A kill during a replacement may leave the engine's temporary file behind.
  size_t leftovers = 0;
  for (const auto& entry : fs::directory_iterator(folder.path())) {
    const auto name = entry.path().filename();
    if (name != "plg.dat" && name != "calls.log") ++leftovers;
  }
  std::printf(
      "crash test: %d kills (one call takes %lld us), %d in the window between "
      "replacing the store and returning, %zu sessions left, %zu temporary files "
      "left behind\n",
      kills, static_cast<long long>(callMicroseconds), windowHits, remaining.size(), leftovers);
}

}  // namespace
}  // namespace psrl::testing
