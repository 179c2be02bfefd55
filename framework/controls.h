// Windowed controls on Win32: every control owns a window; messages reach the control's WndProc, and every
// exception that leaves a handler goes to the application's exception handler instead of unwinding through
// the system.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/canvas.h"
#include "framework/component.h"
#include "framework/graphics.h"

namespace fw {

// Notifications that a parent receives from a child window (WM_COMMAND, WM_NOTIFY) are reflected to the child
// control as CN_BASE + the message.
constexpr UINT CN_BASE = 0xBC00;
constexpr UINT CN_COMMAND = CN_BASE + WM_COMMAND;
constexpr UINT CN_NOTIFY = CN_BASE + WM_NOTIFY;

struct TMessage {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result;
};

enum TShiftState : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64 };
using TShift = unsigned;
enum class TMouseButton { mbLeft, mbRight, mbMiddle };

TShift KeyboardShift();                 // modifiers held now
TShift KeyDataToShift(LPARAM keyData);  // for WM_KEYDOWN / WM_CHAR
TShift MouseShift(WPARAM wParam);       // for mouse messages

using TNotifyEvent = std::function<void(TComponent* sender)>;
using TKeyEvent = std::function<void(TComponent* sender, WORD& key, TShift shift)>;
using TKeyPressEvent = std::function<void(TComponent* sender, char& key)>;
using TMouseEvent = std::function<void(TComponent* sender, TMouseButton button, TShift shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TComponent* sender, TShift shift, int x, int y)>;
// A context menu is asked for (right-button release or the menu key); `mousePos` is in client co-ordinates,
// (-1, -1) from the keyboard. A handler that shows its own menu sets `handled`.
using TContextPopupEvent = std::function<void(TComponent* sender, TPoint mousePos, bool& handled)>;

// How a control is dragged: as a drag-and-drop source or to dock it elsewhere; and whether a press starts the
// drag by itself (automatic) or only when the control calls BeginDrag (manual).
enum TDragKind { dkDrag, dkDock };
enum TDragMode { dmManual, dmAutomatic };
using TEndDragEvent = std::function<void(TComponent* sender, TComponent* target, int x, int y)>;

