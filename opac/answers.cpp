// Pages in the frame and the settings' library.
#include "opac/answers.h"

#include <string>

#include "base/exceptions.h"
#include "base/profile.h"
#include "catalogue/settings.h"
#include "opac/html.h"

namespace shelfra::opac {

Library LibraryOfSettings() {
  try {
    const std::string file = SettingsFilePath();
    auto value = [&file](const SettingKey& key) {
      return FromSjis(GetPrivateProfileString(key.section, key.key, key.default_value, file));
    };
    Library library{value(LibraryNameKey()), value(LibraryHomeKey()), value(AccessibilityPolicyKey())};
    if (!LinkAddress(library.home)) library.home.clear();
    if (!LinkAddress(library.policy)) library.policy.clear();
    return library;
  } catch (const Exception&) {
    return Library{};  // an unconfigured catalogue: the page says so itself (the 500 page too)
  }
}

Answer Page(int status, std::string_view script_name, std::string_view title, std::string_view main_html,
            std::string_view head_html) {
  Answer answer;
  answer.status = status;
  answer.body = Frame(script_name, title, main_html, LibraryOfSettings(), head_html);
  return answer;
}

Answer Message(int status, std::string_view script_name, std::string_view heading, std::string_view text_html) {
  const std::string main = "<h1>" + std::string(heading) + "</h1>\n<p>" + std::string(text_html) + "</p>\n";
  return Page(status, script_name, heading, main);
}

}  // namespace shelfra::opac
