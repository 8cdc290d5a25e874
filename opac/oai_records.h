// The harvesting interface's records: the repository as one request sees it, a book's header
// and oai_dc record, and the answers that read books (GetRecord, ListIdentifiers, ListRecords,
// ListMetadataFormats of one item).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "opac/freshness.h"
#include "opac/oai_text.h"

namespace shelfra::opac {

// The most records (or headers) one list answer holds.
inline constexpr int kHarvestPageSize = 100;

// The one metadata format: its prefix, schema and namespace.
inline constexpr std::string_view kDcPrefix = "oai_dc";
inline constexpr std::string_view kDcSchema = "http://www.openarchives.org/OAI/2.0/oai_dc.xsd";
inline constexpr std::string_view kDcNamespace = "http://www.openarchives.org/OAI/2.0/oai_dc/";

// The repository as one request sees it.
struct Repository {
  std::string base_url;    // origin, script name and "/oai" (not escaped)
  std::string pages;       // origin and script name, the base of the books' page addresses
  std::string identifier;  // the <repository> of "oai:<repository>:<number>"
  bool sets = true;        // the ten classes are sets
  std::vector<std::string> class_names;  // UTF-8 as the settings give them, class 0 first
  RecordsState state;      // every record's datestamp is state.changed
};

// What a verb answers: its element, or one of the protocol's errors.
struct Reply {
  std::string error;    // the error code ("badArgument", ...); empty when `xml` is the answer
  std::string message;  // the error's text, ASCII
  std::string xml;      // the verb's element, escaped
};
Reply ErrorReply(std::string_view code, std::string_view message);

// The checked arguments of ListIdentifiers and ListRecords: a resumption token alone, or the
// rest (the prefix one this repository disseminates, the set one it has).
struct ListRequest {
  std::optional<std::string> token;
  std::string prefix;
  int set = -1;  // the class digit of the set asked for; -1 for none
  std::optional<UtcArgument> from, until;
};

// GetRecord of `identifier` in `prefix`: cannotDisseminateFormat for another prefix than
// oai_dc, idDoesNotExist for an identifier that names no book of the catalogue. Raises what
// the catalogue service raises.
Reply GetRecordReply(const Repository& repository, std::string_view identifier, std::string_view prefix);

// ListIdentifiers (records false) or ListRecords: the books in the book table's order, at most
// kHarvestPageSize of them, from the record the token names, then a resumption token when more
// follow. Errors: badResumptionToken (not one this program wrote, or the records' state has
// changed since), noRecordsMatch (the datestamp outside from and
// until, or no book in the set). A page reads the books it lists and one more, never the
// books before it; the first page counts the list once with the search. Raises what the
// catalogue service raises.
Reply ListReply(const Repository& repository, const ListRequest& request, bool records);

// ListMetadataFormats, of the whole repository or of the item `identifier` names:
// idDoesNotExist when it names no book, noMetadataFormats for a withdrawn book (its records are
// deleted in every format). Raises what the catalogue service raises.
Reply MetadataFormatsReply(const Repository& repository, const std::optional<std::string>& identifier);

}  // namespace shelfra::opac
