// TQuery: statement lines, parameter markers, preparation and the answer cursor.
#include "data/query.h"

#include "base/format.h"
#include "base/text.h"
#include "data/database.h"
#include "data/engine_error.h"
#include "engine/dbf_file.h"
#include "engine/search_index.h"
#include "engine/sql_statement.h"
#include "data_res.h"

namespace shelfra {

namespace {

// An answer holding at least one book in this many is listed from the index's shown rows.
constexpr size_t kShownRowsShare = 32;

bool IsQuote(char c) { return c == '"' || c == '\'' || c == '`'; }

bool EndsMarkerName(char c) { return c == ' ' || c == '\r' || c == '\n' || c == ')' || c == ',' || c == ';'; }

}  // namespace

std::string ReplaceParamMarkers(std::string_view text, std::vector<std::string>& names) {
  std::string out;
  out.reserve(text.size());
  // The quote character that opened the quoted text we are in; 0 outside quoted text. Only
  // the same character closes it, so an apostrophe inside a double-quoted search word (as in
  // "Children's: stories") neither ends the constant nor lets a colon become a marker.
  char open_quote = 0;
  auto track = [&open_quote](char quote) {
    if (open_quote == 0) {
      open_quote = quote;
    } else if (open_quote == quote) {
      open_quote = 0;
    }
  };
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    if (SjisPairAt(text, i)) {
      out.append(text, i, 2);
      i += 2;
    } else if (IsQuote(c)) {
      track(c);
      out += c;
      ++i;
    } else if (c == ':' && open_quote == 0) {
      if (i + 1 < n && text[i + 1] == ':') {
        out += ':';
        i += 2;
        continue;
      }
      size_t start = ++i;
      while (i < n && !EndsMarkerName(text[i])) {
        if (SjisPairAt(text, i)) {
          i += 2;
        } else {
          if (IsQuote(text[i])) track(text[i]);
          ++i;
        }
      }
      std::string_view name = text.substr(start, i - start);
      if (!name.empty() && IsQuote(name.front())) {
        char quote = name.front();
        name.remove_prefix(1);
        if (!name.empty() && name.back() == quote) name.remove_suffix(1);
      }
      names.emplace_back(name);
      out += '?';
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

TQuery::TQuery(TComponent* owner) : TDBDataSet(owner) {}

TQuery::~TQuery() { Close(); }

void TQuery::ClearSQL() {
  Close();
  Unprepare();
  sql_.Clear();
}

void TQuery::AddSQL(std::string line) {
  Close();
  Unprepare();
  sql_.Add(std::move(line));
}

void TQuery::SetSQL(const TStrings& lines) {
  Close();
  Unprepare();
  sql_.Assign(lines);
}

void TQuery::SetParamCheck(bool check) {
  if (check == param_check_) return;
  Close();
  Unprepare();
  param_check_ = check;
}

void TQuery::Unprepare() {
  statement_.reset();
  param_names_.clear();
  statement_text_.clear();
}

void TQuery::InternalOpen() {
  if (sql_.Empty()) DatabaseError(res::data::kNoSql);
  TDatabase& database = AcquireDatabase();
  if (statement_ == nullptr) {
    param_names_.clear();
    std::string text = sql_.Text();  // every line followed by CR LF
    statement_text_ = param_check_ ? ReplaceParamMarkers(text, param_names_) : std::move(text);
    if (statement_text_.size() < 2) DatabaseError(res::data::kNoSql);
    CheckEngine(SqlStatement::Prepare(statement_text_, statement_));
  }
  if (!param_names_.empty()) DatabaseError(Format(res::data::kParamNoValue, {param_names_.front()}));
  std::string file_name;
  CheckEngine(DbfTableFileName(statement_->TableName(), false, file_name));
  const DbfFile& file = database.OpenTableFile(file_name);
  std::vector<uint32_t> answer;
  TShownRows shown;
  shown.index = database.SearchIndexFor(file);
  CheckEngine(statement_->Execute(file, shown.index.get(), answer, nullptr, &shown.ordinals));
  database.CheckIndex(file);
  CheckEngine(file.CheckIntact());  // an answer read from pages the file no longer has is no answer
  // The shown rows serve an answer holding a good share of the books, whose rows lie close
  // together in the index; the few rows of a rare word cost less read from the table, one
  // read each, than found in the index.
  // The ordinals are there when the index answered.
  if (!shown.ordinals.empty() && answer.size() * kShownRowsShare >= shown.index->LiveCount()) {
    shown.on_damaged = [&database, &file] { database.CheckIndex(file); };
  } else {
    shown = TShownRows{};
  }
  OpenCursor(file, std::move(answer), false, std::move(shown));
}

void TQuery::InternalClose() {
  CloseCursor();
  ReleaseDatabase();
}

}  // namespace shelfra
