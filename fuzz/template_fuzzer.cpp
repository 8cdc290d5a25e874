// Fuzz target: the tag template engine over arbitrary templates and tag parameters.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/component.h"
#include "base/exceptions.h"
#include "fuzz/fuzz_support.h"
#include "produce/page_producer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  shelfra::fuzz::ByteReader in(data, size);
  const uint8_t flags = in.Byte();
  const std::string templ(in.Rest());

  shelfra::TComponent root(nullptr);
  shelfra::TPageProducer& producer = root.Create<shelfra::TPageProducer>("PageProducer1");
  producer.SetStripParamQuotes((flags & 1) != 0);
  int tags = 0;
  if ((flags & 2) != 0) {
    // A handler that answers with what it was given, so tag names and parameters reach the
    // output; every third tag raises, as a handler's error would.
    producer.OnHTMLTag = [&tags, flags](shelfra::TComponent&, shelfra::TTag tag, const std::string& tag_string,
                                        shelfra::TStrings& params, std::string& replace_text) {
      ++tags;
      if ((flags & 4) != 0 && tags % 3 == 0) throw shelfra::Exception("handler");
      replace_text = std::to_string(static_cast<int>(tag)) + tag_string;
      for (const std::string& p : params) replace_text += "|" + p;
    };
  }
  try {
    std::string out = producer.ProduceFromString(templ);
    // Text outside tags is copied byte for byte: a template without "<" and without a zero
    // byte comes out unchanged.
    if (templ.find('<') == std::string::npos && templ.find('\0') == std::string::npos && out != templ) std::abort();
  } catch (const shelfra::Exception&) {
    // EParserError (a line too long), EConvertError (a bad escape in a parameter) or the
    // handler's own error.
  }
  return 0;
}
