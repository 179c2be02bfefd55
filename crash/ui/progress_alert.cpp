#include "crash/ui/progress_alert.h"

#include <mutex>

#include "crash/ui/progress_model.h"

namespace rvx {

namespace {

// The object keeps the areas under a small lock of its own, so that a worker thread reporting progress and
// the window's thread never see a half-changed area list; the window side is always called outside of it
// (sending to the window's thread while holding it could wait for that thread forever).
class TIProgressAlert final : public RefObject<IProgressAlert> {
 public:
  TIProgressAlert(std::string_view title, std::unique_ptr<ProgressWindowPort> port)
      : title_(title), port_(std::move(port)) {}
  ~TIProgressAlert() override { CloseAlert(); }

  std::string GetCaptionText() override {
    std::lock_guard lock(mutex_);
    return title_;
  }
  void SetCaptionText(std::string_view text) override {
    {
      std::lock_guard lock(mutex_);
      if (title_ == text) return;
      title_ = std::string(text);
    }
    if (port_ && port_->IsOpen()) port_->SetCaption(std::string(text));
  }
  int32_t GetBarPosition() override {
    std::lock_guard lock(mutex_);
    return areas_.Position();
  }
  void SetBarPosition(int32_t position) override {
    {
      std::lock_guard lock(mutex_);
      areas_.SetPosition(position);
    }
    MoveBar();
  }
  void AppendArea(std::string_view text, int64_t weight) override {
    std::lock_guard lock(mutex_);
    areas_.Append(text, weight);
  }
  void RemoveAllAreas() override {
    std::lock_guard lock(mutex_);
    areas_.RemoveAll();
  }
  void FinishArea() override {
    int32_t next;
    {
      std::lock_guard lock(mutex_);
      next = areas_.Active() + 1;
    }
    SetActiveArea(next);
  }
  int32_t GetActiveArea() override {
    std::lock_guard lock(mutex_);
    return areas_.Active();
  }
  void SetActiveArea(int32_t index) override {
    std::string text;
    {
      std::lock_guard lock(mutex_);
      if (!areas_.SetActive(index)) return;
      text = areas_.ActiveText();
    }
    if (!port_ || !port_->IsOpen()) return;
    port_->SetLabel(text);
    MoveBar();
  }
  void PumpMessages() override {
    if (port_ && port_->IsOpen() && port_->InOwnThread()) port_->Pump();
  }
  bool OpenAlert(ProgressWindowHandle parent, bool activate) override {
    if (!port_ || port_->IsOpen()) return false;
    std::string title;
    std::vector<std::string> texts;
    {
      std::lock_guard lock(mutex_);
      if (areas_.Areas().empty()) areas_.Append(kDefaultProgressText, 1000);
      title = title_;
      texts = areas_.TextsFromActive();
    }
    if (!port_->Open(parent, activate, title, texts)) return false;
    MoveBar();
    return true;
  }
  void CloseAlert() override {
    if (port_ && port_->IsOpen()) port_->Close();
  }

 private:
  // Sends the bar value in the window's thread (and keeps the window painted), posts it from any other.
  void MoveBar() {
    if (!port_ || !port_->IsOpen()) return;
    std::optional<int32_t> value;
    {
      std::lock_guard lock(mutex_);
      value = areas_.BarValue();
    }
    if (!value) return;
    if (port_->InOwnThread()) {
      port_->SendBar(*value);
      port_->Pump();
    } else {
      port_->PostBar(*value);
    }
  }

  std::mutex mutex_;
  std::string title_;
  ProgressAreas areas_;
  std::unique_ptr<ProgressWindowPort> port_;
};

}  // namespace

Ref<IProgressAlert> CreateProgressAlertOn(std::string_view title, std::unique_ptr<ProgressWindowPort> port) {
  return Ref<IProgressAlert>(new TIProgressAlert(title, std::move(port)));
}

Ref<IProgressAlert> CreateProgressAlert(std::string_view title, uintptr_t pictureModule, std::string_view pictureName) {
  return CreateProgressAlertOn(title, MakeProgressWindowPort(pictureModule, pictureName));
}

}  // namespace rvx
