#include "files/session_store.h"

#include "files/profile_access.h"
#include "platform/platform.h"

namespace psrl {

bool IsSessionLive(const std::u16string& sectionName) {
  return platform::NamedEventIsOpen(sectionName.c_str());
}

SessionRecord ReadSession(const std::u16string& store, const std::u16string& sectionName) {
  const char16_t* section = sectionName.c_str();
  SessionRecord session;
  session.userId = ReadProfileInt(section, kUserIdKey, kDefaultUserId, store);
  session.gameFullPath = ReadProfileString(section, kGameFullPathKey, kDefaultText, store);
  session.gameModuleName = ReadProfileString(section, kGameModuleNameKey, kDefaultText, store);
  session.startTime = ReadProfileString(section, kStartTimeKey, kDefaultText, store);
  session.gamingTime =
      static_cast<uint32_t>(ReadProfileInt(section, kGamingTimeKey, kDefaultGamingTime, store));
  session.errorCode = ReadProfileInt(section, kErrorCodeKey, kDefaultErrorCode, store);
  session.activationFlag =
      ReadProfileInt(section, kActivationFlagKey, kDefaultActivationFlag, store) != 0;
  return session;
}

std::u16string ReadGameName(const std::u16string& store, const std::u16string& sectionName) {
  return ReadProfileString(sectionName.c_str(), kGameNameKey, kDefaultText, store);
}

}  // namespace psrl
