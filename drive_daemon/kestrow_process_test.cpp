// The kestrow program as a whole, with the file backend of the service manager:
// install, start, serve on the configured port, stop, remove.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "drive_daemon/exit_codes.h"
#include "drive_daemon/remote_test_support.h"
#include "native_common/little_endian.h"
#include "native_common/remote_scsi_client.h"
#include "native_common/remote_scsi_protocol.h"
#include "native_common/tcp_socket.h"
#include "platform/file_service_manager.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using remote_test::Connects;
using remote_test::FreePort;

// Up to two seconds for a listener to appear.
bool WaitUntilConnects(uint16_t port) {
  for (int i = 0; i < 200; ++i) {
    if (Connects(port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Up to five seconds for a process (not our child) to end.
void WaitForExit(int pid) {
  if (pid <= 0) return;
  const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(stat);
    std::string text;
    if (!std::getline(in, text)) return;
    size_t paren = text.rfind(')');
    if (paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] == 'Z') return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "process " << pid << " did not end";
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Joins texts (g++ 12 warns falsely on some "literal" + std::string forms).
template <typename... Parts>
std::string Cat(const Parts&... parts) {
  std::string text;
  (text.append(parts), ...);
  return text;
}

std::string Quote(const std::string& text) {
  std::string quoted(1, '\'');
  quoted.append(text).push_back('\'');
  return quoted;
}

class KestrowProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin_dir = std::getenv("SORVEL_BIN_DIR");
    ASSERT_NE(bin_dir, nullptr) << "SORVEL_BIN_DIR is not set (run through ctest)";
    std::filesystem::path built = std::filesystem::path(bin_dir) / "kestrow";
    ASSERT_TRUE(std::filesystem::exists(built)) << built;
    // A copy of its own, so that its configuration file beside it is this test's.
    std::filesystem::create_directories(scratch_ / "bin");
    std::filesystem::copy_file(built, program_);
    port_ = FreePort();
    std::ofstream(scratch_ / "bin" / "kestrow.INI")
        << "[MAIN]\nLISTENINGPORT=" << port_ << "\nMAXCONNECTION=4\n[DRIVES]\nD:=1\n";
  }

  void TearDown() override {
    // Never leave a daemon behind, whatever failed.
    int pid = manager_.RunningPid("KESTROWSVC");
    if (pid > 0 && pid != getpid()) kill(pid, SIGKILL);
  }

  int Kestrow(const std::string& arguments, std::string* output = nullptr) {
    std::string command = "env -u SORVEL_SERVICE_NAME SORVEL_SERVICE_BACKEND=file SORVEL_SERVICE_DIR=" +
                          Quote(service_dir_.string()) + " SORVEL_DRIVES=" + Quote(drives_) + " " +
                          Quote(program_.string()) + " " + arguments;
    return testing::RunCommand(command, output);
  }

  platform::ServiceState State() {
    platform::ServiceState state = platform::ServiceState::kStopPending;
    EXPECT_EQ(manager_.Query("KESTROWSVC", &state), platform::ServiceError::kNone);
    return state;
  }

  testing::ScratchDir scratch_;
  std::filesystem::path program_ = scratch_ / "bin" / "kestrow";
  std::filesystem::path service_dir_ = scratch_ / "services";
  platform::FileServiceManager manager_{service_dir_};
  uint16_t port_ = 0;
  // The daemon serves an emulated blank CD-R as D:.
  std::string drives_ = "D:=emu:" + (scratch_ / "drive").string() + ",medium=cd-r";
};

// Malformed packets the daemon must survive: a bad header, an unterminated
// path, a CDB longer than 16 bytes, both data directions, a cut body.
void SendHostilePackets(uint16_t port) {
  auto packet = [](const char* function, std::vector<uint8_t> body, int total = -1) {
    std::vector<uint8_t> bytes(50 + body.size(), 0);
    PutLe16(bytes.data(), static_cast<uint16_t>(total >= 0 ? total : 50 + static_cast<int>(body.size())));
    std::memcpy(bytes.data() + 2, "QRNTP.", 6);
    std::memcpy(bytes.data() + 8, "REMOTESCSI", 10);
    std::memcpy(bytes.data() + 18, function, std::strlen(function));
    if (!body.empty()) std::memcpy(bytes.data() + 50, body.data(), body.size());
    return bytes;
  };
  auto exec = [](int32_t in, int32_t cdb_length, int32_t out) {
    ExecCommandRequest r;
    r.data_in_length = in;
    r.timeout_seconds = 10;
    r.cdb_length = cdb_length;
    r.cdb[0] = 0x12;
    r.data_out_length = out;
    std::vector<uint8_t> body(48);
    r.Encode(body.data());
    body.resize(48 + static_cast<size_t>(out > 0 ? out : 0), 0x5A);
    return body;
  };
  std::vector<std::vector<uint8_t>> stream = {
      std::vector<uint8_t>(50, 0xFF),
      packet("Open", std::vector<uint8_t>(260, 'A')),
      packet("Open", std::vector<uint8_t>(10, 0)),
      packet("ExecCommand", exec(36, 17, 0)),
      packet("ExecCommand", exec(36, 6, 36)),
      packet("ExecCommand", exec(-1, 6, 0)),
      packet("ExecCommand", exec(0x7FFFFFFF, 6, 0)),
      packet("ExecCommand", std::vector<uint8_t>(20, 1)),
      packet("ExecCommand", exec(0, 10, 4000), 65535),  // the body is cut off by the close
  };
  TcpSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", port, 3000));
  for (const auto& bytes : stream) socket.Send(bytes.data(), static_cast<int>(bytes.size()), 1000);
  socket.Close();
}

// The running daemon answers discovery and serves its drive.
void ExpectServesRemotely(uint16_t port) {
  RemoteScsiClient client;
  // A daemon that has just started (under a sanitizer, on a busy machine) may
  // miss the first datagram; discovery is asked a few times.
  std::vector<std::string> hosts;
  for (int attempt = 0; attempt < 5 && hosts.empty(); ++attempt) hosts = client.GetHosts("127.0.0.1", port, 500);
  EXPECT_EQ(hosts, std::vector<std::string>{"127.0.0.1"});
  const std::string base = "\\\\127.0.0.1:" + std::to_string(port) + "\\";
  EXPECT_FALSE(client.Open(base + "E:"));  // not enabled
  ASSERT_TRUE(client.Open(base + "D:"));
  uint8_t cdb[6] = {0x12, 0, 0, 0, 36, 0};
  uint8_t data[36] = {};
  EXPECT_EQ(client.ExecCommand(cdb, sizeof cdb, data, sizeof data, nullptr, false, 10), 0);
  EXPECT_EQ(data[0] & 0x1F, 5);  // an MMC device
  EXPECT_TRUE(client.Close());
}

TEST_F(KestrowProcess, UsageText) {
  std::string output;
  EXPECT_EQ(Kestrow("", &output), kExitSuccess);
  EXPECT_EQ(output, "Quillmarsh Kestrow Daemon\nusage " + program_.string() +
                        " [/install][/remove][/start][/stop][/standalone]\n");
  output.clear();
  EXPECT_EQ(Kestrow("/bogus", &output), kExitSuccess);
  EXPECT_EQ(output.rfind("Quillmarsh Kestrow Daemon\nusage ", 0), 0u);
}

TEST_F(KestrowProcess, InstallStartServeStopRemove) {
  ASSERT_EQ(Kestrow("/install"), kExitSuccess);
  EXPECT_EQ(Kestrow("/install"), kExitServiceExists);
  EXPECT_EQ(State(), platform::ServiceState::kStopped);
  EXPECT_FALSE(Connects(port_));

  ASSERT_EQ(Kestrow("/START"), kExitControlReached);
  EXPECT_EQ(State(), platform::ServiceState::kRunning);
  EXPECT_TRUE(Connects(port_));
  EXPECT_EQ(Kestrow("/start"), kExitControlReached);  // already running
  EXPECT_EQ(Kestrow("/remove"), kExitServiceRunning);
  SendHostilePackets(port_);
  ExpectServesRemotely(port_);
  const int pid = manager_.RunningPid("KESTROWSVC");
  EXPECT_GT(pid, 0);

  ASSERT_EQ(Kestrow("/Stop"), kExitControlReached);
  EXPECT_EQ(State(), platform::ServiceState::kStopped);
  EXPECT_FALSE(Connects(port_));
  EXPECT_EQ(manager_.RunningPid("KESTROWSVC"), 0);
  EXPECT_EQ(Kestrow("/stop"), kExitControlReached);  // not running
  WaitForExit(pid);

  std::string log = ReadFile(service_dir_ / "KESTROWSVC.log");
  EXPECT_NE(log.find(Cat("[", program_.string(), ".INI]\n")), std::string::npos) << log;
  EXPECT_NE(log.find("EnabledDrives = D: \n"), std::string::npos) << log;
  EXPECT_NE(log.find(Cat("ListeningPort = ", std::to_string(port_), "\n")), std::string::npos) << log;
  // Sanitizer builds: the daemon's own findings land in its log.
  EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
  EXPECT_EQ(log.find("runtime error"), std::string::npos) << log;

  EXPECT_EQ(Kestrow("/remove"), kExitSuccess);
  EXPECT_EQ(Kestrow("/remove"), kExitServiceNotFound);
  EXPECT_EQ(Kestrow("/start"), kExitSuccess);  // not installed: not reached
}

TEST_F(KestrowProcess, ServiceThatCannotListenIsNotRunning) {
  // Hold the port so that the daemon's listen fails.
  int blocker = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port_);
  ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(blocker, 1), 0);

  ASSERT_EQ(Kestrow("/install"), kExitSuccess);
  EXPECT_EQ(Kestrow("/start"), kExitSuccess);  // not reached
  EXPECT_EQ(State(), platform::ServiceState::kStopped);
  std::string status = ReadFile(service_dir_ / "KESTROWSVC.status");
  EXPECT_NE(status.find(Cat("service_exit_code=", std::to_string(kExitListenFailed), "\n")), std::string::npos)
      << status;
  close(blocker);
  EXPECT_EQ(Kestrow("/remove"), kExitSuccess);
}

