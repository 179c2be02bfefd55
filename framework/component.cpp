#include "framework/component.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "framework/classinfo.h"
#include "framework/exceptions.h"

namespace fw {
namespace {


std::map<std::string, ComponentFactory>& Classes() {
  static std::map<std::string, ComponentFactory> classes;
  return classes;
}

void ApplyProperties(TPersistent* target, const std::vector<Property>& props, TReader& reader,
                     const std::string& owner) {
  for (const auto& p : props) {
    // Dotted names address sub-objects: Font.Name, TitleFont.Color, SelectColumnsDialogStrings.Caption.
    TPersistent* obj = target;
    std::string_view rest = p.name;
    bool known = true;
    if (!obj->ReadProperty(rest, p.value, reader)) {
      known = false;
      size_t dot;
      while ((dot = rest.find('.')) != std::string_view::npos) {
        obj = obj->SubObject(rest.substr(0, dot));
        rest = rest.substr(dot + 1);
        if (!obj) break;
        if (obj->ReadProperty(rest, p.value, reader)) {
          known = true;
          break;
        }
      }
    }
    if (!known) throw EReadError("Error reading " + owner + "." + p.name + ": Property " + p.name + " does not exist");
  }
}

void LoadChildren(TComponent* root, TComponent* parent, const ComponentNode& node, TReader& reader,
                  std::vector<TComponent*>& created) {
  for (const auto& child : node.children) {
    TComponent* c = CreateComponentByClass(child.className, root);
    if (!c) throw EReadError("Class " + child.className + " not found");
    c->BeginLoading();
    created.push_back(c);
    if (!child.name.empty()) {
      c->SetName(child.name);
      root->BindField(child.name, c);
    }
    c->SetParentComponent(parent);
    ApplyProperties(c, child.properties, reader, child.name);
    LoadChildren(root, c, child, reader, created);
  }
}

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

TComponent* TReader::FindComponent(std::string_view name) const {
  if (SameText(root_->Name(), name)) return root_;
  return root_->FindComponent(name);
}

void TReader::RunFixups() {
  auto list = std::move(fixups_);
  for (auto& f : list) f();
}

int64_t IntegerValue(const Value& v) {
  if (!v.IsInteger()) throw EReadError("Invalid property value");
  return v.integer;
}

bool BoolValue(const Value& v) {
  if (v.type == ValueType::True) return true;
  if (v.type == ValueType::False) return false;
  throw EReadError("Invalid property value");
}

std::string StringValue(const Value& v) {
  if (!v.IsString()) throw EReadError("Invalid property value");
  return v.AnsiText();
}

double FloatValue(const Value& v) {
  if (v.IsInteger()) return static_cast<double>(v.integer);
  if (v.type == ValueType::Extended || v.type == ValueType::Single || v.type == ValueType::Date) return v.number;
  throw EReadError("Invalid property value");
}

bool TPersistent::ReadProperty(std::string_view, const Value&, TReader&) { return false; }

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  for (auto* other : std::vector<TComponent*>(freeNotifies_)) {
    other->Notification(this, Operation::Remove);
    auto& back = other->freeNotifies_;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
  }
  freeNotifies_.clear();
  // Owned components go in reverse order of creation.
  while (!components_.empty()) {
    TComponent* c = components_.back();
    delete c;  // removes itself from components_
  }
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::SetName(std::string name) { name_ = std::move(name); }

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (auto* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* child) {
  if (child->owner_) child->owner_->RemoveComponent(child);
  child->owner_ = this;
  components_.push_back(child);
  for (auto* c : components_) c->Notification(child, Operation::Insert);
}

void TComponent::RemoveComponent(TComponent* child) {
  auto it = std::find(components_.begin(), components_.end(), child);
  if (it == components_.end()) return;
  components_.erase(it);
  child->owner_ = nullptr;
  Notification(child, Operation::Remove);
  for (auto* c : components_) c->Notification(child, Operation::Remove);
}

void TComponent::FreeNotification(TComponent* other) {
  if (!other || other == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) {
    freeNotifies_.push_back(other);
    other->freeNotifies_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), other), freeNotifies_.end());
  if (other)
    other->freeNotifies_.erase(std::remove(other->freeNotifies_.begin(), other->freeNotifies_.end(), this),
                               other->freeNotifies_.end());
}

void TComponent::Notification(TComponent*, Operation) {}

bool TComponent::ReadProperty(std::string_view name, const Value& value, TReader& reader) {
  if (name == "Tag") return IntegerValue(value), true;
  return false;
}

const TComponent::Method* TComponent::FindMethod(std::string_view) const { return nullptr; }

TComponent::Method EventMethod(const Value& v, TReader& reader) {
  if (v.type != ValueType::Ident) throw EReadError("Invalid property value");
  const TComponent::Method* m = reader.Root()->FindMethod(v.text);
  if (!m) throw EReadError("Invalid property value: method " + v.text + " not found");
  return *m;
}

std::string TComponent::ClassName() const {
  std::string full = fw::ClassName(typeid(*this));
  size_t colon = full.rfind("::");
  return colon == std::string::npos ? full : full.substr(colon + 2);
}

void LoadComponent(TComponent* root, const ComponentNode& node) {
  TReader reader(root);
  std::vector<TComponent*> created{root};
  root->BeginLoading();
  if (!node.name.empty() && root->Name().empty()) root->SetName(node.name);
  ApplyProperties(root, node.properties, reader, node.name);
  LoadChildren(root, root, node, reader, created);
  reader.RunFixups();
  for (auto* c : created) c->Loaded();
}

void RegisterComponentClass(const std::string& className, ComponentFactory factory) {
  Classes()[className] = std::move(factory);
}

TComponent* CreateComponentByClass(const std::string& className, TComponent* owner) {
  auto it = Classes().find(className);
  return it == Classes().end() ? nullptr : it->second(owner);
}

}  // namespace fw
