// The template tokenizer: blanks, identifiers and single-byte tokens over a whole-line buffer.
#include "produce/copy_parser.h"

#include <algorithm>
#include <cstring>

#include "base/exceptions.h"
#include "base/format.h"
#include "base/text.h"
#include "produce_res.h"

namespace shelfra {

namespace {
bool IsTemplateBlank(unsigned char c) { return c >= 1 && c <= 32; }
bool IsIdentStart(unsigned char c) { return IsAsciiAlpha(c) || c == '_'; }
bool IsIdentChar(unsigned char c) { return IsIdentStart(c) || IsAsciiDigit(c); }
}  // namespace

TCopyParser::TCopyParser(std::string_view source, std::string* output) : source_(source), output_(output) {
  buffer_[0] = 0;  // nothing exposed yet: the first scan refills
  NextToken(true);
}

// Puts back the byte held aside, moves the unread bytes to the start of the buffer and reads
// until the buffer is full or the source ends. A short read exposes everything. A full buffer
// exposes only up to and including the last LF in positions 0 to 4094, so that position 4095
// at the latest can take the zero that marks the end of the exposed text; with no such LF the
// line cannot fit and parsing stops. Position 0 counts too: the buffer always starts at a line
// start, so an LF there is an empty line, and exposing it lets the next refill start with the
// following line; otherwise an empty line would make a well-sized line after it fail.
void TCopyParser::Refill() {
  if (exposed_end_ < data_end_) buffer_[exposed_end_] = saved_byte_;
  const size_t unread = data_end_ - pos_;
  if (unread != 0 && pos_ != 0) std::memmove(buffer_.data(), buffer_.data() + pos_, unread);
  data_end_ = unread;
  pos_ = 0;
  token_start_ = 0;
  const size_t count = std::min(kBufferSize - data_end_, source_.size() - source_read_);
  std::memcpy(buffer_.data() + data_end_, source_.data() + source_read_, count);
  source_read_ += count;
  data_end_ += count;

  if (data_end_ < kBufferSize) {
    exposed_end_ = data_end_;
    buffer_[exposed_end_] = 0;
    return;
  }
  size_t exposed = kBufferSize - 1;  // one past the last candidate LF position, 4094
  while (exposed > 0 && buffer_[exposed - 1] != '\n') --exposed;
  if (exposed == 0) {
    throw EParserError(Format(res::produce::kParserErrorAtLine, {res::produce::kLineTooLong, source_line_}));
  }
  exposed_end_ = exposed;
  saved_byte_ = buffer_[exposed_end_];
  buffer_[exposed_end_] = 0;
}

void TCopyParser::Write(size_t from, size_t to, std::string* sink) const {
  if (sink != nullptr && to > from) sink->append(buffer_.data() + from, to - from);
}

void TCopyParser::SkipBlanks(std::string* sink) {
  size_t run_start = pos_;
  for (;;) {
    const unsigned char c = static_cast<unsigned char>(buffer_[pos_]);
    if (c == 0) {
      if (pos_ != exposed_end_) break;  // a zero byte of the template ends the text
      // Flush before the refill moves the buffer, so that nothing is lost or doubled.
      Write(run_start, pos_, sink);
      Refill();
      run_start = 0;
      if (exposed_end_ == 0) return;  // the source is exhausted
      continue;
    }
    if (!IsTemplateBlank(c)) break;
    if (c == '\n') ++source_line_;
    ++pos_;
  }
  Write(run_start, pos_, sink);
}

int TCopyParser::ScanToken() {
  token_start_ = pos_;
  const unsigned char c = static_cast<unsigned char>(buffer_[pos_]);
  if (c == 0) {
    token_ = kEndToken;  // not consumed: every later scan yields the end again
  } else if (IsIdentStart(c)) {
    // Only whole lines are exposed and an LF is a blank, so an identifier never reaches the
    // zero at the end of the exposed text unless the source itself ends there.
    do {
      ++pos_;
    } while (IsIdentChar(static_cast<unsigned char>(buffer_[pos_])));
    token_ = kSymbolToken;
  } else {
    ++pos_;
    token_ = c;
  }
  return token_;
}

int TCopyParser::NextToken(bool copy_blanks) {
  SkipBlanks(copy_blanks ? output_ : nullptr);
  return ScanToken();
}

std::string TCopyParser::TokenText() const {
  return std::string(buffer_.data() + token_start_, pos_ - token_start_);
}

void TCopyParser::CopyToken() { Write(token_start_, pos_, output_); }

std::string TCopyParser::CollectUntil(char terminator) {
  const int wanted = static_cast<unsigned char>(terminator);
  std::string result;
  if (token_ == wanted || token_ == kEndToken) return result;
  for (;;) {
    SkipBlanks(&result);
    ScanToken();
    if (token_ == wanted || token_ == kEndToken) break;
    Write(token_start_, pos_, &result);
  }
  return result;
}

}  // namespace shelfra
