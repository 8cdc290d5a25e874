// Fuzz target: the profile-file reader (settings file and host configuration) over arbitrary
// file bytes, with section and key names from the input.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/exceptions.h"
#include "base/profile.h"
#include "engine/host_config.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  shelfra::fuzz::ByteReader in(data, size);
  const std::string section(in.Until('\n'));
  const std::string key(in.Until('\n'));
  shelfra::fuzz::MemFile file(in.Rest());

  std::optional<std::string> value = shelfra::FindPrivateProfileString(section, key, file.Path());
  if (value && value->size() > shelfra::kMaxProfileValue) std::abort();
  std::string with_default = shelfra::GetPrivateProfileString(section, key, "default", file.Path());
  if (value ? with_default != *value : with_default != "default") std::abort();
  (void)shelfra::GetPrivateProfileString("Locale", "ShortDateFormat", "", file.Path());

  // The same bytes as the host configuration.
  ::setenv("SHELFRA_CONFIG", file.Path().c_str(), 1);
  std::string directory;
  (void)shelfra::AliasDirectory("Vadoz", directory);
  shelfra::ResetLocaleForTesting();
  (void)shelfra::Locale();
  (void)shelfra::IndexDirectory();
  return 0;
}
