#include "platform/systemd_service_manager.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "testing/test_paths.h"

namespace sorvel::platform {
namespace {

using Argv = std::vector<std::string>;

// Records every systemctl call; answers with a scripted status and output.
struct FakeRunner {
  std::vector<Argv> calls;
  std::map<std::string, int> status_by_verb;
  std::string is_active_output = "inactive\n";

  CommandRunner Runner() {
    return [this](const Argv& argv, std::string* output) {
      calls.push_back(argv);
      std::string verb = argv.size() > 1 ? argv[1] : "";
      if (verb == "is-active" && output != nullptr) *output = is_active_output;
      auto it = status_by_verb.find(verb);
      return it == status_by_verb.end() ? 0 : it->second;
    };
  }
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

const ServiceDefinition kDefinition{"KESTROWSVC", "Quillmarsh Kestrow Daemon", "/opt/sorvel/bin/kestrow"};

TEST(SystemdUnit, TextOfTheService) {
  EXPECT_EQ(SystemdUnitName("KESTROWSVC"), "kestrowsvc.service");
  EXPECT_EQ(SystemdUnitText(kDefinition),
            "[Unit]\n"
            "Description=Quillmarsh Kestrow Daemon\n"
            "After=network.target\n"
            "\n"
            "[Service]\n"
            "Type=notify\n"
            "NotifyAccess=main\n"
            "Environment=SORVEL_SERVICE_NAME=KESTROWSVC SORVEL_SERVICE_BACKEND=systemd\n"
            "ExecStart=\"/opt/sorvel/bin/kestrow\"\n"
            "KillSignal=SIGTERM\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n");
}

TEST(SystemdUnit, SpecialCharactersAreEscaped) {
  ServiceDefinition definition{"S", "100% \nsure", "/a b/$x\\\"y%"};
  std::string text = SystemdUnitText(definition);
  EXPECT_NE(text.find("Description=100%%  sure\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ExecStart=\"/a b/$$x\\\\\\\"y%%\"\n"), std::string::npos) << text;
}

TEST(SystemdServiceManager, InstallWritesUnitAndEnables) {
  testing::ScratchDir dir;
  FakeRunner runner;
  SystemdServiceManager manager(runner.Runner(), dir.path());
  ASSERT_EQ(manager.Install(kDefinition), ServiceError::kNone);
  EXPECT_EQ(ReadFile(dir / "kestrowsvc.service"), SystemdUnitText(kDefinition));
  EXPECT_EQ(runner.calls, (std::vector<Argv>{{"systemctl", "daemon-reload"},
                                             {"systemctl", "enable", "kestrowsvc.service"}}));
  // A second install is refused and runs nothing.
  EXPECT_EQ(manager.Install(kDefinition), ServiceError::kExists);
  EXPECT_EQ(runner.calls.size(), 2u);
}

TEST(SystemdServiceManager, FailedEnableLeavesNothingInstalled) {
  testing::ScratchDir dir;
  FakeRunner runner;
  runner.status_by_verb["enable"] = 1;
  SystemdServiceManager manager(runner.Runner(), dir.path());
  EXPECT_EQ(manager.Install(kDefinition), ServiceError::kFailed);
  EXPECT_FALSE(std::filesystem::exists(dir / "kestrowsvc.service"));
  EXPECT_EQ(runner.calls.back(), (Argv{"systemctl", "daemon-reload"}));
}

TEST(SystemdServiceManager, ControlArgumentVectors) {
  testing::ScratchDir dir;
  FakeRunner runner;
  SystemdServiceManager manager(runner.Runner(), dir.path());
  EXPECT_EQ(manager.Start("KESTROWSVC"), ServiceError::kNotFound);
  EXPECT_EQ(manager.Remove("KESTROWSVC"), ServiceError::kNotFound);
  EXPECT_TRUE(runner.calls.empty());

  ASSERT_EQ(manager.Install(kDefinition), ServiceError::kNone);
  runner.calls.clear();
  EXPECT_EQ(manager.Start("KESTROWSVC"), ServiceError::kNone);
  EXPECT_EQ(manager.Stop("KESTROWSVC"), ServiceError::kNone);
  runner.status_by_verb["is-active"] = 3;  // inactive units answer with a non-zero status
  EXPECT_EQ(manager.Remove("KESTROWSVC"), ServiceError::kNone);
  EXPECT_EQ(runner.calls, (std::vector<Argv>{{"systemctl", "start", "kestrowsvc.service"},
                                             {"systemctl", "stop", "kestrowsvc.service"},
                                             {"systemctl", "is-active", "kestrowsvc.service"},
                                             {"systemctl", "disable", "kestrowsvc.service"},
                                             {"systemctl", "daemon-reload"}}));
  EXPECT_FALSE(std::filesystem::exists(dir / "kestrowsvc.service"));
}

TEST(SystemdServiceManager, QueryMapsActiveStates) {
  testing::ScratchDir dir;
  FakeRunner runner;
  SystemdServiceManager manager(runner.Runner(), dir.path());
  ASSERT_EQ(manager.Install(kDefinition), ServiceError::kNone);
  const std::pair<const char*, ServiceState> cases[] = {
      {"active\n", ServiceState::kRunning},          {"activating\n", ServiceState::kStartPending},
      {"deactivating\n", ServiceState::kStopPending}, {"inactive\n", ServiceState::kStopped},
      {"failed\n", ServiceState::kStopped},
  };
  for (const auto& [output, expected] : cases) {
    runner.is_active_output = output;
    ServiceState state = ServiceState::kStopPending;
    EXPECT_EQ(manager.Query("KESTROWSVC", &state), ServiceError::kNone) << output;
    EXPECT_EQ(state, expected) << output;
  }
  runner.is_active_output = "gibberish\n";
  ServiceState state;
  EXPECT_EQ(manager.Query("KESTROWSVC", &state), ServiceError::kFailed);

  // A running service is not removed.
  runner.is_active_output = "active\n";
  EXPECT_EQ(manager.Remove("KESTROWSVC"), ServiceError::kRunning);
  EXPECT_TRUE(std::filesystem::exists(dir / "kestrowsvc.service"));
}

TEST(SystemdServiceManager, MissingSystemctlIsReported) {
  testing::ScratchDir dir;
  SystemdServiceManager manager([](const Argv&, std::string*) { return -1; }, dir.path());
  EXPECT_EQ(manager.Install(kDefinition), ServiceError::kManagerUnavailable);
  EXPECT_FALSE(std::filesystem::exists(dir / "kestrowsvc.service"));
}

// A datagram socket standing in for systemd's notification socket.
class NotifyReceiver {
 public:
  explicit NotifyReceiver(const std::string& address) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, address.data(), address.size());
    if (address[0] == '@') addr.sun_path[0] = '\0';
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), length) == 0;
  }
  ~NotifyReceiver() { close(fd_); }
  bool bound() const { return bound_; }
  // The next datagram, or "" after a second.
  std::string Receive() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 1000) != 1) return "";
    char buffer[256];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

