// A Python peer (test server) started by a test or benchmark: its standard input is a pipe held by the
// caller, so it stops when the caller goes away; it is terminated and reaped when the object goes.
// It tells the port it listens on by writing FOLDER/port.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace rvx::test {

// Debian's interpreter, which has Debian's Python packages.
inline const char* const kPython = "/usr/bin/python3";

inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class Peer {
 public:
  Peer(const std::filesystem::path& script, std::vector<std::string> args, const std::filesystem::path& folder)
      : folder_(folder) {
    int in[2];
    if (pipe(in) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    const std::string log = (folder / "peer.log").string();
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    args.insert(args.begin(), {kPython, script.string()});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    stdin_ = in[1];
  }
  ~Peer() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  // The port the peer listens on, 0 when it did not come up (it then has said why in peer.log).
  uint16_t Port() {
    for (int i = 0; i < 300 && pid_ > 0; ++i) {
      if (std::filesystem::exists(folder_ / "port")) return static_cast<uint16_t>(std::stoi(ReadAll(folder_ / "port")));
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
  }
  // Waits until the peer has ended by itself.
  void Join() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  std::filesystem::path folder_;
  pid_t pid_ = -1;
  int stdin_ = -1;
};

}  // namespace rvx::test
