// Action dispatch.
#include "web/web_dispatcher.h"

#include "base/exceptions.h"
#include "base/format.h"
#include "base_res.h"
#include "web/content_producer.h"
#include "web/web_response.h"

namespace shelfra {

TCustomWebDispatcher::TCustomWebDispatcher(TComponent* owner) : TComponent(owner), actions_(*this) {}

TCustomWebDispatcher::~TCustomWebDispatcher() { DestroyComponents(); }

void TCustomWebDispatcher::Inserted(TComponent& child) {
  if (auto* producer = dynamic_cast<TCustomContentProducer*>(&child)) producer->SetDispatcher(this);
}

void TCustomWebDispatcher::Notification(TComponent& dying) { actions_.ProducerDestroyed(dying); }

bool TCustomWebDispatcher::Dispatch(TWebRequest& request, TWebResponse& response) {
  current_request_ = &request;
  current_response_ = &response;
  bool handled = false;
  if (BeforeDispatch) {
    BeforeDispatch(*this, request, response, handled);
  } else {
    handled = response.IsSent();
  }
  TWebActionItem* default_item = nullptr;
  for (int i = 0; !handled && i < actions_.Count(); ++i) {
    TWebActionItem& item = actions_.Items(i);
    handled = item.Dispatch(request, response, false);
    if (item.Default()) default_item = &item;
  }
  if (!handled && default_item) handled = default_item->Dispatch(request, response, true);
  if (handled && !response.IsSent()) {
    if (AfterDispatch) AfterDispatch(*this, request, response, handled);
  }
  return handled;
}

TWebModule::~TWebModule() { DestroyComponents(); }

void TWebModule::LoadDescription() { CreateComponents(); }

void TWebModule::CreateComponents() {
  throw EResNotFound(Format(res::base::kResNotFound, {ClassName()}));
}

}  // namespace shelfra
