// TComponent: the owner tree of the object model, with destruction notices for
// components that refer to each other without owning.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace shelfra {

// A component is owned by at most one other component, which destroys it.
// Links between components that do not own each other are raw pointers,
// cleared through Notification() when the referenced component dies.
class TComponent {
 public:
  explicit TComponent(TComponent* owner);  // only Create() and the program's roots call this
  virtual ~TComponent();                   // notifies watchers, destroys owned components newest first
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // Creates a T owned by *this; the reference stays valid as long as *this lives.
  template <class T, class... Args>
  T& Create(std::string name, Args&&... args) {
    auto child = std::make_unique<T>(this, std::forward<Args>(args)...);
    T& ref = *child;
    ref.name_ = std::move(name);
    components_.push_back(std::move(child));
    Inserted(ref);
    return ref;
  }
  // Takes ownership of an already constructed component (its owner must be *this).
  TComponent& Adopt(std::unique_ptr<TComponent> child);

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TComponent* Owner() const { return owner_; }  // not owned
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent& Components(int index) const { return *components_[index]; }

  // Destroys the owned components, newest first.
  void DestroyComponents();
  // Destroys one owned component; does nothing when `child` is not owned by *this.
  void DestroyComponent(TComponent& child);

  // Asks to be told (through Notification) when `other` dies. Idempotent.
  void FreeNotification(TComponent& other);
  void RemoveFreeNotification(TComponent& other);

 protected:
  // Called on every watcher of `dying` while it is being destroyed: drop pointers to it.
  virtual void Notification(TComponent& /*dying*/) {}
  // Called on the owner right after Create() or Adopt() made `child` its own.
  virtual void Inserted(TComponent& /*child*/) {}

 private:
  TComponent* owner_;  // not owned
  std::string name_;
  std::vector<std::unique_ptr<TComponent>> components_;  // owned, creation order
  std::vector<TComponent*> watchers_;                    // not owned: told when *this dies
  std::vector<TComponent*> watched_;                     // not owned: we are among their watchers
};

// Binds a handler method to its object, e.g. Bind(this, &TWebModule1::PageProducer1HTMLTag).
template <class Obj, class R, class... Args>
std::function<R(Args...)> Bind(Obj* obj, R (Obj::*method)(Args...)) {
  return [obj, method](Args... args) -> R { return (obj->*method)(std::forward<Args>(args)...); };
}

}  // namespace shelfra
