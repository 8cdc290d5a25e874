// The CGI application run cycle.
#include "web/web_application.h"

#include <algorithm>

#include "base/error_log.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "base/hooks.h"
#include "web/cgi_environment.h"
#include "web/web_dispatcher.h"
#include "web/web_request.h"
#include "web/web_response.h"
#include "web_res.h"

namespace shelfra {

namespace {

// The status line must stay one header line: control bytes of the message become spaces.
std::string StatusSafe(std::string_view message) {
  std::string out(message);
  for (char& c : out) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = ' ';
  }
  return out;
}

// The page shows class name and message as text, never as markup. None of these bytes can
// be the second byte of a Shift_JIS character, so escaping byte by byte is safe.
std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

}  // namespace

TWebApplication::TWebApplication(CgiEnvironment& environment) : TComponent(nullptr), environment_(&environment) {
  SetProgramName("vovivavi.exe");
}

TWebApplication::~TWebApplication() {
  if (exit_hook_ >= 0) RemoveExitHook(exit_hook_);
  DestroyComponents();
}

void TWebApplication::Initialize() { RunStartupHooks(); }

void TWebApplication::RegisterModuleClass(TWebModuleClass module_class) {
  if (module_class_) throw Exception(std::string(res::web::kOnlyOneModule));
  module_class_ = std::move(module_class);
}

void TWebApplication::Run(CgiEnvironment& environment) {
  environment_ = &environment;
  Run();
}

void TWebApplication::Run() {
  if (exit_hook_ < 0) exit_hook_ = AddExitHook([this] { DestroyComponents(); });
  environment_->EnsureOpen();
  try {
    std::unique_ptr<TWebRequest> request = NewRequest();
    std::unique_ptr<TWebResponse> response = NewResponse(*request);
    HandleRequest(*request, *response);
    // Response first, then request, also when a step above raised (unique_ptr order).
    // Each 500 page then writes one line to the error log; the page goes out first, so the
    // visitor's answer never waits for the log.
  } catch (const Exception& e) {
    WriteErrorPage(e.ClassName(), e.Message());
    LogErrorPage(e.ClassName(), e.Message());
  } catch (const std::bad_alloc&) {
    WriteErrorPage("EOutOfMemory", "Out of memory");
    LogLine(out_of_memory_line_);
  } catch (const std::exception& e) {
    WriteErrorPage("Exception", e.what());
    LogErrorPage("Exception", e.what());
  }
}

void TWebApplication::SetProgramName(std::string_view path) {
  std::string_view name = path.substr(path.rfind('/') + 1);
  if (name.empty()) return;
  program_name_ = std::string(name);
  out_of_memory_line_ = program_name_ + ": 500 EOutOfMemory: Out of memory";
}

void TWebApplication::LogErrorPage(std::string_view class_name, std::string_view message) noexcept {
  try {
    std::string text = program_name_ + ": 500 " + std::string(class_name) + ": " + std::string(message) +
                       " (path \"" + environment_->Variable("PATH_INFO") + "\", query \"" +
                       environment_->Variable("QUERY_STRING") + "\")";
    LogLine(text);
  } catch (...) {
    LogLine(out_of_memory_line_);  // no memory left to describe the error
  }
}

bool TWebApplication::HandleRequest(TWebRequest& request, TWebResponse& response) {
  TComponent& module = ActivateModule();
  bool handled = false;
  try {
    TCustomWebDispatcher* dispatcher = dynamic_cast<TCustomWebDispatcher*>(&module);
    for (int i = 0; !dispatcher && i < module.ComponentCount(); ++i) {
      dispatcher = dynamic_cast<TCustomWebDispatcher*>(&module.Components(i));
    }
    if (!dispatcher) throw Exception(std::string(res::web::kNoDispatcher));
    handled = dispatcher->Dispatch(request, response);
    if (handled && !response.IsSent()) response.Send();
  } catch (...) {
    DeactivateModule(module);
    throw;
  }
  DeactivateModule(module);
  return handled;
}

TComponent& TWebApplication::ActivateModule() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (max_active_modules_ >= 1 && static_cast<int>(active_.size()) >= max_active_modules_) {
    throw Exception(std::string(res::web::kTooManyActive));
  }
  TComponent* module = nullptr;
  if (!inactive_.empty()) {
    module = inactive_.front();
    inactive_.erase(inactive_.begin());
  } else {
    if (!module_class_) throw Exception(std::string(res::web::kNoModuleRegistered));
    module = &Adopt(module_class_(this));
  }
  active_.push_back(module);
  return *module;
}

void TWebApplication::DeactivateModule(TComponent& module) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  active_.erase(std::remove(active_.begin(), active_.end(), &module), active_.end());
  if (cache_modules_) {
    inactive_.push_back(&module);
  } else {
    DestroyComponent(module);
  }
}

void TWebApplication::WriteErrorPage(std::string_view class_name, std::string_view message) {
  std::string body = Format(
      "<html><title>Internal Server Error 500</title>\r\n<h1>Internal Server Error 500</h1><hr>\r\n"
      "Exception: %s<br>\r\nMessage: %s<br></html>\r\n",
      {HtmlEscape(class_name), HtmlEscape(message)});
  std::string header = Format("Status: 500 %s\r\nContent-Type: text/html\r\nContent-Length: %d\r\nContent:\r\n\r\n",
                              {StatusSafe(message), static_cast<long long>(body.size())});
  environment_->Write(header);
  environment_->Write(body);
}

std::unique_ptr<TWebRequest> TCGIApplication::NewRequest() {
  return std::make_unique<TCGIRequest>(Environment());
}

std::unique_ptr<TWebResponse> TCGIApplication::NewResponse(TWebRequest& request) {
  return std::make_unique<TCGIResponse>(request);
}

namespace {
// Created during start-up, before main; destroyed at process exit after the exit hooks have
// destroyed the modules it owns.
PosixCgiEnvironment g_environment;
TCGIApplication g_application(g_environment);
}  // namespace

TCGIApplication& Application() { return g_application; }

}  // namespace shelfra
