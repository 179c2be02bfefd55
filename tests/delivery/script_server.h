// A test server script run by /usr/bin/python3 as a child of the test: it prints its port as its first line
// of output. Its standard input is a pipe the test holds, so a script may stop when that closes; the child is
// also ended (by its process id) when the object goes away.
#pragma once

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace rvx::test {

class ScriptServer {
 public:
  ScriptServer(const std::string& script, const std::vector<std::string>& args) {
    int out[2], in[2];
    if (::pipe(out) != 0) return;
    if (::pipe(in) != 0) {
      ::close(out[0]);
      ::close(out[1]);
      return;
    }
    std::vector<std::string> all{"/usr/bin/python3", script};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(in[0]);
    stdin_ = in[1];
    // The first line is the port; it ends the wait (or the end of the output, when the script failed).
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(out[0]);
    port_ = line.empty() ? 0 : std::stoi(line);
  }
  ~ScriptServer() { Stop(); }
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  int port() const { return port_; }

  // Waits for the script to end by itself and returns its exit status (-1 when it was not started).
  int Wait() {
    CloseInput();
    if (pid_ <= 0) return -1;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void Stop() {
    CloseInput();
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  void CloseInput() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
};

}  // namespace rvx::test
#endif
