// Reference scanners of the benchmark: the fastest plain way to answer a catalogue search over
// the book table, to measure the program against. It finds the live records that meet every
// criterion, sorts them by the title reading and writes a result page of about the size the
// program writes (header block, count line, one table row per book).
//
// Usage: ref_scan --table FILE [--mode memmem|prefilter] [--access map|read] [--title W]...
//                 [--author W] [--keyword W]... [--class PREFIX] [--count-only]
//                 --fields KIND=NAME,NAME... (once per kind: title, author, keyword, class)
//   --fields   the fields a kind of criterion searches, by their names in the table header
//              (Shift_JIS); bench.py passes those the program's search statement names
//   memmem     every searched field of every record is searched with memmem
//   prefilter  the rarest byte of the words (by a sample of the table) is found with memchr over
//              the whole record area; only the fields it lands in are checked
//   map        the table is mapped; rows point into the mapping (default)
//   read       the table is read in chunks of about 1 MB into one buffer; the columns of the
//              matching rows are copied out
// Words are Shift_JIS bytes. A word matches a field when it occurs there starting on a character
// boundary. The searched fields are found by name, the result list's columns by position in the
// book table (the second field is the number).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Positions of the result list's columns in the book table.
constexpr int kNumber = 1;
constexpr int kAuthor = 2;
constexpr int kTitle = 4;
constexpr int kTitleKana = 5;
constexpr int kSeries = 8;
constexpr int kPublisher = 10;
constexpr int kYear = 11;
constexpr int kClassCode = 16;
constexpr int kBookMark = 17;
constexpr int kVolumeMark = 18;
constexpr int kPages = 21;
constexpr int kSize = 24;
constexpr int kFieldCount = 41;

// The kinds of criteria, as --fields and the word options name them.
constexpr const char* kKinds[] = {"title", "author", "keyword", "class"};
constexpr size_t kKindCount = sizeof kKinds / sizeof kKinds[0];
constexpr size_t kClassKind = 3;
// The sort key, then the result list's columns in order.
constexpr int kRowFields[] = {kTitleKana, kNumber,  kClassCode, kBookMark, kVolumeMark, kTitle,
                              kSeries,    kAuthor,  kPublisher, kYear,     kPages,      kSize};
constexpr size_t kRowWidth = sizeof kRowFields / sizeof kRowFields[0];

// "Gaitou suru shiryou wa" and "ken desu" in Shift_JIS: the count line around the number.
const char kCountHead[] = "\x8a\x59\x93\x96\x82\xb7\x82\xe9\x8e\x91\x97\xbf\x82\xcd";
const char kCountTail[] = "\x8c\x8f\x82\xc5\x82\xb7";
constexpr size_t kMaxRows = 99999;
constexpr size_t kChunkBytes = 1 << 20;

struct Field {
  size_t offset;  // from the record start, after the deletion flag
  size_t length;
  std::string name;  // the header's name bytes, up to the first NUL
};

struct Criterion {
  std::string word;
  std::vector<int> fields;
};

// A word of the command line and its kind (an index into kKinds).
struct Word {
  size_t kind;
  std::string text;
};

struct Layout {
  size_t header_length = 0;
  size_t record_length = 0;
  size_t count = 0;  // records the file really holds
  std::vector<Field> fields;
};

// One result row: the trimmed texts of kRowFields, pointing into the mapping or into an arena.
struct Row {
  const uint8_t* text[kRowWidth];
  uint16_t length[kRowWidth];
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "ref_scan: %s\n", what.c_str());
  std::exit(2);
}

bool IsLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9f) || (b >= 0xe0 && b <= 0xfc); }

// True when `at` starts a character of the field text that begins at `field`.
bool OnBoundary(const uint8_t* field, const uint8_t* at) {
  const uint8_t* p = field;
  while (p < at) p += IsLeadByte(*p) ? 2 : 1;
  return p == at;
}

