// The session store "plg.dat": one section per game session, named like the event that
// the session's recorder keeps open while the session runs.
#pragma once

#include <cstdint>
#include <string>

namespace psrl {

// Keys of a session section, and the values assumed when they are missing.
inline constexpr char16_t kUserIdKey[] = u"UserID";
inline constexpr char16_t kGameFullPathKey[] = u"GameFullPath";
inline constexpr char16_t kGameModuleNameKey[] = u"GameModuleName";
inline constexpr char16_t kStartTimeKey[] = u"StartTime";
inline constexpr char16_t kGamingTimeKey[] = u"GamingTime";
inline constexpr char16_t kErrorCodeKey[] = u"ErrorCode";
inline constexpr char16_t kActivationFlagKey[] = u"IGActived";
inline constexpr char16_t kGameNameKey[] = u"GameName";

inline constexpr int32_t kDefaultUserId = 0;  // stands for the caller's default user
inline constexpr int32_t kDefaultGamingTime = 0;
inline constexpr int32_t kDefaultErrorCode = 0;
inline constexpr int32_t kDefaultActivationFlag = 0;
inline constexpr char16_t kDefaultText[] = u"";

// A game name that begins with this is a placeholder that a later session may replace.
inline constexpr char16_t kPlaceholderGameNamePrefix[] = u"Unknown_";

// One finished session as read from its section. Its game name is read separately, only
// when an aggregate needs it.
struct SessionRecord {
  int32_t userId = kDefaultUserId;
  std::u16string gameFullPath;
  std::u16string gameModuleName;
  std::u16string startTime;
  uint32_t gamingTime = 0;
  int32_t errorCode = kDefaultErrorCode;
  bool activationFlag = false;
};

// True while the session's recorder holds its event open: the session is still running
// and must be neither read nor deleted.
bool IsSessionLive(const std::u16string& sectionName);

// Reads the session keys of `sectionName` from `store`, in a fixed order; missing keys
// give their defaults.
SessionRecord ReadSession(const std::u16string& store, const std::u16string& sectionName);

// The session's display name (GameName), empty when missing.
std::u16string ReadGameName(const std::u16string& store, const std::u16string& sectionName);

}  // namespace psrl
