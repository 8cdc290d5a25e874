// The event-driven template producer: tag kinds and the OnHTMLTag call.
#include "produce/page_producer.h"

#include <array>

#include "base/text.h"

namespace shelfra {

namespace {
// The words of the tag kinds, by kind value; tagCustom has none.
constexpr std::array<std::string_view, 7> kTagWords = {"", "LINK", "IMAGE", "TABLE", "IMAGEMAP", "OBJECT", "EMBED"};
}  // namespace

TTag TPageProducer::TagKind(std::string_view tag_string) {
  for (size_t kind = kTagWords.size() - 1; kind >= 1; --kind) {
    if (SameTextAscii(tag_string, kTagWords[kind])) return static_cast<TTag>(kind);
  }
  return TTag::tagCustom;
}

std::string TPageProducer::ResolveTag(const std::string& tag_string, TStrings& tag_params) {
  std::string replace_text;
  FireHTMLTag(TagKind(tag_string), tag_string, tag_params, replace_text);
  return replace_text;
}

void TPageProducer::FireHTMLTag(TTag tag, const std::string& tag_string, TStrings& tag_params,
                                std::string& replace_text) {
  if (OnHTMLTag) OnHTMLTag(*this, tag, tag_string, tag_params, replace_text);
}

}  // namespace shelfra
