// The abstract socket addresses that stand for named events on Linux.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "platform/posix/named_event.h"
#include "platform/session_event_owner.h"

namespace psrl::platform {
namespace {

TEST(NamedEventTest, AddressesFollowTheAgreedLayout) {
  const auto readable = posix::MakeEventAddress(u"abc");
  EXPECT_EQ(std::string(readable.address.sun_path, readable.address.sun_path + 15),
            std::string("\0psrl-event:abc", 15));
  EXPECT_EQ(readable.length, offsetof(sockaddr_un, sun_path) + 15);
  const auto accented = posix::MakeEventAddress(u"caf\u00E9");
  EXPECT_EQ(std::string(accented.address.sun_path, accented.address.sun_path + 17),
            std::string("\0psrl-event:caf\xC3\xA9", 17));
  EXPECT_EQ(accented.length, offsetof(sockaddr_un, sun_path) + 17);
  // 11 + 96 bytes is the longest that stays readable; one more byte is hashed.
  const auto longest = posix::MakeEventAddress(std::u16string(96, u'a'));
  EXPECT_EQ(longest.address.sun_path[11], ':');
  const auto hashed = posix::MakeEventAddress(std::u16string(97, u'a'));
  EXPECT_EQ(std::string(hashed.address.sun_path + 1, 11), "psrl-event#");
  EXPECT_EQ(hashed.length, offsetof(sockaddr_un, sun_path) + 1 + 11 + 16);
  EXPECT_EQ(std::string(hashed.address.sun_path + 12, 16).find_first_not_of("0123456789abcdef"),
            std::string::npos);
}

// A run's shared probe socket is gone once the run ends, whatever the probes found.
TEST(NamedEventTest, ARunLeavesNoDescriptorOpen) {
  const auto openDescriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  const SessionEventOwner owner(u"held-during-run");
  ASSERT_TRUE(owner.valid());
  const auto before = openDescriptors();
  BeginRun();
  EXPECT_TRUE(NamedEventIsOpen(u"held-during-run"));
  EXPECT_FALSE(NamedEventIsOpen(u"not-held"));
  BeginRun();  // nested: the inner end closes nothing
  EndRun();
  EXPECT_TRUE(NamedEventIsOpen(u"held-during-run"));
  EndRun();
  EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
}  // namespace psrl::platform
