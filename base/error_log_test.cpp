#include "base/error_log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/support/log_capture.h"

namespace shelfra {
namespace {

std::string UtcStamp(time_t t) {
  tm utc{};
  gmtime_r(&t, &utc);
  char buf[32];
  return std::string(buf, strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &utc));
}

// The length of the prefix LogLine writes in this process ("YYYY-MM-DD HH:MM:SS
// shelfra[<pid>]: "), its time in `stamp`; 0 when `line` does not start with one.
size_t PrefixLength(const std::string& line, std::string* stamp = nullptr) {
  const std::string shape = "dddd-dd-dd dd:dd:dd";
  if (line.size() < shape.size()) return 0;
  for (size_t i = 0; i < shape.size(); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return 0;
  }
  const std::string rest = " shelfra[" + std::to_string(getpid()) + "]: ";
  if (line.compare(shape.size(), rest.size(), rest) != 0) return 0;
  if (stamp != nullptr) *stamp = line.substr(0, shape.size());
  return shape.size() + rest.size();
}

// Logs `text` and returns what follows the prefix, without the final "\n"; checks that the
// line is exactly one line.
std::string Logged(std::string_view text) {
  testing::LogCapture capture;
  LogLine(text);
  std::string line = capture.Take();
  const size_t prefix = PrefixLength(line);
  EXPECT_GT(prefix, 0u) << line;
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
  EXPECT_LE(line.size(), kMaxLogLineSize);
  return line.substr(prefix, line.size() - prefix - 1);
}

TEST(LogLineTest, LineIsUtcTimePidAndTextOnOneLine) {
  testing::LogCapture capture;
  time_t before = time(nullptr);
  LogLine("vovivavi.exe: 500 Exception: boom");
  time_t after = time(nullptr);
  std::string line = capture.Take();
  std::string stamp;
  const size_t prefix = PrefixLength(line, &stamp);
  ASSERT_GT(prefix, 0u) << line;
  EXPECT_TRUE(stamp == UtcStamp(before) || stamp == UtcStamp(after)) << stamp;
  EXPECT_EQ(line.substr(prefix), "vovivavi.exe: 500 Exception: boom\n");
}

TEST(LogLineTest, ShiftJisBecomesUtf8AndControlBytesBecomeEscapes) {
  struct Case {
    std::string_view input;
    std::string_view expected;
  } cases[] = {
      {"", ""},
      {"NO=5 (path \"/Detail\")", "NO=5 (path \"/Detail\")"},
      {"\x90\x7D\x8F\x91", "\xE5\x9B\xB3\xE6\x9B\xB8"},          // two kanji
      {"\x95\x5C", "\xE8\xA1\xA8"},                              // trail byte 0x5C is no backslash
      {"\xB6\xDE", "\xEF\xBD\xB6\xEF\xBE\x9E"},                  // half-width katakana
      {"\x81\x60\x81\x7C", "\xEF\xBD\x9E\xEF\xBC\x8D"},          // cp932's U+FF5E and U+FF0D
      {"\x87\x40\xFA\x40", "\xE2\x91\xA0\xE2\x85\xB0"},          // vendor rows
      {"\xF0\x40", "\xEE\x80\x80"},                              // user-defined area
      {"a\r\nb\tc", "a\\r\\nb\\tc"},
      {std::string_view("\x00\x01\x1B\x7F", 4), "\\x00\\x01\\x1B\\x7F"},
      {"C:\\dir", "C:\\\\dir"},
      {"\x80\xA0\xFD\xFE\xFF", "\\x80\\xA0\\xFD\\xFE\\xFF"},     // no Shift_JIS characters
      {"a\x90", "a\\x90"},                                       // lead byte at the end
      {"\x90\n", "\\x90\\n"},                                    // LF is never a trail byte
      {"\x81\x7F", "\\x81\\x7F"},
      {"\x85\x40", "\\x85@"},                                    // a lead without characters
      {"\x81\xAD", "\\x81\xEF\xBD\xAD"},                         // unassigned pair: 0xAD stands alone
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Logged(c.input), c.expected) << ::testing::PrintToString(std::string(c.input));
  }
}

