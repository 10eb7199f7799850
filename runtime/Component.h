// Components: named objects in an ownership tree. An owner destroys what it owns,
// newest first, when it is destroyed; a component destroyed on its own leaves its
// owner's list. Other components may ask to be told when one goes away
// (FreeNotification); links between components are plain pointers cleared then.
#pragma once

#include <memory>
#include <string>
#include <vector>

enum class TOperation { opInsert, opRemove };

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  virtual std::string ClassName() const { return "TComponent"; }

  const std::string& Name() const { return FName; }
  // Raises EComponentError "A component named %s already exists" when the owner
  // has another component of that name (case-insensitive).
  void SetName(const std::string& name);
  TComponent* Owner() const { return FOwner; }

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const { return FComponents.at(index).get(); }
  TComponent* FindComponent(const std::string& name) const;

  // The non-empty names along the chain of owners, outermost first, joined by ".".
  std::string FullName() const;

  // Asks to be told (Notification opRemove) when other is destroyed.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

 protected:
  // Told when a component is added to or removed from this owner, and when a
  // component this one asked about is destroyed. opInsert comes from the new
  // component's base constructor, before its derived parts exist: use it for
  // bookkeeping only (a dynamic_cast there sees a bare TComponent).
  virtual void Notification(TComponent* component, TOperation operation);
  // True while the destructor runs.
  bool Destroying() const { return FDestroying; }
  // Destroys owned components newest first; derived destructors that need their
  // components gone before their own fields call it early.
  void DestroyComponents();

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  std::string FName;
  TComponent* FOwner = nullptr;
  std::vector<std::unique_ptr<TComponent>> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  bool FDestroying = false;
};
