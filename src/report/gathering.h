// The first phase of a report: every finished session of the store folded into the
// run's per-game, per-user tallies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/aggregate.h"

namespace psrl {

struct GatheringOutcome {
  uint32_t sessionsMerged = 0;
  uint32_t liveSessionsSkipped = 0;
};

// Merges the finished sessions among `sectionNames` (in that order) from `store` into
// `table`. A session whose event is open is still running and is left alone. Sessions
// with user id 0 count as `defaultUserId`'s. The names of merged sessions move into
// their aggregates.
GatheringOutcome GatherSessions(const std::u16string& store,
                                std::vector<std::u16string> sectionNames, int32_t defaultUserId,
                                AggregateTable& table);

}  // namespace psrl
