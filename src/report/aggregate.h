// The per-game, per-user tally of one run, and the ordered table that holds them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace psrl {

struct GameAggregate {
  int32_t userId = 0;
  std::u16string gameName;
  std::u16string gameModuleName;
  std::u16string gameFullPath;
  std::u16string startTime;  // the earliest of the merged sessions, compared as text
  uint32_t totalTime = 0;    // sums and counts wrap around modulo 2^32
  uint32_t timeWithoutIG = 0;
  uint32_t sessionCount = 0;
  uint32_t sessionsWithoutIG = 0;
  uint32_t errorSessions = 0;
  std::vector<std::u16string> sectionNames;  // in merge order
};

// Text order: code unit by code unit as unsigned 16-bit numbers, a proper prefix first
// (the order of std::u16string's own comparison). Negative, zero or positive.
int CompareText(std::u16string_view one, std::u16string_view other);

// The same order as a comparison object. Keys share long prefixes (the games' folders),
// so comparing several code units at a time pays off in every table lookup.
struct TextOrder {
  bool operator()(const std::u16string& one, const std::u16string& other) const {
    return CompareText(one, other) < 0;
  }
};

// Ordered by key in text order.
using AggregateTable = std::map<std::u16string, GameAggregate, TextOrder>;

// The game's path and module joined without a separator, with only A-Z lower-cased,
// followed by the effective user id in decimal.
std::u16string MakeAggregateKey(const std::u16string& gameFullPath,
                                const std::u16string& gameModuleName, int32_t userId);

// Appends `value` in decimal ("%d" / "%u").
void AppendDecimal(std::u16string& text, int32_t value);
void AppendDecimal(std::u16string& text, uint32_t value);

}  // namespace psrl