bool FieldContains(const uint8_t* field, size_t length, const std::string& word) {
  const uint8_t* p = field;
  const uint8_t* end = field + length;
  while (p < end) {
    const void* hit = memmem(p, static_cast<size_t>(end - p), word.data(), word.size());
    if (!hit) return false;
    const uint8_t* at = static_cast<const uint8_t*>(hit);
    if (OnBoundary(field, at)) return true;
    p = at + 1;
  }
  return false;
}

// Reads the header from its first bytes; `file_size` bounds the record count.
Layout ReadLayout(const uint8_t* header, size_t available, size_t file_size) {
  if (available < 32) Fail("not a table");
  Layout layout;
  uint32_t count;
  uint16_t header_length, record_length;
  std::memcpy(&count, header + 4, 4);
  std::memcpy(&header_length, header + 8, 2);
  std::memcpy(&record_length, header + 10, 2);
  if (header_length > available || record_length == 0) Fail("damaged header");
  size_t offset = 1;
  for (size_t d = 32; d + 32 <= header_length && header[d] != 0x0d; d += 32) {
    const char* name = reinterpret_cast<const char*>(header + d);
    layout.fields.push_back({offset, header[d + 16], std::string(name, strnlen(name, 11))});
    offset += header[d + 16];
  }
  if (layout.fields.size() < kFieldCount || offset > record_length) Fail("not the book table");
  layout.header_length = header_length;
  layout.record_length = record_length;
  layout.count = std::min<size_t>(count, (file_size - header_length) / record_length);
  return layout;
}

// Bump allocator for the copied columns of the read access; blocks never move.
class Arena {
 public:
  uint8_t* Take(size_t size) {
    if (left_ < size) {
      size_t block = std::max<size_t>(size, 1 << 20);
      blocks_.push_back(std::make_unique<uint8_t[]>(block));
      next_ = blocks_.back().get();
      left_ = block;
    }
    uint8_t* out = next_;
    next_ += size;
    left_ -= size;
    return out;
  }

 private:
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  uint8_t* next_ = nullptr;
  size_t left_ = 0;
};

class Scanner {
 public:
  Scanner(const Layout& layout, std::vector<Criterion> criteria, int class_field, std::string class_prefix,
          bool prefilter)
      : layout_(layout),
        criteria_(std::move(criteria)),
        class_field_(class_field),
        class_prefix_(std::move(class_prefix)),
        prefilter_(prefilter && !criteria_.empty()) {}

  // Chooses the rarest byte of the words by a sample of the record area.
  void Prepare(const uint8_t* sample, size_t size) {
    if (!prefilter_) return;
    std::vector<size_t> histogram(256, 0);
    for (size_t i = 0; i < size; ++i) ++histogram[sample[i]];
    size_t best = SIZE_MAX;
    for (size_t c = 0; c < criteria_.size(); ++c) {
      for (unsigned char b : criteria_[c].word) {
        if (histogram[b] < best) {
          best = histogram[b];
          key_ = c;
          rare_ = b;
        }
      }
    }
    field_at_.assign(layout_.record_length, -1);
    for (int index : criteria_[key_].fields) {
      const Field& f = layout_.fields[static_cast<size_t>(index)];
      for (size_t k = 0; k < f.length; ++k) field_at_[f.offset + k] = index;
    }
    const std::string& word = criteria_[key_].word;
    for (size_t k = 0; k < word.size(); ++k) {
      if (static_cast<uint8_t>(word[k]) == rare_) rare_at_.push_back(k);
    }
  }

