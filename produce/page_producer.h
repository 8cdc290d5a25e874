// TPageProducer: the template producer whose tags are answered by the OnHTMLTag event,
// with the tag kinds TTag.
#pragma once

#include <functional>
#include <string>

#include "base/strings.h"
#include "produce/custom_page_producer.h"

namespace shelfra {

// The kind of a tag, from its name compared ignoring ASCII case; informational only.
enum class TTag { tagCustom, tagLink, tagImage, tagTable, tagImageMap, tagObject, tagEmbed };

// Answers one tag: `tag_string` is the name as written, `tag_params` the parameter items in
// template order; what the handler leaves in `replace_text` replaces the whole tag.
using THTMLTagEvent = std::function<void(TComponent& sender, TTag tag, const std::string& tag_string,
                                         TStrings& tag_params, std::string& replace_text)>;

class TPageProducer : public TCustomPageProducer {
 public:
  explicit TPageProducer(TComponent* owner) : TCustomPageProducer(owner) {}

  // Called once for every tag, in template order, during the expansion. Unset: tags vanish.
  THTMLTagEvent OnHTMLTag;

  // "LINK" tagLink ... "EMBED" tagEmbed, ignoring ASCII case; anything else tagCustom.
  static TTag TagKind(std::string_view tag_string);

 protected:
  // Finds the kind, then FireHTMLTag with an empty replace text; returns what it leaves there.
  std::string ResolveTag(const std::string& tag_string, TStrings& tag_params) override;
  // Calls OnHTMLTag when it is set.
  virtual void FireHTMLTag(TTag tag, const std::string& tag_string, TStrings& tag_params, std::string& replace_text);
};

}  // namespace shelfra
