#include "platform/file_service_manager.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "testing/test_paths.h"

namespace sorvel::platform {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Polls the service state for at most two seconds.
ServiceState WaitForState(FileServiceManager& manager, const std::string& name, ServiceState wanted) {
  ServiceState state = ServiceState::kStopped;
  for (int i = 0; i < 200; ++i) {
    if (manager.Query(name, &state) != ServiceError::kNone || state == wanted) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return state;
}

class FileServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = (scratch_ / "service.sh").string();
    std::ofstream script(program_);
    // Writes its environment and waits to be stopped; it never reports a status itself.
    script << "#!/bin/sh\nenv > \"$SORVEL_SERVICE_DIR/env.tmp\"\n"
              "mv \"$SORVEL_SERVICE_DIR/env.tmp\" \"$SORVEL_SERVICE_DIR/env.txt\"\nexec sleep 20\n";
    script.close();
    chmod(program_.c_str(), 0755);
  }
  void TearDown() override {
    int pid = manager_.RunningPid("SVC");
    if (pid > 0 && pid != getpid()) kill(pid, SIGKILL);
  }

  testing::ScratchDir scratch_;
  std::filesystem::path dir_ = scratch_ / "services";
  std::string program_;
  FileServiceManager manager_{dir_};
};

TEST_F(FileServiceManagerTest, LifeCycle) {
  ServiceState state;
  EXPECT_EQ(manager_.Query("SVC", &state), ServiceError::kNotFound);
  ASSERT_EQ(manager_.Install({"SVC", "A Service", program_}), ServiceError::kNone);
  EXPECT_EQ(manager_.Install({"SVC", "A Service", program_}), ServiceError::kExists);
  EXPECT_EQ(ReadFile(dir_ / "SVC.service"), "name=SVC\ndisplay_name=A Service\nprogram=" + program_ + "\n");
  ASSERT_EQ(manager_.Query("SVC", &state), ServiceError::kNone);
  EXPECT_EQ(state, ServiceState::kStopped);
  EXPECT_EQ(manager_.Stop("SVC"), ServiceError::kNotActive);

  ASSERT_EQ(manager_.Start("SVC"), ServiceError::kNone);
  ASSERT_EQ(manager_.Query("SVC", &state), ServiceError::kNone);
  EXPECT_EQ(state, ServiceState::kStartPending);  // the script never reports running
  int pid = manager_.RunningPid("SVC");
  EXPECT_GT(pid, 0);
  EXPECT_EQ(manager_.Start("SVC"), ServiceError::kAlreadyRunning);
  EXPECT_EQ(manager_.Remove("SVC"), ServiceError::kRunning);

  for (int i = 0; i < 200 && !std::filesystem::exists(dir_ / "env.txt"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string env = ReadFile(dir_ / "env.txt");
  EXPECT_NE(env.find("SORVEL_SERVICE_NAME=SVC\n"), std::string::npos);
  EXPECT_NE(env.find("SORVEL_SERVICE_BACKEND=file\n"), std::string::npos);
  EXPECT_NE(env.find("SORVEL_SERVICE_DIR=" + std::filesystem::absolute(dir_).string() + "\n"),
            std::string::npos);

  ASSERT_EQ(manager_.Stop("SVC"), ServiceError::kNone);
  EXPECT_EQ(WaitForState(manager_, "SVC", ServiceState::kStopped), ServiceState::kStopped);
  EXPECT_EQ(manager_.RunningPid("SVC"), 0);
  EXPECT_EQ(manager_.Remove("SVC"), ServiceError::kNone);
  EXPECT_EQ(manager_.Remove("SVC"), ServiceError::kNotFound);
  EXPECT_EQ(manager_.Start("SVC"), ServiceError::kNotFound);
}

TEST_F(FileServiceManagerTest, ProgramThatCannotRunLeavesServiceStopped) {
  ASSERT_EQ(manager_.Install({"SVC", "A Service", (scratch_ / "missing").string()}), ServiceError::kNone);
  EXPECT_EQ(manager_.Start("SVC"), ServiceError::kFailed);
  ServiceState state;
  ASSERT_EQ(manager_.Query("SVC", &state), ServiceError::kNone);
  EXPECT_EQ(state, ServiceState::kStopped);
  EXPECT_NE(ReadFile(dir_ / "SVC.status").find("service_exit_code=127"), std::string::npos);
}

TEST_F(FileServiceManagerTest, StaleStatusOfAnotherProcessReadsStopped) {
  ASSERT_EQ(manager_.Install({"SVC", "A Service", program_}), ServiceError::kNone);
  // Our own pid with a start time that is not ours: a reused pid must not be signalled.
  std::ofstream(dir_ / "SVC.status") << "state=4\npid=" << getpid() << "\nstart_time=1\n";
  ServiceState state;
  ASSERT_EQ(manager_.Query("SVC", &state), ServiceError::kNone);
  EXPECT_EQ(state, ServiceState::kStopped);
  EXPECT_EQ(manager_.Stop("SVC"), ServiceError::kNotActive);
}

TEST_F(FileServiceManagerTest, StatusSinkWritesOwnProcess) {
  ASSERT_EQ(manager_.Install({"SVC", "A Service", program_}), ServiceError::kNone);
  FileStatusSink sink(dir_, "SVC");
  ServiceStatus status;
  status.state = ServiceState::kRunning;
  sink.Report(status);
  ServiceState state;
  ASSERT_EQ(manager_.Query("SVC", &state), ServiceError::kNone);
  EXPECT_EQ(state, ServiceState::kRunning);
  EXPECT_EQ(manager_.RunningPid("SVC"), getpid());
  status.state = ServiceState::kStopped;
  sink.Report(status);
  EXPECT_EQ(manager_.RunningPid("SVC"), 0);
  ASSERT_EQ(manager_.Query("SVC", &state), ServiceError::kNone);
  EXPECT_EQ(state, ServiceState::kStopped);
}

TEST(ServiceName, OnlySafeNames) {
  EXPECT_TRUE(IsValidServiceName("KESTROWSVC"));
  EXPECT_TRUE(IsValidServiceName("a_b-1"));
  for (const char* bad : {"", "../x", "a/b", "a b", "a.service", "a\nb"}) {
    EXPECT_FALSE(IsValidServiceName(bad)) << bad;
  }
  testing::ScratchDir dir;
  FileServiceManager manager(dir.path());
  EXPECT_EQ(manager.Install({"../x", "X", "/bin/true"}), ServiceError::kFailed);
  EXPECT_EQ(manager.Install({"X", "X", "relative/path"}), ServiceError::kFailed);
}

}  // namespace
}  // namespace sorvel::platform
