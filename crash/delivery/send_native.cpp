// Host build: background threads and files work; there is no mail client, no MAPI, no window and no online
// check, so nothing is sent.
#ifndef _WIN32
#include <filesystem>
#include <thread>

#include "crash/core/exception_record.h"
#include "crash/delivery/send.h"

namespace rvx {

namespace {
SendPlatform MakeHostPlatform() {
  SendPlatform p;
  p.startThread = [](std::function<void()> body) -> void* {
    std::thread(std::move(body)).detach();
    return reinterpret_cast<void*>(uintptr_t{1});  // a handle that needs no closing
  };
  p.closeHandle = [](void*) {};
  p.removeFile = [](const std::wstring& file) {
    std::error_code ec;
    std::filesystem::remove(std::filesystem::path(file), ec);
  };
  p.programFile = record_platform::ProgramPath();
  return p;
}
}  // namespace

const SendPlatform& SystemSendPlatform() {
  static const SendPlatform platform = MakeHostPlatform();
  return platform;
}

}  // namespace rvx
#endif
