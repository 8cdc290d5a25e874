// The error log: the line's prefix, Shift_JIS to UTF-8 (base/sjis_utf8) with escapes, and the
// one guarded write; the same readable conversion of a whole text and of paths of either
// spelling for the operator's commands.
#include "base/error_log.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "base/sjis_utf8.h"

namespace shelfra {

namespace {

int g_log_fd = STDERR_FILENO;
LogSink g_log_sink = nullptr;

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::string_view kCutMark = "...";

// `value` as `width` decimal digits, zero-padded; returns the end.
char* PutDigits(char* out, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

// "YYYY-MM-DD HH:MM:SS shelfra[<pid>]: " at `out` (at most 60 bytes); returns the end.
char* PutPrefix(char* out) {
  time_t now = time(nullptr);
  tm utc{};
  gmtime_r(&now, &utc);
  out = PutDigits(out, static_cast<unsigned>(utc.tm_year + 1900), 4);
  *out++ = '-';
  out = PutDigits(out, static_cast<unsigned>(utc.tm_mon + 1), 2);
  *out++ = '-';
  out = PutDigits(out, static_cast<unsigned>(utc.tm_mday), 2);
  *out++ = ' ';
  out = PutDigits(out, static_cast<unsigned>(utc.tm_hour), 2);
  *out++ = ':';
  out = PutDigits(out, static_cast<unsigned>(utc.tm_min), 2);
  *out++ = ':';
  out = PutDigits(out, static_cast<unsigned>(utc.tm_sec), 2);
  std::memcpy(out, " shelfra[", 9);
  out += 9;
  out = std::to_chars(out, out + 20, static_cast<long>(getpid())).ptr;
  std::memcpy(out, "]: ", 3);
  return out + 3;
}

// The log form of the character that starts at text[at] (at most 4 bytes at `out`); returns
// its size and moves `at` past the bytes it stands for. A lead byte whose next byte is no
// trail byte for it (a LF, the end of the text) is "\xNN" alone, and that next byte is then
// read on its own, so no control byte hides inside a character.
size_t NextLogChar(std::string_view text, size_t& at, char* out) {
  unsigned char b = static_cast<unsigned char>(text[at++]);
  char short_escape = b == '\t' ? 't' : b == '\n' ? 'n' : b == '\r' ? 'r' : b == '\\' ? '\\' : 0;
  if (short_escape != 0) {
    out[0] = '\\';
    out[1] = short_escape;
    return 2;
  }
  if (b >= 0x20 && b != 0x7F) {
    size_t size = 0;
    if (uint16_t code = SjisCodeAt(text, at - 1, size); code != 0) {
      at += size - 1;
      return PutUtf8(code, out);
    }
  }
  out[0] = '\\';
  out[1] = 'x';
  out[2] = kHexDigits[b >> 4];
  out[3] = kHexDigits[b & 0x0F];
  return 4;
}

// The size of the valid UTF-8 character at text[at] (shortest form, no surrogate, at most
// U+10FFFF); 0 when none starts there.
size_t Utf8CharSize(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b = byte(at);
  if (b < 0x80) return 1;
  size_t size;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    size = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    size = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    size = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + size > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < size; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  return size;
}

bool IsUtf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t n = Utf8CharSize(text, at);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

// NextLogChar for UTF-8 text: a valid character as it is, control bytes escaped as there, and
// "\\" for a backslash only when `escape_backslash` (a text that is readable already keeps
// its escapes as they are).
size_t NextUtf8Char(std::string_view text, size_t& at, char* out, bool escape_backslash) {
  const unsigned char b = static_cast<unsigned char>(text[at]);
  if ((b == '\\' && !escape_backslash) || (b >= 0x20 && b < 0x7F && b != '\\')) {
    out[0] = text[at++];
    return 1;
  }
  if (b >= 0x80) {
    if (const size_t n = Utf8CharSize(text, at); n != 0) {
      std::memcpy(out, text.data() + at, n);
      at += n;
      return n;
    }
  }
  // A control byte, a backslash to escape or a byte of no character: NextLogChar says them the
  // same way (a lone byte at or above 0x80 starts no Shift_JIS character it could complete
  // here, as the next byte is checked again on its own).
  std::string_view one = text.substr(at, 1);
  size_t i = 0;
  ++at;
  if (b >= 0x80) {
    out[0] = '\\';
    out[1] = 'x';
    out[2] = kHexDigits[b >> 4];
    out[3] = kHexDigits[b & 0x0F];
    return 4;
  }
  return NextLogChar(one, i, out);
}

bool PipeSignalPending() {
  sigset_t pending;
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

// One write(2) of the whole line. SIGPIPE is blocked in this thread around the write and a
// SIGPIPE the write raised is taken off the pending set before the old mask returns: a log
// reader that went away must not end the process before its answer is complete. The program's
// own signal dispositions stay as they are, so its answer writes behave as before.
void WriteGuarded(const char* data, size_t size) {
  if (g_log_sink != nullptr) {
    g_log_sink(data, size);
    return;
  }
  sigset_t pipe_only, saved;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  if (pthread_sigmask(SIG_BLOCK, &pipe_only, &saved) != 0) return;
  // A SIGPIPE that was already pending belongs to someone else and is left alone.
  bool was_pending = PipeSignalPending();
  ssize_t n;
  do {
    n = write(g_log_fd, data, size);
  } while (n < 0 && errno == EINTR);
  if (!was_pending && PipeSignalPending()) {
    int taken;
    sigwait(&pipe_only, &taken);  // pending, so it returns at once
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

// Writes the line of `text` whose characters `next` gives (see NextLogChar).
template <typename Next>
void WriteLine(std::string_view text, Next next) {
  int saved_errno = errno;
  char line[kMaxLogLineSize];
  size_t size = static_cast<size_t>(PutPrefix(line) - line);
  const size_t limit = kMaxLogLineSize - 1;  // the "\n" always fits
  size_t cut_at = size;  // the last character end that still leaves room for the cut mark
  for (size_t at = 0; at < text.size();) {
    char one[4];
    size_t n = next(text, at, one);
    if (size + n > limit) {
      std::memcpy(line + cut_at, kCutMark.data(), kCutMark.size());
      size = cut_at + kCutMark.size();
      break;
    }
    std::memcpy(line + size, one, n);
    size += n;
    if (size + kCutMark.size() <= limit) cut_at = size;
  }
  line[size++] = '\n';
  WriteGuarded(line, size);
  errno = saved_errno;
}

}  // namespace

void LogLine(std::string_view text) { WriteLine(text, NextLogChar); }

void LogReadableLine(std::string_view text) {
  WriteLine(text, [](std::string_view t, size_t& at, char* out) { return NextUtf8Char(t, at, out, false); });
}

std::string ReadablePath(std::string_view path) {
  std::string out;
  out.reserve(path.size() + path.size() / 2);
  const bool utf8 = IsUtf8(path);
  for (size_t at = 0; at < path.size();) {
    char one[4];
    out.append(one, utf8 ? NextUtf8Char(path, at, one, true) : NextLogChar(path, at, one));
  }
  return out;
}

std::string ReadableUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (size_t at = 0; at < text.size();) {
    char one[4];
    out.append(one, NextLogChar(text, at, one));
  }
  return out;
}

std::string ErrnoText(int err) { return std::strerror(err); }

void SetLogSink(LogSink sink) { g_log_sink = sink; }

void SetLogFdForTesting(int fd) { g_log_fd = fd < 0 ? STDERR_FILENO : fd; }

}  // namespace shelfra
