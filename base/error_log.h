// The error log: one UTF-8 line per event on standard error, which the web server keeps in its
// own error log.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace shelfra {

// The longest line LogLine writes, its "\n" included: PIPE_BUF on Linux, so one write is
// atomic and lines of requests that share the server's log never interleave.
inline constexpr size_t kMaxLogLineSize = 4096;

// Writes one line to standard error with a single write(2):
//   "YYYY-MM-DD HH:MM:SS shelfra[<pid>]: <text>\n"   (the time in UTC)
// `text` is Shift_JIS bytes; the line is UTF-8. Tab, LF and CR in the text become "\t", "\n",
// "\r", a backslash becomes "\\", and every other control byte (below 0x20, and 0x7F) and every
// byte that does not start a Shift_JIS character becomes "\xNN" (upper-case hex), so the line
// stays one line. A line that would pass kMaxLogLineSize ends, after the last character that
// fits, with "..." instead.
// Never raises and never allocates; write errors (a closed or full standard error, a reader
// that went away) are ignored, and a SIGPIPE it causes is discarded. errno is left as it was.
void LogLine(std::string_view text);

// The UTF-8 form of the Shift_JIS `text` by LogLine's rules, escapes included, so that the
// result is one line a terminal shows as it is; nothing is cut and no prefix is added. For
// the operator's commands, which print Shift_JIS names and settings.
std::string ReadableUtf8(std::string_view text);

// A path as the operator reads it: one that is valid UTF-8 (a file found under its UTF-8
// name) as it is, any other as Shift_JIS by ReadableUtf8's rules; control bytes and "\" are
// escaped either way, so the result is readable UTF-8 in one line.
std::string ReadablePath(std::string_view path);

// LogLine for a text that is readable UTF-8 already (built with ReadablePath and ASCII words):
// it is written as it is, but for any control byte or byte that is no part of a valid UTF-8
// character, which becomes "\xNN", so the line stays one line. Cut as LogLine cuts.
void LogReadableLine(std::string_view text);

// The system's text for the errno value `err` (strerror), for the lines that say why the
// system refused.
std::string ErrnoText(int err);

// Where the lines of a request go while a FastCGI responder serves it: the request's error
// stream, which the web server writes into its error log as it does a CGI program's standard
// error. `sink` gets each whole line, its "\n" included, and must not raise; nullptr restores
// standard error.
using LogSink = void (*)(const char* line, size_t size);
void SetLogSink(LogSink sink);

// Tests: lines go to `fd` instead of standard error; -1 restores standard error. Not owned.
void SetLogFdForTesting(int fd);

}  // namespace shelfra
