#include "runtime/Component.h"

#include <algorithm>

#include "runtime/Exception.h"
#include "runtime/Text.h"

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  FDestroying = true;
  // Tell those who asked, newest first; each forgets this one.
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    auto& back = other->FFreeNotifies;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
    other->Notification(this, TOperation::opRemove);
  }
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    std::unique_ptr<TComponent> last = std::move(FComponents.back());
    FComponents.pop_back();
    last->FOwner = nullptr;
    Notification(last.get(), TOperation::opRemove);
    last.reset();
  }
}

void TComponent::InsertComponent(TComponent* component) {
  FComponents.emplace_back(component);
  component->FOwner = this;
  Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find_if(FComponents.begin(), FComponents.end(),
                         [&](const auto& p) { return p.get() == component; });
  if (it == FComponents.end()) return;
  it->release();  // the component is being destroyed by someone else
  FComponents.erase(it);
  component->FOwner = nullptr;
  Notification(component, TOperation::opRemove);
}

void TComponent::SetName(const std::string& name) {
  if (SameText(name, FName)) {
    FName = name;
    return;
  }
  if (FOwner && !name.empty() && FOwner->FindComponent(name))
    throw EComponentError("A component named " + name + " already exists");
  FName = name;
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (const auto& c : FComponents)
    if (SameText(c->FName, name)) return c.get();
  return nullptr;
}

std::string TComponent::FullName() const {
  std::string result;
  for (const TComponent* c = this; c; c = c->FOwner) {
    if (c->FName.empty()) continue;
    result = result.empty() ? c->FName : c->FName + "." + result;
  }
  return result;
}

void TComponent::FreeNotification(TComponent* other) {
  if (!other || other == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), other) == FFreeNotifies.end())
    FFreeNotifies.push_back(other);
  if (std::find(other->FFreeNotifies.begin(), other->FFreeNotifies.end(), this) ==
      other->FFreeNotifies.end())
    other->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (!other) return;
  auto drop = [](std::vector<TComponent*>& v, TComponent* c) {
    v.erase(std::remove(v.begin(), v.end(), c), v.end());
  };
  drop(FFreeNotifies, other);
  drop(other->FFreeNotifies, this);
}

void TComponent::Notification(TComponent*, TOperation) {}