  // Every criterion (and the class prefix) holds for the live record at `record`.
  bool Matches(const uint8_t* record) const {
    if (record[0] == '*') return false;
    if (!class_prefix_.empty()) {
      const Field& f = layout_.fields[static_cast<size_t>(class_field_)];
      if (class_prefix_.size() > f.length ||
          std::memcmp(record + f.offset, class_prefix_.data(), class_prefix_.size()) != 0) {
        return false;
      }
    }
    for (const Criterion& c : criteria_) {
      bool any = false;
      for (int index : c.fields) {
        const Field& f = layout_.fields[static_cast<size_t>(index)];
        if (FieldContains(record + f.offset, f.length, c.word)) {
          any = true;
          break;
        }
      }
      if (!any) return false;
    }
    return true;
  }

  // Calls found(record) for each matching record among `count` records at `records`.
  template <class Found>
  void Scan(const uint8_t* records, size_t count, Found&& found) const {
    const size_t length = layout_.record_length;
    if (!prefilter_) {
      for (const uint8_t* r = records; r < records + count * length; r += length) {
        if (Matches(r)) found(r);
      }
      return;
    }
    // memchr for the rare byte; a hit inside a field of its criterion that starts an occurrence
    // of the word makes the record a candidate for the full check.
    const std::string& word = criteria_[key_].word;
    const uint8_t* p = records;
    const uint8_t* end = records + count * length;
    while (p < end) {
      const uint8_t* hit = static_cast<const uint8_t*>(std::memchr(p, rare_, static_cast<size_t>(end - p)));
      if (!hit) break;
      size_t offset = static_cast<size_t>(hit - records);
      const uint8_t* record = records + offset / length * length;
      int index = field_at_[offset % length];
      p = hit + 1;
      if (index < 0) continue;
      if (record[0] == '*') {
        p = record + length;
        continue;
      }
      const Field& f = layout_.fields[static_cast<size_t>(index)];
      const uint8_t* field = record + f.offset;
      bool candidate = false;
      for (size_t k : rare_at_) {
        if (hit < field + k) continue;
        const uint8_t* start = hit - k;
        if (start + word.size() <= field + f.length && std::memcmp(start, word.data(), word.size()) == 0 &&
            OnBoundary(field, start)) {
          candidate = true;
          break;
        }
      }
      if (!candidate) continue;
      if (Matches(record)) found(record);
      p = record + length;
    }
  }

 private:
  const Layout& layout_;
  std::vector<Criterion> criteria_;
  int class_field_;  // the field the class prefix is tested on
  std::string class_prefix_;
  bool prefilter_;
  size_t key_ = 0;             // criterion whose word holds the rare byte
  uint8_t rare_ = 0;
  std::vector<int> field_at_;  // searched field of each record byte, or -1
  std::vector<size_t> rare_at_;
};

// The row of `record`; with an arena the texts are copied into it.
Row MakeRow(const Layout& layout, const uint8_t* record, Arena* arena) {
  Row row;
  for (size_t k = 0; k < kRowWidth; ++k) {
    const Field& f = layout.fields[static_cast<size_t>(kRowFields[k])];
    const uint8_t* text = record + f.offset;
    size_t length = f.length;
    if (kRowFields[k] == kNumber) {
      while (length > 0 && *text == ' ') ++text, --length;
    }
    while (length > 0 && text[length - 1] == ' ') --length;
    if (arena && length > 0) {
      uint8_t* copy = arena->Take(length);
      std::memcpy(copy, text, length);
      text = copy;
    }
    row.text[k] = text;
    row.length[k] = static_cast<uint16_t>(length);
  }
  return row;
}

void Append(std::string& out, const Row& row, size_t k) {
  out.append(reinterpret_cast<const char*>(row.text[k]), row.length[k]);
}

