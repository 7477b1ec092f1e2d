#include "native_common/remote_device_path.h"

#include <gtest/gtest.h>

namespace sorvel {
namespace {

struct PathCase {
  const char* name;
  const char* path;
  bool ok;
  const char* host;
  int port;  // -1: none
  char letter;
};

void PrintTo(const PathCase& c, std::ostream* out) { *out << c.name; }


class RemoteDevicePathParse : public ::testing::TestWithParam<PathCase> {};

TEST_P(RemoteDevicePathParse, SplitsHostPortAndLetter) {
  const PathCase& c = GetParam();
  auto parsed = RemoteDevicePath::Parse(c.path);
  ASSERT_EQ(parsed.has_value(), c.ok);
  if (!c.ok) return;
  EXPECT_EQ(parsed->host, c.host);
  EXPECT_EQ(parsed->port.has_value(), c.port >= 0);
  if (c.port >= 0) {
    EXPECT_EQ(*parsed->port, c.port);
  }
  EXPECT_EQ(parsed->letter, c.letter);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RemoteDevicePathParse,
    ::testing::Values(PathCase{"Full", "\\\\host:8801\\D:", true, "host", 8801, 'D'},
                      PathCase{"LowerLetter", "\\\\10.0.0.2:1\\e:", true, "10.0.0.2", 1, 'E'},
                      PathCase{"RunsOfBackslashes", "\\\\\\\\h:9\\\\\\F", true, "h", 9, 'F'},
                      PathCase{"NoLeadingBackslash", "h:9\\G:", true, "h", 9, 'G'},
                      PathCase{"ExtraParts", "\\\\h:9\\D:\\more", true, "h", 9, 'D'},
                      PathCase{"NoPort", "\\\\h\\D:", true, "h", -1, 'D'},
                      PathCase{"EmptyPort", "\\\\h:\\D:", true, "h", -1, 'D'},
                      PathCase{"Dot", "\\\\.\\D:", true, ".", -1, 'D'},
                      PathCase{"DotWithAnyPort", "\\\\.:junk\\d", true, ".", -1, 'D'},
                      PathCase{"PortZero", "\\\\h:0\\D:", false, "", 0, 0},
                      PathCase{"PortTooLarge", "\\\\h:65536\\D:", false, "", 0, 0},
                      PathCase{"PortNotANumber", "\\\\h:88a\\D:", false, "", 0, 0},
                      PathCase{"PortSigned", "\\\\h:+88\\D:", false, "", 0, 0},
                      PathCase{"PortWithLeadingZeros", "\\\\127.0.0.1:048201\\D:", true, "127.0.0.1", 48201, 'D'},
                      PathCase{"PortOfManyZeros", "\\\\h:0000000000008801\\D:", true, "h", 8801, 'D'},
                      PathCase{"PortZeroWithZeros", "\\\\h:00000\\D:", false, "", 0, 0},
                      PathCase{"PortTooLargeWithZeros", "\\\\h:065536\\D:", false, "", 0, 0},
                      PathCase{"PortOfManyDigits", "\\\\h:99999999999999999999\\D:", false, "", 0, 0},
                      PathCase{"NoDrive", "\\\\h:1\\", false, "", 0, 0},
                      PathCase{"NotALetter", "\\\\h:1\\1:", false, "", 0, 0},
                      PathCase{"NoHost", "\\\\:1\\D:", false, "", 0, 0},
                      PathCase{"Empty", "", false, "", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RemoteDevicePath, FormatsBack) {
  RemoteDevicePath p{"127.0.0.1", 8801, 'D'};
  EXPECT_EQ(p.ToString(), "\\\\127.0.0.1:8801\\D:");
  EXPECT_EQ(RemoteDevicePath::Parse(p.ToString())->ToString(), p.ToString());
  p.port.reset();
  EXPECT_EQ(p.ToString(), "\\\\127.0.0.1\\D:");
  EXPECT_EQ(p.LocalDevicePath(), "\\\\.\\D:");
  EXPECT_EQ(LocalDevicePath('z'), "\\\\.\\Z:");
}

}  // namespace
}  // namespace sorvel
