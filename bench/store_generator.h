// Synthetic session stores for the benchmarks: N finished sessions over G games and U
// users, with the keys and kinds of values the recorder writes, deterministic by seed.
#pragma once

#include <cstdint>
#include <string>

namespace psrl::bench {

enum class StoreEncoding { kUtf8, kUtf16LeWithBom };

struct StoreShape {
  uint32_t sessions = 1000;
  uint32_t games = 40;
  uint32_t users = 4;
  uint64_t seed = 1;
  StoreEncoding encoding = StoreEncoding::kUtf8;
};

// The whole store file: one section per session, CRLF line ends.
std::string GenerateStore(const StoreShape& shape);

}  // namespace psrl::bench
