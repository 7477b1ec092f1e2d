#include "platform/local_time_zone.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "testing/scoped_env.h"

namespace sorvel::platform {
namespace {

struct PinCase {
  const char* name;
  std::optional<std::string> before;
  std::string after;
};

class PinLocalTimeZoneTest : public ::testing::TestWithParam<PinCase> {};

TEST_P(PinLocalTimeZoneTest, OnlyAnUnsetZoneIsNamed) {
  testing::ScopedEnv tz("TZ", GetParam().before);
  tzset();
  PinLocalTimeZone();
  const char* now = std::getenv("TZ");
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(std::string(now), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Zones, PinLocalTimeZoneTest,
                         ::testing::Values(PinCase{"Unset", std::nullopt, ":/etc/localtime"},
                                           PinCase{"Named", std::string("Asia/Tokyo"), "Asia/Tokyo"},
                                           PinCase{"Rule", std::string("JST-9"), "JST-9"},
                                           PinCase{"EmptyMeansUtc", std::string(), ""}),
                         [](const auto& info) { return std::string(info.param.name); });

// The pinned zone is the one the machine gave before: the same local fields
// and the same way back for instants around both daylight saving changes of
// several years and the 32-bit limits.
TEST(PinLocalTimeZone, LocalTimeIsTheSameAsWithoutIt) {
  const std::vector<time_t> instants = {0,          951782400,  1111111111, 1174784400, 1193540400,
                                        1711846800, 1729990800, 2147483647, 4102444800, 1798761600};
  auto fields_of = [&instants] {
    std::vector<std::tm> all;
    for (time_t t : instants) {
      std::tm fields{};
      localtime_r(&t, &fields);
      all.push_back(fields);
    }
    return all;
  };
  testing::ScopedEnv tz("TZ", std::nullopt);
  tzset();
  const std::vector<std::tm> before = fields_of();
  PinLocalTimeZone();
  const std::vector<std::tm> after = fields_of();
  for (size_t i = 0; i < instants.size(); ++i) {
    SCOPED_TRACE(instants[i]);
    EXPECT_EQ(after[i].tm_year, before[i].tm_year);
    EXPECT_EQ(after[i].tm_yday, before[i].tm_yday);
    EXPECT_EQ(after[i].tm_hour, before[i].tm_hour);
    EXPECT_EQ(after[i].tm_min, before[i].tm_min);
    EXPECT_EQ(after[i].tm_isdst, before[i].tm_isdst);
    EXPECT_EQ(after[i].tm_gmtoff, before[i].tm_gmtoff);
    std::tm back = after[i];
    EXPECT_EQ(mktime(&back), instants[i]);
  }
}

}  // namespace
}  // namespace sorvel::platform
