// Time of one GetPSR call on session stores of 1,000 to 100,000 sessions, and the floor
// under it: what any call that deletes sessions must at least do to the store.
//
// The library is the built libpsrl.so, copied beside each store and loaded with dlopen,
// as a host loads it. Every iteration starts from a fresh copy of the store, made outside
// the timed part (manual timing).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "store_generator.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using GetPsrFunction = int32_t (*)(char*, int32_t, int32_t*, uint32_t, int32_t);

constexpr uint32_t kUtf8CodePage = 65001;
constexpr int32_t kLargeBuffer = 64 << 20;  // room for every line of every store here

// Removes the benchmark's folders when the program ends.
struct Scratch {
  fs::path root;
  Scratch() {
    const char* base = std::getenv("PSRL_BENCH_TMP");
    std::string pattern = base != nullptr ? base : fs::temp_directory_path().string();
    pattern.append("/psrl-bench-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
};

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

// A folder holding the library, its control file and the pristine store of N sessions.
struct Deployment {
  fs::path folder;
  fs::path store;
  fs::path pristine;
  uintmax_t storeBytes = 0;
  void* library = nullptr;
  GetPsrFunction getPsr = nullptr;

  void FreshStore() const { fs::copy_file(pristine, store, fs::copy_options::overwrite_existing); }
};

// The library finds its folder by its file name among the loaded modules, so only one
// copy may be loaded at a time: asking for another deployment unloads the previous one.
const Deployment& DeploymentFor(uint32_t sessions) {
  static std::map<uint32_t, Deployment> deployments;
  static Deployment* loaded = nullptr;
  auto [entry, inserted] = deployments.try_emplace(sessions);
  Deployment& deployment = entry->second;
  if (inserted) {
    std::string name = "n";
    name += std::to_string(sessions);
    deployment.folder = TheScratch().root / name;
    fs::create_directories(deployment.folder);
    deployment.store = deployment.folder / "plg.dat";
    deployment.pristine = deployment.folder / "plg.pristine";
    psrl::bench::StoreShape shape;
    shape.sessions = sessions;
    shape.games = 50;
    shape.users = 5;
    shape.seed = 2026;
    WriteFile(deployment.pristine, psrl::bench::GenerateStore(shape));
    WriteFile(deployment.folder / "psrl.ini", "[Ctrl]\r\nUploadPSR=1\r\n");
    deployment.storeBytes = fs::file_size(deployment.pristine);
    fs::copy_file(PSRL_LIBRARY_PATH, deployment.folder / "libpsrl.so",
                  fs::copy_options::overwrite_existing);
  }
  if (loaded != &deployment) {
    if (loaded != nullptr) {
      dlclose(loaded->library);
      loaded->library = nullptr;
      loaded->getPsr = nullptr;
      loaded = nullptr;
    }
    const fs::path library = deployment.folder / "libpsrl.so";
    deployment.library = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (deployment.library == nullptr) throw std::runtime_error(dlerror());
    deployment.getPsr = reinterpret_cast<GetPsrFunction>(dlsym(deployment.library, "GetPSR"));
    if (deployment.getPsr == nullptr) throw std::runtime_error("no GetPSR");
    loaded = &deployment;
  }
  return deployment;
}

void SetCounters(benchmark::State& state, const Deployment& deployment) {
  state.counters["sessions"] = static_cast<double>(state.range(0));
  state.counters["store_bytes"] = static_cast<double>(deployment.storeBytes);
}

// GetPSR with a buffer for every line: every session is delivered and deleted.
void BM_GetPsrDeliverAll(benchmark::State& state) {
  const Deployment& deployment = DeploymentFor(static_cast<uint32_t>(state.range(0)));
  std::vector<char> buffer(kLargeBuffer);
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    deployment.FreshStore();
    int32_t written = 0;
    const auto start = Clock::now();
    const int32_t needed =
        deployment.getPsr(buffer.data(), kLargeBuffer, &written, kUtf8CodePage, 1000);
    const auto stop = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    if (needed != 0 || written <= 0 || fs::file_size(deployment.store) != 0) {
      const std::string message = "not every session was delivered and deleted: needed " +
                                  std::to_string(needed) + ", written " + std::to_string(written) +
                                  ", store left " + std::to_string(fs::file_size(deployment.store));
      state.SkipWithError(message.c_str());
      break;
    }
  }
  SetCounters(state, deployment);
}

// GetPSR with a buffer too small for any line: reads everything, delivers and deletes
// nothing.
void BM_GetPsrBufferTooSmall(benchmark::State& state) {
  const Deployment& deployment = DeploymentFor(static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    deployment.FreshStore();
    char buffer[1] = {};
    int32_t written = 0;
    const auto start = Clock::now();
    const int32_t needed = deployment.getPsr(buffer, 1, &written, kUtf8CodePage, 1000);
    const auto stop = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    if (needed <= 0 || written != 0 || fs::file_size(deployment.store) != deployment.storeBytes) {
      state.SkipWithError("the read-only call changed the store or delivered a line");
      break;
    }
  }
  SetCounters(state, deployment);
}

// The floor: read the store whole, write it whole to a new file in the same folder,
// flush it to disk and rename it over the store.
void BM_FloorRewriteStore(benchmark::State& state) {
  const Deployment& deployment = DeploymentFor(static_cast<uint32_t>(state.range(0)));
  const fs::path replacement = deployment.folder / "plg.dat.new";
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    deployment.FreshStore();
    const auto start = Clock::now();
    std::string bytes;
    {
      const int in = open(deployment.store.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat info {};
      if (in < 0 || fstat(in, &info) != 0) {
        state.SkipWithError("cannot open the store");
        break;
      }
      bytes.resize(static_cast<size_t>(info.st_size));
      size_t filled = 0;
      while (filled < bytes.size()) {
        const ssize_t got = read(in, bytes.data() + filled, bytes.size() - filled);
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
      }
      close(in);
    }
    const int out = open(replacement.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    size_t done = 0;
    while (out >= 0 && done < bytes.size()) {
      const ssize_t put = write(out, bytes.data() + done, bytes.size() - done);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    const bool ok = out >= 0 && done == bytes.size() && fsync(out) == 0 && close(out) == 0 &&
                    rename(replacement.c_str(), deployment.store.c_str()) == 0;
    const auto stop = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    if (!ok) {
      state.SkipWithError("cannot replace the store");
      break;
    }
  }
  SetCounters(state, deployment);
}

// The system calls that every finished session costs, whatever the parsing: the liveness
// probe (a connect to the session's abstract address, here one that nobody holds, on the
// run's socket; and with a socket of its own, as a probe outside a run makes) and the
// check that the parsed store is still the file on disk (stat). Their sum per session,
// times the sessions, bounds GetPSR from below.
sockaddr_un AbsentEventAddress(socklen_t& length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = "psrl-event:psrl-bench-nobody-holds-this";
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return address;
}

void BM_SessionProbeOnSharedSocket(benchmark::State& state) {
  socklen_t length = 0;
  const sockaddr_un address = AbsentEventAddress(length);
  const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(connect(probe, reinterpret_cast<const sockaddr*>(&address), length));
  }
  close(probe);
}

void BM_SessionProbeOnFreshSocket(benchmark::State& state) {
  socklen_t length = 0;
  const sockaddr_un address = AbsentEventAddress(length);
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    benchmark::DoNotOptimize(connect(probe, reinterpret_cast<const sockaddr*>(&address), length));
    close(probe);
  }
}

void BM_SessionStoreCheck(benchmark::State& state) {
  const Deployment& deployment = DeploymentFor(1000);
  struct stat info {};
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(stat(deployment.store.c_str(), &info));
  }
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(1000)->Arg(10000)->Arg(100000);
  benchmark->UseManualTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_GetPsrDeliverAll)->Apply(Sizes);
BENCHMARK(BM_GetPsrBufferTooSmall)->Apply(Sizes);
BENCHMARK(BM_FloorRewriteStore)->Apply(Sizes);
BENCHMARK(BM_SessionProbeOnSharedSocket)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SessionProbeOnFreshSocket)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SessionStoreCheck)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
