#include "platform/sg_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "platform/scsi_sense.h"
#include "testing/test_paths.h"

namespace sorvel::platform {
namespace {

struct HeaderCase {
  const char* name;
  size_t data_length;
  bool write;
  uint32_t timeout_seconds;
  int direction;
  unsigned timeout_ms;
};

class SgHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(SgHeader, CarriesTheRequest) {
  const HeaderCase& c = GetParam();
  const uint8_t cdb[12] = {0xBE, 0, 0, 0, 0x10, 0, 0, 0, 1, 0xF8, 0, 0};
  std::vector<uint8_t> data(c.data_length + 1);
  ScsiRequest request;
  request.cdb = cdb;
  request.cdb_length = sizeof cdb;
  request.data = data.data();
  request.data_length = c.data_length;
  request.write = c.write;
  request.timeout_seconds = c.timeout_seconds;

  std::vector<sg_io_hdr_t> seen;
  SgDevice device(-1, [&](int fd, unsigned long req, void* arg) {
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(req, static_cast<unsigned long>(SG_IO));
    seen.push_back(*static_cast<sg_io_hdr_t*>(arg));
    return 0;
  });
  ScsiResult result = device.Execute(request);
  ASSERT_EQ(seen.size(), 1u);
  const sg_io_hdr_t& h = seen[0];
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, c.direction);
  EXPECT_EQ(h.cmd_len, 12);
  EXPECT_EQ(0, std::memcmp(h.cmdp, cdb, sizeof cdb));
  EXPECT_EQ(h.mx_sb_len, 32);
  EXPECT_NE(h.sbp, nullptr);
  EXPECT_EQ(h.dxfer_len, c.data_length);
  EXPECT_EQ(h.dxferp, c.data_length ? data.data() : nullptr);
  EXPECT_EQ(h.timeout, c.timeout_ms);
  EXPECT_EQ(h.iovec_count, 0);
  EXPECT_EQ(h.flags, 0u);
  EXPECT_TRUE(result.transferred);
  EXPECT_EQ(result.status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SgHeader,
    ::testing::Values(HeaderCase{"read", 2352, false, 180, SG_DXFER_FROM_DEV, 180000},
                      HeaderCase{"write", 2048, true, 180, SG_DXFER_TO_DEV, 180000},
                      HeaderCase{"no_data_write", 0, true, 1800, SG_DXFER_NONE, 1800000},
                      HeaderCase{"no_data_read", 0, false, 3600, SG_DXFER_NONE, 3600000},
                      HeaderCase{"huge_timeout", 16, false, 0xFFFFFFFFu, SG_DXFER_FROM_DEV, 0xFFFFFFFFu}),
    [](const auto& info) { return std::string(info.param.name); });

struct OutcomeCase {
  const char* name;
  int ioctl_result;
  unsigned char status;
  unsigned short host_status;
  unsigned short driver_status;
  std::vector<uint8_t> sense;
  bool transferred;
  SenseCode code;
};

class SgOutcome : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(SgOutcome, MapsResultAndSense) {
  const OutcomeCase& c = GetParam();
  SgDevice device(-1, [&](int, unsigned long, void* arg) {
    auto* h = static_cast<sg_io_hdr_t*>(arg);
    h->status = c.status;
    h->host_status = c.host_status;
    h->driver_status = c.driver_status;
    size_t n = std::min<size_t>(c.sense.size(), h->mx_sb_len);
    if (n > 0) std::memcpy(h->sbp, c.sense.data(), n);
    h->sb_len_wr = static_cast<unsigned char>(n);
    return c.ioctl_result;
  });
  const uint8_t cdb[6] = {0x00};
  ScsiRequest request;
  request.cdb = cdb;
  request.cdb_length = 6;
  ScsiResult r = device.Execute(request);
  EXPECT_EQ(r.transferred, c.transferred);
  if (!c.transferred) return;
  EXPECT_EQ(r.status, c.status);
  ASSERT_EQ(r.sense_length, std::min<size_t>(c.sense.size(), 32));
  if (r.sense_length > 0) {
    EXPECT_EQ(0, std::memcmp(r.sense, c.sense.data(), r.sense_length));
  }
  SenseCode code = DecodeSense(r.sense, r.sense_length);
  EXPECT_EQ(code.key, c.code.key);
  EXPECT_EQ(code.asc, c.code.asc);
  EXPECT_EQ(code.ascq, c.code.ascq);
}

std::vector<uint8_t> Fixed(uint8_t code, uint8_t key, uint8_t asc, uint8_t ascq) {
  std::vector<uint8_t> s(18, 0);
  s[0] = code;
  s[2] = key;
  s[7] = 10;
  s[12] = asc;
  s[13] = ascq;
  return s;
}

std::vector<uint8_t> Descriptor(uint8_t code, uint8_t key, uint8_t asc, uint8_t ascq) {
  return {code, key, asc, ascq, 0, 0, 0, 0};
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, SgOutcome,
    ::testing::Values(
        OutcomeCase{"good", 0, 0, 0, 0, {}, true, {0, 0, 0}},
        OutcomeCase{"fixed_current", 0, 2, 0, 0x08, Fixed(0x70, 0x02, 0x3A, 0x00), true, {2, 0x3A, 0}},
        OutcomeCase{"fixed_deferred_valid_bit", 0, 2, 0, 0x08, Fixed(0xF1, 0x23, 0x04, 0x08), true, {3, 0x04, 8}},
        OutcomeCase{"descriptor_current", 0, 2, 0, 0x08, Descriptor(0x72, 0x05, 0x24, 0x00), true, {5, 0x24, 0}},
        OutcomeCase{"descriptor_deferred", 0, 2, 0, 0x08, Descriptor(0x73, 0x63, 0x21, 0x02), true, {3, 0x21, 2}},
        OutcomeCase{"fixed_truncated", 0, 2, 0, 0x08, {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20}, true,
                    {5, 0x20, 0}},
        OutcomeCase{"unknown_format", 0, 2, 0, 0x08, {0x7F, 0x05, 0x24, 0x00}, true, {0, 0, 0}},
        OutcomeCase{"busy_status", 0, 0x08, 0, 0, {}, true, {0, 0, 0}},
        OutcomeCase{"ioctl_error", -1, 0, 0, 0, {}, false, {}},
        OutcomeCase{"host_timeout", 0, 0, 0x03, 0, {}, false, {}},
        OutcomeCase{"host_no_connect", 0, 0, 0x01, 0, {}, false, {}},
        OutcomeCase{"driver_timeout", 0, 0, 0, 0x06, {}, false, {}},
        OutcomeCase{"driver_error_with_sense", 0, 2, 0, 0x0C, Fixed(0x70, 3, 0x11, 0), false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SgDevice, RefusesMalformedRequestsWithoutCallingTheDriver) {
  int calls = 0;
  SgDevice device(-1, [&](int, unsigned long, void*) { return ++calls, 0; });
  const uint8_t cdb[17] = {0x28};
  ScsiRequest no_cdb;
  EXPECT_FALSE(device.Execute(no_cdb).transferred);
  ScsiRequest too_long;
  too_long.cdb = cdb;
  too_long.cdb_length = 17;
  EXPECT_FALSE(device.Execute(too_long).transferred);
  ScsiRequest no_buffer;
  no_buffer.cdb = cdb;
  no_buffer.cdb_length = 10;
  no_buffer.data_length = 2048;
  EXPECT_FALSE(device.Execute(no_buffer).transferred);
  EXPECT_EQ(calls, 0);
}

TEST(SgDevice, FindsTheGenericNodeOfABlockDevice) {
  sorvel::testing::ScratchDir dir;
  std::filesystem::create_directories(dir / "class/block/sr1/device/scsi_generic/sg4");
  std::filesystem::create_directories(dir / "class/block/sr0/device");
  EXPECT_EQ(FindGenericNode("/dev/sr1", dir.path().string()), "/dev/sg4");
  EXPECT_EQ(FindGenericNode("/dev/sr0", dir.path().string()), "");
  EXPECT_EQ(FindGenericNode("/dev/sr7", dir.path().string()), "");
}

TEST(SgDevice, OpenRefusesMissingNodesAndPlainFiles) {
  sorvel::testing::ScratchDir dir;
  std::string error;
  EXPECT_EQ(OpenSgDevice((dir / "sr9").string(), &error, dir.path().string()), nullptr);
  EXPECT_NE(error.find("sr9"), std::string::npos);
  std::ofstream(dir / "plain") << "x";
  error.clear();
  EXPECT_EQ(OpenSgDevice((dir / "plain").string(), &error, dir.path().string()), nullptr);
  EXPECT_NE(error.find("not a device"), std::string::npos);
}

}  // namespace
}  // namespace sorvel::platform