// The result page: about the bytes the program writes for the same rows.
std::string RenderPage(const std::vector<Row>& rows, const std::vector<uint32_t>& order, const char* script) {
  std::string body;
  body.reserve(512 + std::min(rows.size(), kMaxRows) * 400);
  body += "<head>\r\n<title>Shelfra search results</title>\r\n</head>\r\n";
  body += kCountHead;
  body += std::to_string(rows.size());
  body += kCountTail;
  body += "\r\n<Table Width=\"100%\" Align=\"Center\" Border=1 BgColor=\"#FCFBE2\">";
  body += "<Caption  Align=\"Top\">Shelfra search results list</Caption>\r\n<TR>";
  for (size_t k = 1; k < kRowWidth; ++k) body += "<TH>field name</TH>";
  body += "</TR>\r\n";
  for (size_t r = 0; r < order.size() && r < kMaxRows; ++r) {
    const Row& row = rows[order[r]];
    body += "<TR><TD><A HREF=\"";
    body += script;
    body += "/Detail?NO=";
    Append(body, row, 1);
    body += "\">";
    Append(body, row, 1);
    body += "</A></TD>";
    for (size_t k = 2; k < kRowWidth; ++k) {
      body += "<TD>";
      Append(body, row, k);
      body += "</TD>";
    }
    body += "</TR>\r\n";
  }
  body += "</Table>\r\n<H3 align=\"right\"><A HREF = 'JavaScript:history.back();'>[back]</a></H3>";
  std::string page = "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: ";
  page += std::to_string(body.size());
  page += "\r\nContent:\r\n\r\n";
  page += body;
  return page;
}

void WriteAll(const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(1, p, left);
    if (n <= 0) Fail("write failed");
    p += n;
    left -= static_cast<size_t>(n);
  }
}

// Reads up to `size` bytes at the file position; fewer only at the end of the file.
size_t ReadFull(int fd, uint8_t* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, buffer + got, size - got);
    if (n < 0) Fail("read failed");
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

// The positions of the fields "NAME,NAME..." names; fails on a name the table lacks.
std::vector<int> FieldPositions(const Layout& layout, const std::string& names) {
  std::vector<int> positions;
  for (size_t start = 0; start <= names.size();) {
    size_t end = std::min(names.find(',', start), names.size());
    std::string name = names.substr(start, end - start);
    auto at = std::find_if(layout.fields.begin(), layout.fields.end(), [&](const Field& f) { return f.name == name; });
    if (at == layout.fields.end()) Fail("the table has no field " + name);
    positions.push_back(static_cast<int>(at - layout.fields.begin()));
    start = end + 1;
  }
  return positions;
}

// The Scanner for the words and class prefix, their fields named by `fields` (per kind).
Scanner MakeScanner(const Layout& layout, const std::string (&fields)[kKindCount], const std::vector<Word>& words,
                    const std::string& class_prefix, bool prefilter) {
  std::vector<int> positions[kKindCount];
  for (size_t k = 0; k < kKindCount; ++k) {
    if (!fields[k].empty()) positions[k] = FieldPositions(layout, fields[k]);
  }
  std::vector<Criterion> criteria;
  for (const Word& w : words) {
    if (positions[w.kind].empty()) Fail(std::string("no --fields ") + kKinds[w.kind] + "=...");
    criteria.push_back({w.text, positions[w.kind]});
  }
  int class_field = -1;
  if (!class_prefix.empty()) {
    if (positions[kClassKind].size() != 1) Fail("--class needs exactly one field: --fields class=NAME");
    class_field = positions[kClassKind][0];
  }
  return Scanner(layout, std::move(criteria), class_field, class_prefix, prefilter);
}

}  // namespace

