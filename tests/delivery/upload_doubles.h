// Stand-ins for the upload's surroundings: a connection that records what is sent and plays back a scripted
// answer, and a progress window that records its areas.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "crash/core/refobject.h"
#include "crash/delivery/http_upload.h"
#include "crash/ui/progress_alert.h"

namespace rvxtest {

struct ScriptedStream final : rvx::net::IStream {
  std::string* sent;
  std::deque<std::string> answer;  // pieces; an empty piece is the peer's close
  int failSendAfter = -1;          // fail every send once this many bytes were sent
  bool silent = false;             // never any data: every wait times out

  explicit ScriptedStream(std::string* out) : sent(out) {}
  bool Send(std::string_view bytes) override {
    if (failSendAfter >= 0 && sent->size() + bytes.size() > static_cast<size_t>(failSendAfter)) return false;
    sent->append(bytes);
    return true;
  }
  rvx::net::WaitResult WaitReadable(int) override {
    return silent ? rvx::net::WaitResult::Timeout : rvx::net::WaitResult::Ready;
  }
  int Receive(char* buffer, int size) override {
    if (answer.empty()) return 0;
    std::string& front = answer.front();
    const int n = static_cast<int>(front.size() < static_cast<size_t>(size) ? front.size() : static_cast<size_t>(size));
    front.copy(buffer, static_cast<size_t>(n));
    front.erase(0, static_cast<size_t>(n));
    if (front.empty()) answer.pop_front();
    return n;
  }
};

struct RecordingProgress final : rvx::RefObject<rvx::IProgressAlert> {
  struct Area {
    std::string text;
    int64_t weight;
  };
  std::vector<Area> areas;
  int32_t current = 0, position = 0;
  std::vector<int32_t> positions;

  std::string GetCaptionText() override { return {}; }
  void SetCaptionText(std::string_view) override {}
  int32_t GetBarPosition() override { return position; }
  void SetBarPosition(int32_t p) override {
    position = p;
    positions.push_back(p);
  }
  void AppendArea(std::string_view text, int64_t weight) override { areas.push_back({std::string(text), weight}); }
  void RemoveAllAreas() override { areas.clear(), current = 0; }
  void FinishArea() override { ++current; }
  int32_t GetActiveArea() override { return current; }
  void SetActiveArea(int32_t index) override { current = index; }
  void PumpMessages() override {}
  bool OpenAlert(rvx::ProgressWindowHandle, bool) override { return true; }
  void CloseAlert() override {}
};

}  // namespace rvxtest
