// The producer base.
#include "web/content_producer.h"

#include "web/web_dispatcher.h"

namespace shelfra {

void TCustomContentProducer::SetDispatcher(TCustomWebDispatcher* dispatcher) {
  if (dispatcher_ == dispatcher) return;
  if (dispatcher_) RemoveFreeNotification(*dispatcher_);
  dispatcher_ = dispatcher;
  if (dispatcher_) FreeNotification(*dispatcher_);
}

void TCustomContentProducer::Notification(TComponent& dying) {
  if (&dying == dispatcher_) dispatcher_ = nullptr;
}

}  // namespace shelfra