int main(int argc, char** argv) {
  const char* table_path = nullptr;
  std::string mode = "memmem", access = "map";
  std::string class_prefix;
  bool count_only = false;
  std::vector<Word> words;
  std::string fields[kKindCount];  // per kind, "NAME,NAME..."
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--count-only") {
      count_only = true;
      continue;
    }
    if (i + 1 >= argc) Fail("option " + arg + " needs a value");
    std::string value = argv[++i];
    if (arg == "--table") {
      table_path = argv[i];
    } else if (arg == "--mode") {
      mode = value;
    } else if (arg == "--access") {
      access = value;
    } else if (arg == "--class") {
      class_prefix = value;
    } else if (arg == "--fields") {
      size_t eq = value.find('=');
      size_t kind = 0;
      while (kind < kKindCount && value.compare(0, eq, kKinds[kind]) != 0) ++kind;
      if (eq == std::string::npos || kind == kKindCount) Fail("--fields needs KIND=NAME,..., not " + value);
      fields[kind] = value.substr(eq + 1);
    } else if (arg == "--title" || arg == "--author" || arg == "--keyword") {
      if (value.empty()) continue;  // an empty word matches every record with text
      words.push_back({arg == "--title" ? 0u : arg == "--author" ? 1u : 2u, value});
    } else {
      Fail("unknown option " + arg);
    }
  }
  if (!table_path || (mode != "memmem" && mode != "prefilter") || (access != "map" && access != "read")) {
    Fail("usage: ref_scan --table FILE [--mode memmem|prefilter] [--access map|read] [--title W]... "
         "[--author W] [--keyword W]... [--class PREFIX] [--count-only] --fields KIND=NAME,NAME...");
  }

  int fd = open(table_path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(std::string("cannot open ") + table_path);
  struct stat st;
  if (fstat(fd, &st) != 0) Fail(std::string("cannot stat ") + table_path);
  const size_t file_size = static_cast<size_t>(st.st_size);

  std::vector<Row> rows;
  size_t matches = 0;
  Arena arena;
  Layout layout;
  const bool prefilter = mode == "prefilter";
  if (access == "map") {
    void* map = file_size ? mmap(nullptr, file_size, PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
    if (map == MAP_FAILED) Fail(std::string("cannot map ") + table_path);
    const uint8_t* base = static_cast<const uint8_t*>(map);
    layout = ReadLayout(base, file_size, file_size);
    Scanner scanner = MakeScanner(layout, fields, words, class_prefix, prefilter);
    const uint8_t* records = base + layout.header_length;
    scanner.Prepare(records, std::min<size_t>(layout.count * layout.record_length, 512 * 1024));
    scanner.Scan(records, layout.count, [&](const uint8_t* record) {
      ++matches;
      if (!count_only) rows.push_back(MakeRow(layout, record, nullptr));
    });
  } else {
    uint8_t header[65536];
    size_t got = ReadFull(fd, header, std::min<size_t>(sizeof header, file_size));
    layout = ReadLayout(header, got, file_size);
    Scanner scanner = MakeScanner(layout, fields, words, class_prefix, prefilter);
    const size_t per_chunk = std::max<size_t>(1, kChunkBytes / layout.record_length);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[per_chunk * layout.record_length]);
    if (lseek(fd, static_cast<off_t>(layout.header_length), SEEK_SET) < 0) Fail("seek failed");
    for (size_t done = 0; done < layout.count;) {
      size_t want = std::min(per_chunk, layout.count - done);
      size_t n = ReadFull(fd, buffer.get(), want * layout.record_length) / layout.record_length;
      if (n == 0) break;
      if (done == 0) scanner.Prepare(buffer.get(), std::min<size_t>(n * layout.record_length, 512 * 1024));
      scanner.Scan(buffer.get(), n, [&](const uint8_t* record) {
        ++matches;
        if (!count_only) rows.push_back(MakeRow(layout, record, &arena));
      });
      done += n;
    }
  }
  close(fd);
  if (count_only) {
    std::printf("%zu\n", matches);
    return 0;
  }
  std::vector<uint32_t> order(rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const Row& x = rows[a];
    const Row& y = rows[b];
    int c = std::memcmp(x.text[0], y.text[0], std::min(x.length[0], y.length[0]));
    return c != 0 ? c < 0 : x.length[0] < y.length[0];
  });
  const char* script = std::getenv("SCRIPT_NAME");
  WriteAll(RenderPage(rows, order, script ? script : ""));
  return 0;
}