class TWinControl;
LRESULT CALLBACK FrameworkWndProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK SubclassWndProc(HWND, UINT, WPARAM, LPARAM);

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);
  void SetParentComponent(TComponent* parent) override;

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  TRect BoundsRect() const { return Rect(left_, top_, left_ + width_, top_ + height_); }
  virtual void SetBounds(int left, int top, int width, int height);
  virtual int ClientWidth() const { return width_; }
  virtual int ClientHeight() const { return height_; }
  TRect ClientRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled);
  const std::string& Caption() const { return caption_; }
  virtual void SetCaption(const std::string& caption);
  TColor Color() const { return color_; }
  virtual void SetColor(TColor color);
  TFont& Font() { return *font_; }
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool value);
  const std::string& Hint() const { return hint_; }

  TNotifyEvent OnClick;
  TMouseEvent OnMouseDown, OnMouseUp;

  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
  TPersistent* SubObject(std::string_view name) override;

  // Scales position, size and font from the stored pixels per inch to the screen's.
  virtual void ScaleBy(int to, int from);
  virtual void Click();

  virtual void ParentFontChanged();

 protected:
  friend class TWinControl;
  virtual void FontChanged();
  void Loaded() override;

  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  std::string caption_;
  std::string hint_;
  TColor color_ = clBtnFace;
  std::unique_ptr<TFont> font_;
  bool parentFont_ = true;
  bool parentColor_ = true;
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  HWND Handle();                       // creates the window (and the parent's) when needed
  bool HandleAllocated() const { return handle_ != nullptr; }
  void HandleNeeded() { Handle(); }
  void DestroyHandle();

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Control(int i) const { return controls_[static_cast<size_t>(i)]; }
  void InsertControl(TControl* c);
  void RemoveControl(TControl* c);

  int TabOrder() const;
  void SetTabOrder(int order);
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool value);

  void SetBounds(int left, int top, int width, int height) override;
  int ClientWidth() const override;
  int ClientHeight() const override;
  void SetVisible(bool visible) override;
  void SetEnabled(bool enabled) override;
  void SetCaption(const std::string& caption) override;
  void SetColor(TColor color) override;

  bool Focused() const;
  // The window is this control's own or one of its children's: focus moving there neither enters nor leaves
  // the control.
  bool ContainsWindow(HWND window) const;
  virtual bool CanFocus() const;
  virtual void SetFocus();
  void Invalidate();
  void InvalidateRect(const TRect& r);
  void Update();
  void Repaint() { Invalidate(); Update(); }

  TKeyEvent OnKeyDown, OnKeyUp;
  TKeyPressEvent OnKeyPress;
  TNotifyEvent OnEnter, OnExit;
  TMouseMoveEvent OnMouseMove;
  TNotifyEvent OnResize;
  TContextPopupEvent OnContextPopup;

  // Dragging the control itself: BeginDrag captures the mouse; the drag ends when the left button is released
  // (OnEndDrag or OnEndDock with the screen point, no drop target) or is cancelled by Escape or a lost capture
  // (the events then get x = y = -1).
  TDragKind DragKind() const { return dragKind_; }
  void SetDragKind(TDragKind kind) { dragKind_ = kind; }
  TDragMode DragMode() const { return dragMode_; }
  void SetDragMode(TDragMode mode) { dragMode_ = mode; }
  void BeginDrag();
  void EndDrag(bool drop);
  bool Dragging() const { return dragging_; }
  TPoint DragStart() const { return dragStart_; }  // screen point where the drag began
  TPoint DragPos() const { return dragPos_; }      // screen point of the pointer now
  TEndDragEvent OnEndDrag, OnEndDock;

  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
  void ScaleBy(int to, int from) override;

  // Default processing of a message by the window's original procedure.
  LRESULT DefaultHandler(TMessage& m);
  static TWinControl* FromHandle(HWND h);

 protected:
  struct CreateParams {
    const char* windowClass = nullptr;  // nullptr: the framework's own class
    std::string caption;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    HWND parent = nullptr;
  };
  virtual void CreateParamsFor(CreateParams& params);
  virtual void CreateWnd();
  virtual void CreateWindowHandle(const CreateParams& params);
  virtual void AfterCreateHandle() {}
  virtual void WndProc(TMessage& m);

  // Overridables in the style of the framework.
  virtual void KeyDown(WORD& key, TShift shift);
  virtual void KeyUp(WORD& key, TShift shift);
  virtual void KeyPress(char& key);
  virtual void MouseDown(TMouseButton button, TShift shift, int x, int y);
  virtual void MouseMove(TShift shift, int x, int y) {
    if (OnMouseMove) OnMouseMove(this, shift, x, y);
  }
  virtual void MouseUp(TMouseButton button, TShift shift, int x, int y);
  virtual void DblClick() {}
  virtual bool DoMouseWheel(TShift shift, int delta, TPoint mouse) { return false; }
  virtual void DoEnter();
  virtual void DoExit();
  virtual void Resize() {}
  void FontChanged() override;

 public:
  void ParentFontChanged() override;

 protected:

  HWND handle_ = nullptr;
  WNDPROC defWndProc_ = nullptr;
  std::vector<TControl*> controls_;
  std::vector<TWinControl*> tabList_;
  bool tabStop_ = false;
  TDragKind dragKind_ = dkDrag;
  TDragMode dragMode_ = dmManual;
  bool dragging_ = false;
  TPoint dragStart_{}, dragPos_{};

 private:
  bool DragMessage(TMessage& m);
  friend LRESULT CALLBACK FrameworkWndProc(HWND, UINT, WPARAM, LPARAM);
  friend LRESULT CALLBACK SubclassWndProc(HWND, UINT, WPARAM, LPARAM);
  void Dispatch(TMessage& m);
  void UpdateBounds();
  void FocusEntered(HWND from);
  void FocusLeft(HWND to);
};

// A windowed control that paints itself on a canvas.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* owner);
  TCanvas& Canvas() { return canvas_; }

 protected:
  virtual void Paint() {}
  void WndProc(TMessage& m) override;

 private:
  TCanvas canvas_;
};

class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner);
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;

 protected:
  void CreateParamsFor(CreateParams& params) override;
  void WndProc(TMessage& m) override;
  bool default_ = false;
  bool cancel_ = false;
};

// Stored forms name their buttons by class; every program that uses this header can load them.
inline ClassRegistration<TButton> registerButtonClass{"TButton"};

}  // namespace fw
