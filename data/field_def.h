// TFieldDef: one stored field definition of a table - the structure the system expects to find.
#pragma once

#include <string>

#include "data/field.h"

namespace shelfra {

struct TFieldDef {
  std::string name;
  TFieldType type = TFieldType::ftUnknown;
  int size = 0;  // bytes of a string field; 0 for the other types
  bool operator==(const TFieldDef&) const = default;
};

}  // namespace shelfra
