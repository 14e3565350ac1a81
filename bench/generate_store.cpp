// Writes a synthetic session store:
//   generate_store [--sessions N] [--games G] [--users U] [--seed S] [--utf16] OUTPUT
// UTF-8 without a byte-order mark by default (as the Linux recorder writes), or UTF-16LE
// with one (--utf16, as the Windows profile functions write a new file); CRLF either way.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "store_generator.h"

namespace {

int Usage() {
  std::fputs(
      "usage: generate_store [--sessions N] [--games G] [--users U] [--seed S] [--utf16] "
      "OUTPUT\n",
      stderr);
  return 2;
}

bool ParseNumber(const char* text, uint64_t& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(text, &end, 10);
  return errno == 0 && end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  psrl::bench::StoreShape shape;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    uint64_t value = 0;
    if (argument == "--utf16") {
      shape.encoding = psrl::bench::StoreEncoding::kUtf16LeWithBom;
    } else if ((argument == "--sessions" || argument == "--games" || argument == "--users" ||
                argument == "--seed") &&
               i + 1 < argc) {
      if (!ParseNumber(argv[++i], value) || (argument != "--seed" && value > UINT32_MAX)) {
        return Usage();
      }
      if (argument == "--sessions") shape.sessions = static_cast<uint32_t>(value);
      if (argument == "--games") shape.games = static_cast<uint32_t>(value);
      if (argument == "--users") shape.users = static_cast<uint32_t>(value);
      if (argument == "--seed") shape.seed = value;
    } else if (output == nullptr && !argument.starts_with("--")) {
      output = argv[i];
    } else {
      return Usage();
    }
  }
  if (output == nullptr) return Usage();
  const std::string store = psrl::bench::GenerateStore(shape);
  std::ofstream file(output, std::ios::binary | std::ios::trunc);
  file.write(store.data(), static_cast<std::streamsize>(store.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "generate_store: cannot write '%s'\n", output);
    return 1;
  }
  return 0;
}