TEST(SystemdNotifier, ReadyAndStoppingReachTheSocket) {
  testing::ScratchDir dir;
  std::string path = (dir / "notify").string();
  NotifyReceiver receiver(path);
  ASSERT_TRUE(receiver.bound());
  SystemdNotifier notifier(path);
  ServiceStatus status;
  status.state = ServiceState::kStartPending;
  notifier.Report(status);  // nothing for start pending
  status.state = ServiceState::kRunning;
  notifier.Report(status);
  status.state = ServiceState::kStopPending;
  notifier.Report(status);
  status.state = ServiceState::kStopped;
  notifier.Report(status);  // nor for stopped
  EXPECT_EQ(receiver.Receive(), "READY=1");
  EXPECT_EQ(receiver.Receive(), "STOPPING=1");
  EXPECT_EQ(receiver.Receive(), "");
}

TEST(SystemdNotifier, AbstractAddressAndNoSocket) {
  std::string address = "@sorvel-notify-test-" + std::to_string(getpid());
  NotifyReceiver receiver(address);
  ASSERT_TRUE(receiver.bound());
  EXPECT_TRUE(SystemdNotifier(address).Notify("READY=1"));
  EXPECT_EQ(receiver.Receive(), "READY=1");
  EXPECT_FALSE(SystemdNotifier("").Notify("READY=1"));
  EXPECT_FALSE(SystemdNotifier(std::string(200, 'x')).Notify("READY=1"));
}

}  // namespace
}  // namespace sorvel::platform
