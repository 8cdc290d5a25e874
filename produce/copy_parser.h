// TCopyParser: the template tokenizer. It walks a template through a fixed 4096-byte buffer
// and copies what it passes over (text outside tags) to an output buffer.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace shelfra {

// Splits a template into tokens: an identifier ([A-Za-z_][0-9A-Za-z_]*), or any other single
// byte (bytes >= 0x80 included), separated by blanks (bytes 1 to 32). A zero byte ends the
// text. The source is read through a 4096-byte buffer that only ever exposes whole lines, so a
// line that does not fit raises EParserError with the line number and the line-too-long text.
//
// Used on the stack by one expansion; the source and output must outlive the tokenizer.
class TCopyParser {
 public:
  static constexpr int kEndToken = 0;     // the end of the text
  static constexpr int kSymbolToken = 1;  // an identifier
  static constexpr size_t kBufferSize = 4096;

  // Starts reading `source` and performs NextToken(true): blanks at the very start are copied
  // to `output`. `output` may be null, then nothing is ever copied. Not owned.
  // Raises EParserError when the first part of the source holds a line that is too long.
  TCopyParser(std::string_view source, std::string* output);
  TCopyParser(const TCopyParser&) = delete;
  TCopyParser& operator=(const TCopyParser&) = delete;

  // Skips blanks (writing them to the output when `copy_blanks`), then scans the next token
  // without writing it. Returns its kind: kEndToken, kSymbolToken or the byte itself (0-255).
  int NextToken(bool copy_blanks);
  // The kind of the current token.
  int Token() const { return token_; }
  // The current token's bytes (empty at the end of the text).
  std::string TokenText() const;
  // Writes the current token's bytes to the output.
  void CopyToken();
  // Every byte between the current token and the next token equal to `terminator` (or the
  // end), blanks and line breaks included; the terminator becomes the current token.
  // Empty when the current token already is the terminator or the end. Writes nothing.
  std::string CollectUntil(char terminator);
  // Where copied bytes go from now on (may be null: nowhere). Not owned.
  void SetOutput(std::string* output) { output_ = output; }
  // 1 plus the LF bytes passed so far.
  int SourceLine() const { return source_line_; }

 private:
  // Loads the next part of the source after the exposed text (see the .cpp).
  void Refill();
  // Skips (and copies or gathers into `sink`) blanks; refills at the end of the exposed text.
  // Leaves pos_ on the first non-blank byte, which may be the zero that ends the text.
  void SkipBlanks(std::string* sink);
  // Scans the token at pos_ (after SkipBlanks).
  int ScanToken();
  void Write(size_t from, size_t to, std::string* sink) const;

  std::string_view source_;
  size_t source_read_ = 0;  // bytes of the source already read into the buffer
  std::string* output_;     // not owned, may be null

  // buffer_[exposed_end_] holds a zero standing in for saved_byte_ while the text is exposed.
  std::array<char, kBufferSize> buffer_;
  size_t pos_ = 0;          // current read position
  size_t exposed_end_ = 0;  // end of the exposed text
  size_t data_end_ = 0;     // end of the data read into the buffer
  char saved_byte_ = 0;     // the real byte at exposed_end_ when exposed_end_ < data_end_
  size_t token_start_ = 0;
  int token_ = kEndToken;
  int source_line_ = 1;
};

}  // namespace shelfra
