// TCustomPageProducer: the template producer - where the template comes from and the expansion
// loop that copies it to the output, replacing every <#Name param=value ...> tag.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/strings.h"
#include "web/content_producer.h"

namespace shelfra {

class TCustomPageProducer : public TCustomContentProducer {
 public:
  explicit TCustomPageProducer(TComponent* owner);

  // The template file's name, empty by default. When not empty it is the template source and
  // HTMLDoc is ignored.
  const std::string& HTMLFile() const { return html_file_; }
  // A name that differs from the current one only in ASCII case is not stored; any other name
  // clears HTMLDoc and is stored.
  void SetHTMLFile(std::string_view file_name);
  // The template lines, used when HTMLFile is empty; each line is followed by CR LF.
  // The caller may add lines to the live list.
  TStrings& HTMLDoc() { return html_doc_; }
  const TStrings& HTMLDoc() const { return html_doc_; }
  // Copies the lines and clears HTMLFile.
  void SetHTMLDoc(const TStrings& lines);
  void SetHTMLDoc(std::span<const std::string_view> lines);
  // Whether every " and ' is deleted from tag parameter items; true by default.
  bool StripParamQuotes() const { return strip_param_quotes_; }
  void SetStripParamQuotes(bool strip) { strip_param_quotes_ = strip; }

  // Expands the template: HTMLFile's content when it is set (raises EFOpenError when it cannot
  // be read), else HTMLDoc's lines each followed by "\r\n".
  std::string ProduceContent() override;
  // Expands `stream`: text outside tags is copied byte for byte; every tag is replaced by
  // ResolveTag's text. Raises EParserError for a line too long for the tokenizer's buffer and
  // EConvertError for a malformed percent escape in a tag parameter; an exception from a tag
  // handler leaves at once. Nothing partial is returned.
  std::string ProduceFromStream(std::string_view stream) override;
  std::string ProduceFromString(std::string_view text) override { return ProduceFromStream(text); }

 protected:
  // The text that replaces the tag `tag_string` with its parameter items `tag_params`.
  // The base gives "<#" + tag_string + ">" (the parameters are not reproduced).
  virtual std::string ResolveTag(const std::string& tag_string, TStrings& tag_params);

 private:
  std::string html_file_;
  TStrings html_doc_;
  bool strip_param_quotes_ = true;
};

}  // namespace shelfra
