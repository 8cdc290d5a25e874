// The catalogue's schema as data: the alias, the two table files, the lending filter and the
// stored field definitions of the book table.
#pragma once

#include <string_view>
#include <vector>

#include "data/field_def.h"

namespace shelfra {

// The database alias of the catalogue ("Vadoz").
std::string_view CatalogueAlias();
// File names of the book table and the lending table (Shift_JIS).
std::string_view BookTableName();
std::string_view LendingTableName();
// The lending table's filter: only loans not yet returned.
std::string_view LendingFilter();

// The 41 stored fields of the book table, in table order (the registration number at
// position 1). Names are Shift_JIS.
std::vector<TFieldDef> BookTableFieldDefs();

}  // namespace shelfra
