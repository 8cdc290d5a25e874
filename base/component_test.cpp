#include "base/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace shelfra {
namespace {

std::vector<std::string> g_log;

class Logged : public TComponent {
 public:
  explicit Logged(TComponent* owner) : TComponent(owner) {}
  ~Logged() override { g_log.push_back("~" + Name()); }
  TComponent* peer = nullptr;  // not owned

  void Watch(TComponent& other) {
    peer = &other;
    FreeNotification(other);
  }

 protected:
  void Notification(TComponent& dying) override {
    if (&dying == peer) {
      g_log.push_back(Name() + " forgets " + dying.Name());
      peer = nullptr;
    }
  }
};

TEST(TComponentTest, OwnerDestroysNewestFirstAndWatchersForgetTheDying) {
  g_log.clear();
  {
    TComponent root(nullptr);
    Logged& a = root.Create<Logged>("a");
    Logged& b = root.Create<Logged>("b");
    a.Watch(b);
    b.Watch(a);
  }
  // b's own destructor runs first; the notice follows from the base destructor.
  EXPECT_EQ(g_log, (std::vector<std::string>{"~b", "a forgets b", "~a"}));
}

TEST(TComponentTest, DestroyComponentClearsPointersOfWatchers) {
  g_log.clear();
  TComponent root(nullptr);
  Logged& a = root.Create<Logged>("a");
  Logged& b = root.Create<Logged>("b");
  a.Watch(b);
  root.DestroyComponent(b);
  EXPECT_EQ(a.peer, nullptr);
  EXPECT_EQ(root.ComponentCount(), 1);
}

}  // namespace
}  // namespace shelfra
