#include "store_generator.h"

#include <array>
#include <cstdio>
#include <string_view>
#include <vector>

namespace psrl::bench {
namespace {

// SplitMix64: fully specified, so a seed gives the same store on every platform and
// compiler (the standard distributions are not).
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }

 private:
  uint64_t state_;
};

constexpr std::array<std::string_view, 16> kVendors = {
    "Northwind Games", "Bluefjord",     "Studio Kairo",      "Ashgrove Interactive",
    "Pixel Forge",     "Lumen Works",   "Hexadrome",         "Éclair Softworks",
    "Riverbend",       "Tundra Labs",   "Orbital Arts",      "Kitsune 工房",
    "Cobalt Nine",     "Marrow & Bone", "Half Moon Studios", "Greywater"};
constexpr std::array<std::string_view, 16> kFirstWords = {
    "Stellar", "Iron",   "Shadow", "Crimson", "Silent", "Frozen", "Neon",    "Ancient",
    "Broken",  "Hollow", "Wild",   "Golden",  "Último", "Dragon", "Eternal", "Sky"};
constexpr std::array<std::string_view, 16> kSecondWords = {
    "Drift",   "Tactics", "Legends", "Harbor",  "Kingdom",  "Protocol", "Racer", "Frontier",
    "Odyssey", "Siege",   "Garden",  "Circuit", "Dominion", "Hunters",  "Echo",  "Rift"};

struct Game {
  std::string name;
  std::string module;
  std::string path;
};

Game MakeGame(uint32_t index, Random& random) {
  Game game;
  const std::string_view first = kFirstWords[random.Below(kFirstWords.size())];
  const std::string_view second = kSecondWords[random.Below(kSecondWords.size())];
  const std::string_view vendor = kVendors[random.Below(kVendors.size())];
  const std::string number = std::to_string(index + 1);
  game.name = std::string(first) + " " + std::string(second) + " " + number;
  game.module = std::string(first) + std::string(second) + number + ".exe";
  game.path = "C:\\Program Files\\" + std::string(vendor) + "\\" + game.name + "\\";
  return game;
}

// "2026-11-30 19:04:12" for a second counted from 2026-01-01 00:00:00, within 2026.
std::string StartTime(uint32_t second) {
  static constexpr std::array<uint32_t, 12> kDays = {31, 28, 31, 30, 31, 30,
                                                     31, 31, 30, 31, 30, 31};
  uint32_t day = second / 86400;
  uint32_t month = 0;
  while (month < 11 && day >= kDays[month]) day -= kDays[month++];
  const uint32_t inDay = second % 86400;
  char text[32];
  std::snprintf(text, sizeof(text), "2026-%02u-%02u %02u:%02u:%02u", month + 1, day + 1,
                inDay / 3600, inDay / 60 % 60, inDay % 60);
  return text;
}

void AppendUtf16Le(std::string& out, std::string_view utf8) {
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t code = length == 1   ? lead
                    : length == 2 ? lead & 0x1F
                    : length == 3 ? lead & 0x0F
                                  : lead & 0x07;
    for (size_t k = 1; k < length; ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += length;
    const auto unit = [&out](uint32_t u) {
      out.push_back(static_cast<char>(u & 0xFF));
      out.push_back(static_cast<char>(u >> 8));
    };
    if (code >= 0x10000) {
      code -= 0x10000;
      unit(0xD800 | (code >> 10));
      unit(0xDC00 | (code & 0x3FF));
    } else {
      unit(code);
    }
  }
}

}  // namespace

std::string GenerateStore(const StoreShape& shape) {
  Random random(shape.seed);
  const uint32_t games = shape.games == 0 ? 1 : shape.games;
  const uint32_t users = shape.users == 0 ? 1 : shape.users;
  std::vector<Game> catalogue;
  catalogue.reserve(games);
  for (uint32_t i = 0; i < games; ++i) catalogue.push_back(MakeGame(i, random));

  std::string text;
  text.reserve(static_cast<size_t>(shape.sessions) * 260);
  const uint32_t yearSeconds = 365 * 86400;
  for (uint32_t i = 0; i < shape.sessions; ++i) {
    const Game& game = catalogue[random.Below(games)];
    // Unique and random-looking: multiplication by an odd number is a bijection mod 2^32.
    const uint32_t id = (i + 1) * 0x9E3779B1u + static_cast<uint32_t>(shape.seed);
    char name[32];
    std::snprintf(name, sizeof(name), "PlgSession_%08X", id);
    const uint32_t gaming = 60 + random.Below(4 * 3600);
    const bool ig = random.Below(4) != 0;
    const bool error = random.Below(50) == 0;
    text += "[";
    text += name;
    text += "]\r\nUserID=" + std::to_string(1001 + random.Below(users));
    text += "\r\nGameName=" + game.name;
    text += "\r\nGameModuleName=" + game.module;
    text += "\r\nGameFullPath=" + game.path;
    text += "\r\nStartTime=" + StartTime(random.Below(yearSeconds));
    text += "\r\nGamingTime=" + std::to_string(gaming);
    text += "\r\nIGActived=" + std::string(ig ? "1" : "0");
    text += "\r\nErrorCode=" + std::string(error ? "-2147467259" : "0");
    text += "\r\n";
  }
  if (shape.encoding == StoreEncoding::kUtf8) return text;
  std::string wide = "\xFF\xFE";
  wide.reserve(2 + text.size() * 2);
  AppendUtf16Le(wide, text);
  return wide;
}

}  // namespace psrl::bench
