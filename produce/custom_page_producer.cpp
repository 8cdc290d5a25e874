// The template producer: template source selection and the tag expansion loop.
#include "produce/custom_page_producer.h"

#include <cstdio>
#include <memory>

#include "base/exceptions.h"
#include "base/format.h"
#include "base/text.h"
#include "base_res.h"
#include "produce/copy_parser.h"
#include "web/http_fields.h"

namespace shelfra {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The whole content of `file_name`; raises EFOpenError when it cannot be opened or read.
std::string ReadTemplateFile(const std::string& file_name) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(file_name.c_str(), "rb"));
  if (!file) throw EFOpenError(Format(res::base::kFileOpenError, {file_name}));
  std::string content;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) content.append(chunk, n);
  if (std::ferror(file.get())) throw EFOpenError(Format(res::base::kFileOpenError, {file_name}));
  return content;
}

// The parameter text without bytes of value 32 or less at either end.
std::string_view TrimParams(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

TCustomPageProducer::TCustomPageProducer(TComponent* owner) : TCustomContentProducer(owner) {}

void TCustomPageProducer::SetHTMLFile(std::string_view file_name) {
  if (SameTextAscii(file_name, html_file_)) return;
  html_doc_.Clear();
  html_file_ = std::string(file_name);
}

void TCustomPageProducer::SetHTMLDoc(const TStrings& lines) {
  html_doc_.Assign(lines);
  html_file_.clear();
}

void TCustomPageProducer::SetHTMLDoc(std::span<const std::string_view> lines) {
  html_doc_.Clear();
  for (std::string_view line : lines) html_doc_.Add(std::string(line));
  html_file_.clear();
}

std::string TCustomPageProducer::ProduceContent() {
  if (!html_file_.empty()) return ProduceFromStream(ReadTemplateFile(html_file_));
  return ProduceFromStream(html_doc_.Text());
}

std::string TCustomPageProducer::ProduceFromStream(std::string_view stream) {
  std::string output;
  output.reserve(stream.size());
  TCopyParser parser(stream, &output);
  for (;;) {
    int token = parser.Token();
    while (token != TCopyParser::kEndToken && token != '<') {
      parser.CopyToken();
      token = parser.NextToken(true);
    }
    if (token == TCopyParser::kEndToken) break;

    // The blanks after "<" are dropped whether or not a tag follows: "a < b" gives "a <b".
    token = parser.NextToken(false);
    if (token != '#') {
      output.push_back('<');
      parser.CopyToken();
      parser.NextToken(true);
      continue;
    }
    parser.NextToken(false);
    const std::string tag_string = parser.TokenText();
    const std::string params_text = parser.CollectUntil('>');
    TStrings tag_params;
    SplitFields(" ", " ", TrimParams(params_text), tag_params, true, strip_param_quotes_);
    output += ResolveTag(tag_string, tag_params);
    // The ">" that closed the tag is passed over; blanks after it are copied.
    parser.NextToken(true);
  }
  return output;
}

std::string TCustomPageProducer::ResolveTag(const std::string& tag_string, TStrings& /*tag_params*/) {
  return "<#" + tag_string + ">";
}

}  // namespace shelfra
