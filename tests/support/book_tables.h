// Test helper: book tables shared by the tests of the engine, the dataset layer and the
// catalogue: a small hand-written one and a large random one.
#pragma once

#include <string>
#include <vector>

#include "tests/support/dbf_builder.h"

namespace shelfra::testing {

// Eleven books (one deleted) with the fields the search statement reads: 登録番号, 著者名,
// 著者名ｶﾅ, 書名, 書名ｶﾅ, 注記, 叢書名, 叢書名ｶﾅ, 分類記号, 件名, 内容紹介.
DbfBuilder SmallBookTable();

// `records` books (about a tenth deleted) whose searched fields hold random runs of pieces that fold,
// sort and match in tricky ways, with many equal title readings, class codes that share
// prefixes, a registration number and a field no index holds (出版者).
DbfBuilder RandomBookTable(unsigned seed, int records = 400);

// A field of the catalogue writer's schema, its name in UTF-8.
struct SchemaField {
  std::string name;
  char type;
  int length;
  int decimals;
};
// The fields of tools/catalogue/schema/<file> (name,type,length,decimals), found through
// SHELFRA_SOURCE_DIR; empty when the file cannot be read.
std::vector<SchemaField> WriterSchema(const std::string& file);

}  // namespace shelfra::testing
