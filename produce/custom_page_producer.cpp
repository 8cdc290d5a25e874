// The template producer: template source selection and the tag expansion loop.
#include "produce/custom_page_producer.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

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

namespace {

// A template taken apart once: the bytes to copy, each followed by the tag to resolve there,
// and, where the template cannot be read further, the error raised at that point (after the
// tags before it have been resolved, as when the template is read as it is expanded).
struct CompiledTemplate {
  struct Piece {
    std::string text;  // copied as it is
    bool has_tag = false;
    std::string tag;
    TStrings params;
  };
  enum class Fault { kNone, kParser, kConvert };
  std::vector<Piece> pieces;
  Fault fault = Fault::kNone;
  std::string fault_message;
};

CompiledTemplate Compile(std::string_view stream, bool strip_param_quotes) {
  CompiledTemplate compiled;
  compiled.pieces.emplace_back();
  try {
    TCopyParser parser(stream, &compiled.pieces.back().text);
    // The parser copies into the last piece's text; each tag starts a new piece.
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
        compiled.pieces.back().text.push_back('<');
        parser.CopyToken();
        parser.NextToken(true);
        continue;
      }
      parser.NextToken(false);
      CompiledTemplate::Piece& piece = compiled.pieces.back();
      piece.tag = parser.TokenText();
      const std::string params_text = parser.CollectUntil('>');
      SplitFields(" ", " ", TrimParams(params_text), piece.params, true, strip_param_quotes);
      piece.has_tag = true;
      compiled.pieces.emplace_back();
      parser.SetOutput(&compiled.pieces.back().text);
      // The ">" that closed the tag is passed over; blanks after it are copied.
      parser.NextToken(true);
    }
  } catch (const EParserError& e) {
    compiled.fault = CompiledTemplate::Fault::kParser;
    compiled.fault_message = e.Message();
  } catch (const EConvertError& e) {
    compiled.fault = CompiledTemplate::Fault::kConvert;
    compiled.fault_message = e.Message();
  }
  return compiled;
}

struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};

// Templates taken apart, by their text (the first byte says whether quotes are stripped). A
// process expands the same few templates request after request; a text seen for the first
// time is taken apart and kept, and the whole store is let go when it grows past its bounds
// (templates made anew for every request would otherwise pile up).
class CompiledTemplates {
 public:
  // Held by the caller while it expands: a tag's handler may expand other templates meanwhile.
  std::shared_ptr<const CompiledTemplate> Of(std::string_view stream, bool strip_param_quotes) {
    key_.assign(1, strip_param_quotes ? '1' : '0');
    key_.append(stream);
    if (auto found = store_.find(std::string_view(key_)); found != store_.end()) return found->second;
    if (store_.size() >= kMaxTemplates || bytes_ + key_.size() > kMaxBytes) {
      store_.clear();
      bytes_ = 0;
    }
    auto compiled = std::make_shared<const CompiledTemplate>(Compile(stream, strip_param_quotes));
    bytes_ += 2 * key_.size();  // the key, and about as much again in its pieces
    store_.emplace(key_, compiled);
    return compiled;
  }

 private:
  static constexpr size_t kMaxTemplates = 64;
  static constexpr size_t kMaxBytes = size_t{8} << 20;
  std::unordered_map<std::string, std::shared_ptr<const CompiledTemplate>, TextHash, std::equal_to<>> store_;
  std::string key_;
  size_t bytes_ = 0;
};

}  // namespace

std::string TCustomPageProducer::ProduceFromStream(std::string_view stream) {
  thread_local CompiledTemplates templates;
  const std::shared_ptr<const CompiledTemplate> compiled = templates.Of(stream, strip_param_quotes_);
  std::string output;
  output.reserve(stream.size());
  for (const CompiledTemplate::Piece& piece : compiled->pieces) {
    output += piece.text;
    if (!piece.has_tag) continue;
    TStrings tag_params = piece.params;
    output += ResolveTag(piece.tag, tag_params);
  }
  if (compiled->fault == CompiledTemplate::Fault::kParser) throw EParserError(compiled->fault_message);
  if (compiled->fault == CompiledTemplate::Fault::kConvert) throw EConvertError(compiled->fault_message);
  return output;
}

std::string TCustomPageProducer::ResolveTag(const std::string& tag_string, TStrings& /*tag_params*/) {
  return "<#" + tag_string + ">";
}

}  // namespace shelfra
