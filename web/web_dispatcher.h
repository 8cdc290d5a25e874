// TCustomWebDispatcher and TWebModule: pick the action that answers a request, and keep the
// request and response of the dispatch under way for other components' handlers.
#pragma once

#include <string_view>

#include "base/component.h"
#include "web/web_action_item.h"

namespace shelfra {

class TWebRequest;
class TWebResponse;

class TCustomWebDispatcher : public TComponent {
 public:
  explicit TCustomWebDispatcher(TComponent* owner);
  ~TCustomWebDispatcher() override;

  TWebActionItems& Actions() { return actions_; }
  THTTPMethodEvent BeforeDispatch;
  THTTPMethodEvent AfterDispatch;
  // The request and response of the dispatch under way; still set after it. Not owned.
  TWebRequest* CurrentRequest() const { return current_request_; }
  TWebResponse* CurrentResponse() const { return current_response_; }

  // Offers the request to the actions in order, then to the Default action as the fallback.
  // Returns whether some action answered. Exceptions of handlers pass through.
  bool Dispatch(TWebRequest& request, TWebResponse& response);

 protected:
  // A producer that comes to be owned by the dispatcher gets it as its Dispatcher.
  void Inserted(TComponent& child) override;
  void Notification(TComponent& dying) override;

 private:
  TWebActionItems actions_;
  TWebRequest* current_request_ = nullptr;    // not owned
  TWebResponse* current_response_ = nullptr;  // not owned
};

// A dispatcher that also owns the page components and datasets of its stored description.
class TWebModule : public TCustomWebDispatcher {
 public:
  explicit TWebModule(TComponent* owner) : TCustomWebDispatcher(owner) {}
  ~TWebModule() override;
  // The class name, as the error for a missing description names it.
  virtual std::string_view ClassName() const { return "TWebModule"; }

 protected:
  // Creates the components of the stored description. Derived modules call this from their
  // constructor. Raises EResNotFound "<class> resource not found" when the class has none.
  void LoadDescription();
  virtual void CreateComponents();
};

}  // namespace shelfra
