// The harvesting interface's texts: XML escaping, UTC datestamps, sets, item identifiers and
// resumption tokens, each written and read back by one rule.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "opac/xml.h"

namespace shelfra::opac {

// Appends <name>text</name> to `xml`, the text XmlEscape'd; nothing for an empty text.
void AppendElement(std::string& xml, std::string_view name, std::string_view utf8);

// `time` as a datestamp of seconds granularity: "2026-12-01T09:30:00Z".
inline std::string UtcDatestamp(std::time_t time) { return Rfc3339(time); }

// A from or until argument: the first and the last second it names (a day names 00:00:00 to
// 23:59:59 of that day, a time names one second) and whether it was written as a day.
struct UtcArgument {
  std::time_t first = 0;
  std::time_t last = 0;
  bool day = false;
};
// "YYYY-MM-DD" or "YYYY-MM-DDThh:mm:ssZ" exactly, a real calendar day and time of day;
// nothing for any other text.
std::optional<UtcArgument> ParseUtcArgument(std::string_view text);

// The set of class `digit`: "class0" ... "class9". Requires: 0 <= digit <= 9.
std::string ClassSet(int digit);
// The class digit of the set named `set`; nothing for any other text.
std::optional<int> ClassOfSet(std::string_view set);
// The class digit of a book whose class code is `class_code`: its first byte when that is an
// ASCII digit (as the result list counts classes); nothing otherwise.
std::optional<int> ClassDigit(std::string_view class_code);

// The item identifier of book `number`: "oai:<repository>:<number>".
std::string ItemIdentifier(std::string_view repository, int32_t number);
// The registration number `text` writes as an item identifier does: a positive number below
// 2^31 in decimal, without a leading zero (ten digits too, which a number field may hold);
// nothing for any other text.
std::optional<int32_t> ItemNumber(std::string_view text);
// The registration number `identifier` names in `repository`: "oai:<repository>:" and an
// ItemNumber; nothing for any other text.
std::optional<int32_t> NumberOfIdentifier(std::string_view identifier, std::string_view repository);

// Whether `name` has the domain form the oai-identifier description asks for: a repository
// identifier (RepositoryIdentifierValue) of at least two labels, each starting with a letter.
bool DomainIdentifier(std::string_view name);

// Where a list stops and goes on: what its first request asked and where the next page starts.
struct ListToken {
  std::string tag;          // the records' state the list was taken from (HarvestState)
  std::string prefix;       // metadataPrefix
  int set = -1;             // class digit, -1 for every book
  std::optional<int64_t> from, until;  // the first and last datestamp second asked for
  int64_t record = 0;       // the book table record the next page starts at
  int64_t cursor = 0;       // the records listed before the next page
  int64_t size = 0;         // completeListSize
};
// The token as text: fields joined by ".", made of ASCII letters, digits, "_", "-" and ".",
// so it needs no escaping in a query or in XML.
std::string TokenText(const ListToken& token);
// The token `text` spells; nothing when it is not a text TokenText writes (any other field
// count, a tag that is not 16 hex digits, a prefix with other bytes, a set that is no class
// set, a number that does not read back the same).
std::optional<ListToken> ParseToken(std::string_view text);

// The subject headings of a book's subject field: the pieces between ";" and the full-width semicolon
// (U+FF1B), without the ASCII and full-width blanks around them, empty ones left out.
std::vector<std::string> SubjectHeadings(std::string_view utf8);

}  // namespace shelfra::opac
