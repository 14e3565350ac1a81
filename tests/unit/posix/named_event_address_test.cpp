// The abstract socket addresses that stand for named events on Linux.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "platform/posix/named_event.h"

namespace psrl::platform {
namespace {

TEST(NamedEventTest, AddressesFollowTheAgreedLayout) {
  const auto readable = posix::MakeEventAddress(u"abc");
  EXPECT_EQ(std::string(readable.address.sun_path, readable.address.sun_path + 15),
            std::string("\0psrl-event:abc", 15));
  // 11 + 96 bytes is the longest that stays readable; one more byte is hashed.
  const auto longest = posix::MakeEventAddress(std::u16string(96, u'a'));
  EXPECT_EQ(longest.address.sun_path[11], ':');
  const auto hashed = posix::MakeEventAddress(std::u16string(97, u'a'));
  EXPECT_EQ(std::string(hashed.address.sun_path + 1, 11), "psrl-event#");
  EXPECT_EQ(hashed.length, offsetof(sockaddr_un, sun_path) + 1 + 11 + 16);
  EXPECT_EQ(std::string(hashed.address.sun_path + 12, 16).find_first_not_of("0123456789abcdef"),
            std::string::npos);
}

}  // namespace
}  // namespace psrl::platform