TEST(LogLineTest, LongTextIsCutAtACharacterAndMarked) {
  testing::LogCapture capture;
  LogLine("");
  const size_t prefix = capture.Take().size() - 1;
  const size_t room = kMaxLogLineSize - 1 - prefix;  // text bytes that fit in one line

  EXPECT_EQ(Logged(std::string(room, 'a')), std::string(room, 'a'));
  EXPECT_EQ(Logged(std::string(room + 1, 'a')), std::string(room - 3, 'a') + "...");

  std::string kanji;
  for (size_t i = 0; i < room; ++i) kanji += "\x90\x7D";  // each 3 bytes in UTF-8
  std::string cut = Logged(kanji);
  ASSERT_GE(cut.size(), 3u);
  EXPECT_EQ(cut.substr(cut.size() - 3), "...");
  EXPECT_EQ((cut.size() - 3) % 3, 0u);
  EXPECT_GT(cut.size() + 3, room);  // only the mark and a partial character are missing

  std::string escapes(room, '\x01');  // each 4 bytes
  cut = Logged(escapes);
  EXPECT_EQ((cut.size() - 3) % 4, 0u);
  EXPECT_EQ(cut.substr(cut.size() - 7), "\\x01...");
}

TEST(ReadableUtf8Test, WholeTextAsTheLogWritesItNeverCut) {
  const std::string_view cases[] = {
      "",
      "\x90\x7D\x8F\x91.DBF",   // the book table's name
      "\x95\x5C\\x",            // a trail byte 0x5C, then a real backslash
      "a\r\n\x01\x90",           // control bytes and a lead byte at the end
      "\xB6\xDE\x80\xFF",        // half-width katakana, then no characters at all
  };
  for (std::string_view c : cases) EXPECT_EQ(ReadableUtf8(c), Logged(c)) << ::testing::PrintToString(std::string(c));

  std::string long_text;
  for (size_t i = 0; i < kMaxLogLineSize; ++i) long_text += "\x90\x7D";
  const std::string utf8 = ReadableUtf8(long_text);
  EXPECT_EQ(utf8.size(), kMaxLogLineSize * 3);
  EXPECT_EQ(utf8.substr(0, 6), "\xE5\x9B\xB3\xE5\x9B\xB3");
}

TEST(ReadablePathTest, Utf8AndShiftJisSpellingsReadTheSameAndStayOneLine) {
  struct Case {
    std::string_view path;
    std::string_view shown;
  } cases[] = {
      {"/srv/\xE5\x9B\xB3\xE6\x9B\xB8.DBF", "/srv/\xE5\x9B\xB3\xE6\x9B\xB8.DBF"},  // found under its UTF-8 name
      {"/srv/\x90\x7D\x8F\x91.DBF", "/srv/\xE5\x9B\xB3\xE6\x9B\xB8.DBF"},              // its Shift_JIS name
      {"/srv/a\\b\nc", "/srv/a\\\\b\\nc"},
      {"/srv/\xE5\x9B", "/srv/\xE8\x9D\x97"},             // a cut UTF-8 character: no UTF-8, so Shift_JIS
      {"/srv/\xED\xA0\x80", "/srv/\xE6\x81\x9D\\x80"},  // nor is a surrogate
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadablePath(c.path), c.shown) << ::testing::PrintToString(std::string(c.path));
  }
  // A readable line keeps its UTF-8 and its escapes, and escapes only what would break it.
  testing::LogCapture capture;
  LogReadableLine(std::string("index of ") + std::string(ReadablePath("/srv/\x90\x7D\\x")) + "\n\xFF");
  const std::string line = capture.Take();
  EXPECT_EQ(line.substr(PrefixLength(line)), "index of /srv/\xE5\x9B\xB3\\\\x\\n\\xFF\n");
}

TEST(LogLineTest, WriteFailuresAreIgnoredWithoutSignalOrErrno) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // nobody reads: EPIPE, and SIGPIPE would end the process
  SetLogFdForTesting(fds[1]);
  errno = ENOENT;
  LogLine("gone");
  EXPECT_EQ(errno, ENOENT);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);

  close(fds[1]);
  LogLine("closed");  // EBADF
  EXPECT_EQ(errno, ENOENT);
  SetLogFdForTesting(-1);
}

}  // namespace
}  // namespace shelfra
