// TQuery: a dataset over the answer of one statement of the engine's SQL, its text given as
// lines; the statement is prepared once and kept until the lines change.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/strings.h"
#include "data/db_dataset.h"

namespace shelfra {

class SqlStatement;

class TQuery : public TDBDataSet {
 public:
  explicit TQuery(TComponent* owner);
  ~TQuery() override;

  const TStrings& SQL() const { return sql_; }
  // Every change closes the query and discards its prepared statement.
  void ClearSQL();
  void AddSQL(std::string line);
  void SetSQL(const TStrings& lines);

  // With ParamCheck (the default) the text is scanned for parameter markers when prepared.
  bool ParamCheck() const { return param_check_; }
  void SetParamCheck(bool check);
  bool RequestLive() const { return false; }

  // The names of the parameters found by the last preparation, in text order.
  const std::vector<std::string>& ParamNames() const { return param_names_; }
  // The text handed to the engine: the lines each followed by CR LF, markers replaced by "?".
  const std::string& StatementText() const { return statement_text_; }
  bool Prepared() const { return statement_ != nullptr; }

 protected:
  // Raises EDatabaseError "<name>: no SQL statement" without lines (or with a text shorter
  // than 2 bytes), EDBEngineError for an unknown alias or a statement the engine refuses (its
  // message names the token and its line), then EDatabaseError "<name>: parameter '<p>' has no
  // value" for the first parameter (no values can be given), then the engine's errors of
  // running it (a missing table file, an unknown field).
  void InternalOpen() override;
  void InternalClose() override;

 private:
  void Unprepare();

  TStrings sql_;
  bool param_check_ = true;
  std::vector<std::string> param_names_;
  std::string statement_text_;
  std::unique_ptr<SqlStatement> statement_;  // the prepared statement
};

// Scans `text` for parameter markers: outside quoted text (double quote, apostrophe or
// backquote flip the in-literal state) "::" becomes ":", and any other ":" starts a marker
// whose name runs to the next blank, CR, LF, ")", ",", ";" or the end; a quote inside the name
// still flips the state, and a name that begins with a quote loses its quotes. Each marker
// becomes "?" and its name is appended to `names`. Double-byte characters pass whole.
std::string ReplaceParamMarkers(std::string_view text, std::vector<std::string>& names);

}  // namespace shelfra
