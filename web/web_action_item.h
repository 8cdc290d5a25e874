// TWebActionItem and TWebActionItems: the dispatcher's ordered actions, each a path pattern,
// a method and a handler.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/component.h"
#include "web/path_mask.h"
#include "web/web_request.h"

namespace shelfra {

class TWebResponse;
class TCustomContentProducer;
class TWebActionItems;

// Handler of an action: (sender, request, response, handled in/out).
using THTTPMethodEvent =
    std::function<void(TComponent& sender, TWebRequest& request, TWebResponse& response, bool& handled)>;

class TWebActionItem : public TComponent {
 public:
  // Requires: `collection` owns the item.
  explicit TWebActionItem(TWebActionItems& collection);

  // Raises Exception "duplicate action name" when another item of the collection has the
  // name ignoring case.
  void SetName(std::string name);
  const std::string& PathInfo() const { return path_info_; }
  // "\" becomes "/", a leading "/" is added, "/<producer name>" becomes empty; stored only
  // when it differs ignoring case.
  void SetPathInfo(std::string path_info);
  TMethodType MethodType() const { return method_type_; }
  void SetMethodType(TMethodType type) { method_type_ = type; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  bool Default() const { return default_; }
  // True clears Default on every other item of the collection.
  void SetDefault(bool value);
  TCustomContentProducer* Producer() const { return producer_; }  // not owned
  void SetProducer(TCustomContentProducer* producer);

  THTTPMethodEvent OnAction;

  // Answers the request when the item matches (or unconditionally as the fallback: `as_default`
  // on the Default item). Returns whether it answered.
  bool Dispatch(TWebRequest& request, TWebResponse& response, bool as_default);

 private:
  friend class TWebActionItems;
  std::string EffectivePath() const;
  const PathMask& Mask();

  TWebActionItems& collection_;  // not owned: the owner
  std::string path_info_;
  TMethodType method_type_ = mtAny;
  bool enabled_ = true;
  bool default_ = false;
  TCustomContentProducer* producer_ = nullptr;  // not owned
  std::optional<PathMask> mask_;
};

// The ordered collection; owns its items.
class TWebActionItems {
 public:
  explicit TWebActionItems(TComponent& owner) : owner_(owner) {}
  // Appends an item named "WebActionItem<n>" with the smallest free n.
  TWebActionItem& Add();
  int Count() const { return static_cast<int>(items_.size()); }
  TWebActionItem& Items(int index) const { return *items_[static_cast<size_t>(index)]; }
  TComponent& Owner() const { return owner_; }
  // Clears Producer on every item that refers to `producer`.
  void ProducerDestroyed(TComponent& producer);

 private:
  TComponent& owner_;  // not owned
  std::vector<std::unique_ptr<TWebActionItem>> items_;
};

}  // namespace shelfra
