// Peak memory of a process that reports one store: psrl_peak_memory FOLDER
// FOLDER holds libpsrl.so, psrl.ini and plg.dat. Loads the library, reads VmHWM, calls
// GetPSR once with room for every line, reads VmHWM again, and prints both in KiB:
//   before_kib=... after_kib=... needed=... written=...
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

namespace {

using GetPsrFunction = int32_t (*)(char*, int32_t, int32_t*, uint32_t, int32_t);

long PeakResidentKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: psrl_peak_memory FOLDER\n", stderr);
    return 2;
  }
  const std::string library = std::string(argv[1]) + "/libpsrl.so";
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "psrl_peak_memory: %s\n", dlerror());
    return 1;
  }
  const auto getPsr = reinterpret_cast<GetPsrFunction>(dlsym(handle, "GetPSR"));
  if (getPsr == nullptr) return 1;
  // The host's buffer, left uninitialised: only the part the lines fill becomes resident.
  constexpr int32_t kBufferSize = 64 << 20;
  const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  const long before = PeakResidentKib();
  int32_t written = 0;
  const int32_t needed = getPsr(buffer.get(), kBufferSize, &written, 65001, 1000);
  const long after = PeakResidentKib();
  std::printf("before_kib=%ld after_kib=%ld needed=%d written=%d\n", before, after, needed,
              written);
  return needed == 0 ? 0 : 1;
}
