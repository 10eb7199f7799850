#include "runtime/Component.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/Exception.h"
#include "tests/support/ExpectThrow.h"

namespace {

std::vector<std::string> gLog;

class TLogged : public TComponent {
 public:
  TLogged(TComponent* owner, const std::string& name) : TComponent(owner) { SetName(name); }
  ~TLogged() override { gLog.push_back(Name()); }
};

class TWatcher : public TComponent {
 public:
  using TComponent::FreeNotification;
  explicit TWatcher(TComponent* owner) : TComponent(owner) {}
  TComponent* Watched = nullptr;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    if (op == TOperation::opRemove && c == Watched) Watched = nullptr;
  }
};

}  // namespace

TEST(Component, OwnerDestroysNewestFirst) {
  gLog.clear();
  {
    TLogged root(nullptr, "root");
    new TLogged(&root, "a");
    auto* b = new TLogged(&root, "b");
    new TLogged(b, "b1");
    new TLogged(&root, "c");
  }
  EXPECT_EQ((std::vector<std::string>{"root", "c", "b", "b1", "a"}), gLog);
}

TEST(Component, DeletedChildLeavesItsOwner) {
  TLogged root(nullptr, "root");
  auto* a = new TLogged(&root, "a");
  new TLogged(&root, "b");
  delete a;
  ASSERT_EQ(1, root.ComponentCount());
  EXPECT_EQ("b", root.Components(0)->Name());
}

TEST(Component, FullNameJoinsNonEmptyNames) {
  TLogged module(nullptr, "DorvanaWebInterface");
  auto* unnamed = new TLogged(&module, "");
  auto* query = new TLogged(unnamed, "QueryOrder");
  EXPECT_EQ("DorvanaWebInterface.QueryOrder", query->FullName());
  EXPECT_EQ("DorvanaWebInterface", module.FullName());
}

TEST(Component, DuplicateNameIsRefused) {
  TLogged root(nullptr, "root");
  new TLogged(&root, "Query");
  auto* other = new TLogged(&root, "other");
  EXPECT_TRUE(ThrowsExactly<EComponentError>(
      [&] { other->SetName("QUERY"); }, "EComponentError: A component named QUERY already exists"));
}

TEST(Component, FreeNotificationClearsLinks) {
  TLogged root(nullptr, "root");
  auto* watcher = new TWatcher(&root);
  auto* target = new TLogged(nullptr, "target");
  watcher->Watched = target;
  watcher->FreeNotification(target);
  delete target;
  EXPECT_EQ(nullptr, watcher->Watched);
}
