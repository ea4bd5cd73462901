#pragma once
// Starts quorvin-cli as a child process of its own (POSIX), for tests that kill it or
// measure it from outside.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace quorvin::test {

// Starts QUORVIN_CLI with `args` and this process's environment, QUORVIN_HOME set to `home`,
// its error output written to `err` (thrown away when empty). The child's process id (-1
// when it could not start).
inline pid_t SpawnCli(std::vector<std::string> args, const std::string& home,
                      const std::string& err = {}) {
  args.insert(args.begin(), QUORVIN_CLI);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string home_var = "QUORVIN_HOME=" + home;
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!std::string_view(*e).starts_with("QUORVIN_HOME=")) env.push_back(*e);
  }
  env.push_back(home_var.data());
  env.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.empty() ? "/dev/null" : err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace quorvin::test
