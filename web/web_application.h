// TWebApplication and TCGIApplication: one request per process - build the request and the
// response, bring the web module into being, dispatch, send, and turn any escaping exception
// into the fixed 500 page.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/component.h"

namespace shelfra {

class CgiEnvironment;
class TWebRequest;
class TWebResponse;
class Exception;

// Constructs a web module with the given owner.
using TWebModuleClass = std::function<std::unique_ptr<TComponent>(TComponent* owner)>;

class TWebApplication : public TComponent {
 public:
  // Requires: `environment` outlives the application. Not owned.
  explicit TWebApplication(CgiEnvironment& environment);
  ~TWebApplication() override;

  // Runs the registered start-up hooks, earliest first.
  void Initialize();
  // Records the module class; a second call raises Exception "only one data module".
  void RegisterModuleClass(TWebModuleClass module_class);
  template <class T>
  void RegisterModuleClass() {
    RegisterModuleClass([](TComponent* owner) -> std::unique_ptr<TComponent> { return std::make_unique<T>(owner); });
  }
  // Serves one request. Never throws. An escaping exception becomes the 500 page and one line
  // in the error log (see LogLine).
  void Run();
  // Run for a request that arrives through `environment` (a FastCGI responder's), which stays
  // the application's until the next call.
  void Run(CgiEnvironment& environment);

  bool HandleRequest(TWebRequest& request, TWebResponse& response);
  TComponent& ActivateModule();
  void DeactivateModule(TComponent& module);
  // Writes the 500 header block and the page naming the exception class `class_name` and its
  // `message` (both HTML-escaped) straight to the environment.
  void WriteErrorPage(std::string_view class_name, std::string_view message);

  // The program's name in the error log: "vovivavi.exe" until set. SetProgramName keeps the
  // part of `path` after its last '/' (argv[0] as the server ran it); an empty part is ignored.
  const std::string& ProgramName() const { return program_name_; }
  void SetProgramName(std::string_view path);

  int MaxActiveModules() const { return max_active_modules_; }
  void SetMaxActiveModules(int value) { max_active_modules_ = value; }
  bool CacheModules() const { return cache_modules_; }
  void SetCacheModules(bool value) { cache_modules_ = value; }

 protected:
  virtual std::unique_ptr<TWebRequest> NewRequest() = 0;
  virtual std::unique_ptr<TWebResponse> NewResponse(TWebRequest& request) = 0;
  CgiEnvironment& Environment() const { return *environment_; }

 private:
  // Logs "<program>: 500 <class>: <message> (path "<PATH_INFO>", query "<QUERY_STRING>")".
  void LogErrorPage(std::string_view class_name, std::string_view message) noexcept;

  CgiEnvironment* environment_;  // not owned
  std::string program_name_;
  std::string out_of_memory_line_;  // made with the name, so that logging it allocates nothing
  TWebModuleClass module_class_;
  std::vector<TComponent*> active_;    // owned as components
  std::vector<TComponent*> inactive_;  // owned as components
  int max_active_modules_ = 32;
  bool cache_modules_ = true;
  std::recursive_mutex lock_;
  int exit_hook_ = -1;
};

class TCGIApplication : public TWebApplication {
 public:
  using TWebApplication::TWebApplication;

 protected:
  std::unique_ptr<TWebRequest> NewRequest() override;
  std::unique_ptr<TWebResponse> NewResponse(TWebRequest& request) override;
};

// The process's one application object, created before the program's start code runs.
TCGIApplication& Application();

}  // namespace shelfra
