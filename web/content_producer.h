// TCustomContentProducer: the base of every producer - a component that yields one page text.
#pragma once

#include <string>
#include <string_view>

#include "base/component.h"

namespace shelfra {

class TCustomWebDispatcher;

class TCustomContentProducer : public TComponent {
 public:
  explicit TCustomContentProducer(TComponent* owner) : TComponent(owner) {}

  // The dispatcher that owns the producer; set by the dispatcher as the producer comes to be
  // owned by it, cleared when the dispatcher is destroyed. Not owned.
  TCustomWebDispatcher* Dispatcher() const { return dispatcher_; }
  virtual void SetDispatcher(TCustomWebDispatcher* dispatcher);

  // The whole page; the base returns the empty text.
  virtual std::string ProduceContent() { return std::string(); }
  // Expands the template read from `stream`; the base ignores it and returns ProduceContent().
  virtual std::string ProduceFromStream(std::string_view stream) { (void)stream; return ProduceContent(); }
  virtual std::string ProduceFromString(std::string_view text) { (void)text; return ProduceContent(); }

 protected:
  void Notification(TComponent& dying) override;

 private:
  TCustomWebDispatcher* dispatcher_ = nullptr;  // not owned
};

}  // namespace shelfra
