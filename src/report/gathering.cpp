#include "report/gathering.h"

#include <utility>

#include "files/session_store.h"

namespace psrl {
namespace {

bool IsPlaceholderName(const std::u16string& gameName) {
  return gameName.starts_with(kPlaceholderGameNamePrefix);
}

GameAggregate StartAggregate(const std::u16string& store, const std::u16string& sectionName,
                             SessionRecord&& session, int32_t userId) {
  GameAggregate aggregate;
  aggregate.userId = userId;
  aggregate.gameName = ReadGameName(store, sectionName);
  aggregate.gameModuleName = std::move(session.gameModuleName);
  aggregate.gameFullPath = std::move(session.gameFullPath);
  aggregate.startTime = std::move(session.startTime);
  aggregate.totalTime = session.gamingTime;
  aggregate.timeWithoutIG = session.activationFlag ? 0 : session.gamingTime;
  aggregate.sessionCount = 1;
  aggregate.sessionsWithoutIG = session.activationFlag ? 0 : 1;
  aggregate.errorSessions = session.errorCode != 0 ? 1 : 0;
  return aggregate;
}

// Path, module and user stay those of the session that started the aggregate.
void MergeInto(GameAggregate& aggregate, const std::u16string& store,
               const std::u16string& sectionName, SessionRecord&& session) {
  if (IsPlaceholderName(aggregate.gameName)) {
    aggregate.gameName = ReadGameName(store, sectionName);
  }
  if (CompareText(aggregate.startTime, session.startTime) > 0) {
    aggregate.startTime = std::move(session.startTime);
  }
  aggregate.totalTime += session.gamingTime;
  if (!session.activationFlag) aggregate.timeWithoutIG += session.gamingTime;
  aggregate.sessionCount += 1;
  if (!session.activationFlag) aggregate.sessionsWithoutIG += 1;
  if (session.errorCode != 0) aggregate.errorSessions += 1;
}

}  // namespace

GatheringOutcome GatherSessions(const std::u16string& store,
                                std::vector<std::u16string> sectionNames, int32_t defaultUserId,
                                AggregateTable& table) {
  GatheringOutcome outcome;
  for (auto& sectionName : sectionNames) {
    if (IsSessionLive(sectionName)) {
      ++outcome.liveSessionsSkipped;
      continue;
    }
    SessionRecord session = ReadSession(store, sectionName);
    const int32_t userId = session.userId != 0 ? session.userId : defaultUserId;
    auto key = MakeAggregateKey(session.gameFullPath, session.gameModuleName, userId);
    // One lookup; its position serves the insertion when the key is new.
    auto found = table.lower_bound(key);
    if (found == table.end() || CompareText(found->first, key) != 0) {
      found = table.emplace_hint(found, std::move(key),
                                 StartAggregate(store, sectionName, std::move(session), userId));
    } else {
      MergeInto(found->second, store, sectionName, std::move(session));
    }
    found->second.sectionNames.push_back(std::move(sectionName));
    ++outcome.sessionsMerged;
  }
  return outcome;
}

}  // namespace psrl
