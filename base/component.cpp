// Owner tree and destruction notices.
#include "base/component.h"

#include <algorithm>

namespace shelfra {

namespace {
void Erase(std::vector<TComponent*>& list, TComponent* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}
}  // namespace

TComponent::TComponent(TComponent* owner) : owner_(owner) {}

TComponent::~TComponent() {
  // Watchers first, while the owned components still exist: a watcher may be one of them.
  std::vector<TComponent*> watchers = std::move(watchers_);
  watchers_.clear();
  for (TComponent* w : watchers) {
    Erase(w->watched_, this);
    w->Notification(*this);
  }
  for (TComponent* w : watched_) Erase(w->watchers_, this);
  watched_.clear();
  DestroyComponents();
}

TComponent& TComponent::Adopt(std::unique_ptr<TComponent> child) {
  TComponent& ref = *child;
  components_.push_back(std::move(child));
  Inserted(ref);
  return ref;
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    std::unique_ptr<TComponent> last = std::move(components_.back());
    components_.pop_back();
    last.reset();
  }
}

void TComponent::DestroyComponent(TComponent& child) {
  for (auto it = components_.begin(); it != components_.end(); ++it) {
    if (it->get() == &child) {
      std::unique_ptr<TComponent> doomed = std::move(*it);
      components_.erase(it);
      doomed.reset();
      return;
    }
  }
}

void TComponent::FreeNotification(TComponent& other) {
  if (&other == this) return;
  if (std::find(other.watchers_.begin(), other.watchers_.end(), this) != other.watchers_.end()) return;
  other.watchers_.push_back(this);
  watched_.push_back(&other);
}

void TComponent::RemoveFreeNotification(TComponent& other) {
  Erase(other.watchers_, this);
  Erase(watched_, &other);
}

}  // namespace shelfra