TEST_F(KestrowProcess, StandaloneServesUntilReturn) {
  std::string command = "env -u SORVEL_SERVICE_NAME " + Quote(program_.string()) + " /standalone > " +
                        Quote((scratch_ / "out.txt").string());
  setenv("SORVEL_DRIVES", drives_.c_str(), 1);
  FILE* input = popen(command.c_str(), "w");
  ASSERT_NE(input, nullptr);
  EXPECT_TRUE(WaitUntilConnects(port_));
  ExpectServesRemotely(port_);
  std::fputs("\n", input);
  int status = pclose(input);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(Connects(port_));
  std::string out = ReadFile(scratch_ / "out.txt");
  EXPECT_NE(out.find("Start Listening ...\n"), std::string::npos) << out;
  // Session lines of the first connections may come between the two.
  EXPECT_NE(out.find("MaxConenction = 4\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Hit Return key to Quit.\n"), std::string::npos) << out;
}

// Names in lower case set nothing: the daemon takes the default port and
// serves no drive. The default port may be taken on this machine, so a
// failed listen is accepted; the lines before it say what was read.
TEST_F(KestrowProcess, LowerCaseNamesGiveTheDefaults) {
  std::ofstream(scratch_ / "bin" / "kestrow.INI")
      << "[main]\nlisteningport=" << port_ << "\nmaxconnection=4\n[drives]\nd:=1\n[DRIVES]\nd:=1\n";
  std::string command = "env -u SORVEL_SERVICE_NAME " + Quote(program_.string()) + " /standalone > " +
                        Quote((scratch_ / "out.txt").string()) + " 2>&1";
  setenv("SORVEL_DRIVES", drives_.c_str(), 1);
  FILE* input = popen(command.c_str(), "w");
  ASSERT_NE(input, nullptr);
  std::fputs("\n", input);
  int status = pclose(input);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_TRUE(WEXITSTATUS(status) == kExitSuccess || WEXITSTATUS(status) == kExitListenFailed) << status;
  std::string out = ReadFile(scratch_ / "out.txt");
  EXPECT_NE(out.find("EnabledDrives = \n"), std::string::npos) << out;
  EXPECT_NE(out.find("ListeningPort = 8801\n"), std::string::npos) << out;
  EXPECT_NE(out.find("MaxConenction = 20\n"), std::string::npos) << out;
}

// MAXCONNECTION beyond what the descriptor limit allows is clamped, and the
// daemon prints the value it serves with: a quarter of the soft limit here.
TEST_F(KestrowProcess, MaxConnectionIsClampedToTheDescriptorLimit) {
  std::ofstream(scratch_ / "bin" / "kestrow.INI")
      << "[MAIN]\nLISTENINGPORT=" << port_ << "\nMAXCONNECTION=100000\n[DRIVES]\nD:=1\n";
  std::string command = "ulimit -Sn 400 && env -u SORVEL_SERVICE_NAME " + Quote(program_.string()) +
                        " /standalone > " + Quote((scratch_ / "out.txt").string());
  setenv("SORVEL_DRIVES", drives_.c_str(), 1);
  FILE* input = popen(command.c_str(), "w");
  ASSERT_NE(input, nullptr);
  EXPECT_TRUE(WaitUntilConnects(port_));
  std::fputs("\n", input);
  int status = pclose(input);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::string out = ReadFile(scratch_ / "out.txt");
  // The session line of the probe connection may come between the two.
  EXPECT_NE(out.find("MaxConenction = 100\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Hit Return key to Quit.\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace sorvel
