// SPDX-License-Identifier: GPL-3.0-or-later
// Every test process starts the engine, so it ends as the program does.
//
// A test that hangs says where: past its limit (QUORVEL_HANG_LIMIT_S, 150 s,
// under ctest's 180), every thread's stack goes to standard error by gdb and
// the process ends, instead of being killed by ctest without a word.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "document/lok_view.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

class HangWatch : public testing::EmptyTestEventListener {
public:
  explicit HangWatch(std::chrono::seconds limit) : m_limit(limit) {
    // gdb attaches as a child of ours: allowed where Yama restricts ptrace.
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
    // Made now: a hung process may hold the allocator's lock.
    m_pid = std::to_string(getpid());
    std::thread([this] { watch(); }).detach();
  }

  void OnTestStart(const testing::TestInfo &info) override {
    std::snprintf(m_name, sizeof m_name, "%s.%s", info.test_suite_name(), info.name());
    m_started.store(Clock::now().time_since_epoch().count());
  }
  void OnTestEnd(const testing::TestInfo &) override { m_started.store(0); }

private:
  void watch() {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      const auto started = m_started.load();
      if (started == 0 || Clock::now() - Clock::time_point(Clock::duration(started)) < m_limit) continue;
      std::fprintf(stderr, "\n%s has run for %lld s: the stacks of its threads follow\n", m_name,
                   static_cast<long long>(m_limit.count()));
      std::fflush(nullptr);
      const char *argv[] = {"gdb",  "-nx", "-batch", "-p", m_pid.c_str(), "-ex", "thread apply all bt",
                            nullptr};
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      // gdb's output goes where ours does: ctest shows it with the failure.
      posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
      pid_t gdb = 0;
      if (posix_spawnp(&gdb, "gdb", &actions, nullptr, const_cast<char **>(argv), environ) == 0)
        waitpid(gdb, nullptr, 0);
      else
        std::fprintf(stderr, "gdb could not be started\n");
      std::fflush(nullptr);
      _exit(70);
    }
  }

  std::chrono::seconds m_limit;
  std::string m_pid;
  char m_name[512] = {};
  std::atomic<Clock::rep> m_started{0};
};

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  const char *limit = std::getenv("QUORVEL_HANG_LIMIT_S");
  testing::UnitTest::GetInstance()->listeners().Append(
      new HangWatch(std::chrono::seconds(limit ? std::atoi(limit) : 150)));
  quorvel::exitAfterEngine(RUN_ALL_TESTS());
}
