// Action items.
#include "web/web_action_item.h"

#include "base/exceptions.h"
#include "base/format.h"
#include "base/text.h"
#include "web/content_producer.h"
#include "web/web_response.h"
#include "web_res.h"

namespace shelfra {

TWebActionItem::TWebActionItem(TWebActionItems& collection) : TComponent(nullptr), collection_(collection) {}

void TWebActionItem::SetName(std::string name) {
  for (int i = 0; i < collection_.Count(); ++i) {
    TWebActionItem& other = collection_.Items(i);
    if (&other != this && SameTextAscii(other.Name(), name)) throw Exception(std::string(res::web::kDuplicateActionName));
  }
  TComponent::SetName(std::move(name));
}

void TWebActionItem::SetPathInfo(std::string path_info) {
  for (char& c : path_info) {
    if (c == '\\') c = '/';
  }
  if (!path_info.empty() && path_info[0] != '/') path_info = std::string("/") + path_info;
  if (producer_ && SameTextAscii(path_info, "/" + producer_->Name())) path_info.clear();
  if (!SameTextAscii(path_info, path_info_)) path_info_ = std::move(path_info);
}

void TWebActionItem::SetDefault(bool value) {
  if (value) {
    for (int i = 0; i < collection_.Count(); ++i) {
      TWebActionItem& other = collection_.Items(i);
      if (&other != this) other.default_ = false;
    }
  }
  default_ = value;
}

void TWebActionItem::SetProducer(TCustomContentProducer* producer) {
  producer_ = producer;
  if (producer) collection_.Owner().FreeNotification(*producer);
}

std::string TWebActionItem::EffectivePath() const {
  if (path_info_.empty() && producer_) return "/" + producer_->Name();
  return path_info_;
}

const PathMask& TWebActionItem::Mask() {
  std::string path = EffectivePath();
  if (!mask_ || !SameTextAscii(mask_->Pattern(), path)) mask_.emplace(path);
  return *mask_;
}

bool TWebActionItem::Dispatch(TWebRequest& request, TWebResponse& response, bool as_default) {
  if (!(default_ && as_default)) {
    if (!enabled_) return false;
    if (method_type_ != mtAny && method_type_ != request.MethodType()) return false;
    if (!Mask().Matches(request.VariableText(kPathInfo))) return false;
  }
  bool result = false;
  if (producer_) {
    result = true;
    response.SetContent(producer_->ProduceContent());
  }
  if (OnAction) {
    result = true;
    bool handled = result;
    OnAction(*this, request, response, handled);
    result = handled;
  }
  return result;
}

TWebActionItem& TWebActionItems::Add() {
  auto item = std::make_unique<TWebActionItem>(*this);
  for (int n = 1;; ++n) {
    std::string name = Format("WebActionItem%d", {n});
    bool used = false;
    for (const auto& other : items_) used = used || SameTextAscii(other->Name(), name);
    if (!used) {
      item->TComponent::SetName(name);
      break;
    }
  }
  items_.push_back(std::move(item));
  return *items_.back();
}

void TWebActionItems::ProducerDestroyed(TComponent& producer) {
  for (auto& item : items_) {
    if (item->producer_ == &producer) item->producer_ = nullptr;
  }
}

}  // namespace shelfra
