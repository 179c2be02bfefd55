// Components: named objects with an owner that frees them, created from stored component streams by class
// name, with their properties applied by name. Portable (no window system).
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/component_stream.h"

namespace fw {

class TComponent;

// Names of components, properties, fields and classes compare without regard to ASCII letter case.
bool SameText(std::string_view a, std::string_view b);

// Delivered to every component of an owner when a component is inserted or removed, so that references to a
// freed component can be dropped.
enum class Operation { Insert, Remove };

// Everything the loader needs while it applies a stored object: the value, the root (whose published methods
// event names refer to), and a way to resolve names of sibling components (e.g. DataSource = DataSource1).
class TReader {
 public:
  TReader(TComponent* root) : root_(root) {}
  virtual ~TReader() = default;
  TComponent* Root() const { return root_; }
  // The component of the root with this name, or nullptr (names compared ignoring case).
  TComponent* FindComponent(std::string_view name) const;
  // Fix-ups that run after the whole stream was read (references to components stored later).
  void AddFixup(std::function<void()> fixup) { fixups_.push_back(std::move(fixup)); }
  void RunFixups();

 private:
  TComponent* root_;
  std::vector<std::function<void()>> fixups_;
};

// Conversions of stored values with the framework's error ("Invalid property value").
int64_t IntegerValue(const Value& v);
bool BoolValue(const Value& v);
std::string StringValue(const Value& v);  // single-byte text
double FloatValue(const Value& v);

class TPersistent {
 public:
  virtual ~TPersistent() = default;
  // Applies one stored property (the name may be dotted for sub-objects). Returns false when this class does
  // not know the property; the loader then raises "Property X does not exist".
  virtual bool ReadProperty(std::string_view name, const Value& value, TReader& reader);
  // Sub-object for dotted property names ("Font" of "Font.Name"), or nullptr.
  virtual TPersistent* SubObject(std::string_view name) { return nullptr; }
};

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  virtual void SetName(std::string name);
  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Component(int index) const { return components_[static_cast<size_t>(index)]; }
  TComponent* FindComponent(std::string_view name) const;  // ignoring case
  void InsertComponent(TComponent* child);
  void RemoveComponent(TComponent* child);

  bool Loading() const { return loading_; }
  bool Destroying() const { return destroying_; }
  // Called for the root and every created component after the whole stream was read, in creation order.
  virtual void Loaded() { loading_ = false; }
  void BeginLoading() { loading_ = true; }

  // Free notification: `other` is told when this component goes away even if it is not the owner.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;

  // Event handlers that stored streams name (OnClick = btnInsertClick) are looked up in the root component.
  using Method = std::function<void(TComponent* sender)>;
  virtual const Method* FindMethod(std::string_view name) const;

  // Pointer-typed published fields of a root (btnInsert, DataSource1, ...) are set when the component of that
  // name is created.
  virtual void BindField(std::string_view name, TComponent* component) {}

  // The loader calls this for a stored child object with the object it is nested in (controls take it as
  // their parent window).
  virtual void SetParentComponent(TComponent* parent) {}

  // Class name without namespace ("TButton").
  std::string ClassName() const;

 protected:
  virtual void Notification(TComponent* component, Operation operation);
  void SetDestroying() { destroying_ = true; }

 private:
  std::string name_;
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  bool loading_ = false;
  bool destroying_ = false;
};

// Reads a stored object into `root`: applies the root's properties, creates every child object by class
// name in stored order (owner: root; parent: the object it is nested in), binds the root's fields, runs the
// fix-ups and calls Loaded on every created component. Throws EReadError / EClassNotFound on bad streams.
void LoadComponent(TComponent* root, const ComponentNode& node);

// Class registry for the loader: class name -> factory(owner).
using ComponentFactory = std::function<TComponent*(TComponent* owner)>;
void RegisterComponentClass(const std::string& className, ComponentFactory factory);
TComponent* CreateComponentByClass(const std::string& className, TComponent* owner);  // nullptr if unknown

// The root's published method that a stored event property names (OnClick = btnInsertClick); throws
// EReadError when the value is no identifier or the root has no such method.
TComponent::Method EventMethod(const Value& value, TReader& reader);

// `static fw::ClassRegistration<TButton> reg("TButton");` makes a class known to the loader.
template <class T>
struct ClassRegistration {
  explicit ClassRegistration(const char* name) {
    RegisterComponentClass(name, [](TComponent* owner) -> TComponent* { return new T(owner); });
  }
};

}  // namespace fw
