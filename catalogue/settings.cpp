// The settings file's place, keys and value rules.
#include "catalogue/settings.h"

#include <algorithm>

#include "base/strings.h"
#include "base/text.h"
#include "catalogue/catalogue.h"
#include "catalogue_res.h"
#include "data/session.h"

namespace shelfra {

namespace r = res::catalogue;

std::string_view SettingsFileName() { return "Shelfra.ini"; }

std::string SettingsFilePath() {
  TStrings parameters;
  Session().AliasParameters(CatalogueAlias(), parameters);
  const std::string& path_parameter = parameters.Strings(0);
  std::string path = path_parameter.substr(std::min<size_t>(5, path_parameter.size()), kSettingsDirectoryBytes);
  path += '/';
  path += SettingsFileName();
  return path;
}

SettingKey BannerKey() { return {r::kSectionWeb, r::kKeyMessage, r::kDefaultMessage}; }

SettingKey ClassNameKey(int digit) {
  static constexpr std::string_view kDefaults[10] = {
      r::kDefaultClass0, r::kDefaultClass1, r::kDefaultClass2, r::kDefaultClass3, r::kDefaultClass4,
      r::kDefaultClass5, r::kDefaultClass6, r::kDefaultClass7, r::kDefaultClass8, r::kDefaultClass9,
  };
  static constexpr std::string_view kKeys[10] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
  return {r::kSectionClasses, kKeys[digit], kDefaults[digit]};
}

SettingKey PaddingKey() { return {r::kSectionNumbers, r::kKeyPadding, "False"}; }
SettingKey StandardKey() { return {r::kSectionNumbers, r::kKeyStandard, "True"}; }
SettingKey DigitsKey() { return {r::kSectionNumbers, r::kKeyDigits, ""}; }

SettingKey LibraryNameKey() { return {r::kSectionLibrary, r::kKeyLibraryName, ""}; }
SettingKey LibraryHomeKey() { return {r::kSectionLibrary, r::kKeyLibraryHome, ""}; }
SettingKey AccessibilityPolicyKey() { return {r::kSectionLibrary, r::kKeyAccessibility, ""}; }
SettingKey RepositoryNameKey() { return {r::kSectionLibrary, r::kKeyRepositoryName, ""}; }
SettingKey RepositoryIdentifierKey() { return {r::kSectionLibrary, r::kKeyRepositoryIdentifier, ""}; }
SettingKey AdminEmailKey() { return {r::kSectionLibrary, r::kKeyAdminEmail, ""}; }
SettingKey HarvestSetsKey() { return {r::kSectionLibrary, r::kKeyHarvestSets, "True"}; }

bool LinkAddress(std::string_view address) {
  size_t scheme = 0;
  for (std::string_view start : {"https://", "http://"}) {
    if (address.size() > start.size() && SameTextAscii(address.substr(0, start.size()), start)) scheme = start.size();
  }
  if (scheme == 0) return false;
  return std::none_of(address.begin(), address.end(),
                      [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; });
}

bool RepositoryIdentifierValue(std::string_view name) {
  auto letter_or_digit = [](char c) { return IsAsciiAlpha(c) || (c >= '0' && c <= '9'); };
  if (name.empty() || name.size() > 253 || !letter_or_digit(name.front()) || !letter_or_digit(name.back())) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [&](char c) { return letter_or_digit(c) || c == '-' || c == '.'; });
}

bool SettingIsTrue(std::string_view value) { return value == "True"; }

std::optional<int32_t> SettingInteger(std::string_view text) {
  // C's "0x0A" goes to the integer conversion in that conversion's own spelling ("$0A"), so the
  // settings rule does not depend on which other prefixes the conversion happens to take.
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::string dollar("$");
    dollar.append(text.substr(2));
    return TryStrToInt(dollar);
  }
  return TryStrToInt(text);
}

}  // namespace shelfra
