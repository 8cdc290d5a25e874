// The catalogue schema. The field names live in res/messages.txt (kBookField0..40).
#include "data/catalogue_schema.h"

#include "data_res.h"

namespace shelfra {

namespace {

using T = TFieldType;

struct Def {
  std::string_view name;
  TFieldType type;
  int size;
};

namespace r = res::data;

constexpr Def kBookFields[] = {
    {r::kBookField0, T::ftDate, 0},      {r::kBookField1, T::ftFloat, 0},     {r::kBookField2, T::ftString, 254},
    {r::kBookField3, T::ftString, 254},  {r::kBookField4, T::ftString, 254},  {r::kBookField5, T::ftString, 254},
    {r::kBookField6, T::ftString, 80},   {r::kBookField7, T::ftString, 254},  {r::kBookField8, T::ftString, 38},
    {r::kBookField9, T::ftString, 58},   {r::kBookField10, T::ftString, 40},  {r::kBookField11, T::ftString, 10},
    {r::kBookField12, T::ftString, 40},  {r::kBookField13, T::ftFloat, 0},    {r::kBookField14, T::ftString, 10},
    {r::kBookField15, T::ftSmallint, 0}, {r::kBookField16, T::ftString, 7},   {r::kBookField17, T::ftString, 4},
    {r::kBookField18, T::ftString, 4},   {r::kBookField19, T::ftString, 20},  {r::kBookField20, T::ftString, 20},
    {r::kBookField21, T::ftString, 20},  {r::kBookField22, T::ftString, 20},  {r::kBookField23, T::ftString, 254},
    {r::kBookField24, T::ftString, 20},  {r::kBookField25, T::ftBoolean, 0},  {r::kBookField26, T::ftString, 20},
    {r::kBookField27, T::ftBoolean, 0},  {r::kBookField28, T::ftDate, 0},     {r::kBookField29, T::ftFloat, 0},
    {r::kBookField30, T::ftBoolean, 0},  {r::kBookField31, T::ftString, 20},  {r::kBookField32, T::ftBoolean, 0},
    {r::kBookField33, T::ftString, 254}, {r::kBookField34, T::ftString, 20},  {r::kBookField35, T::ftString, 6},
    {r::kBookField36, T::ftString, 11},  {r::kBookField37, T::ftString, 8},   {r::kBookField38, T::ftBoolean, 0},
    {r::kBookField39, T::ftBoolean, 0},  {r::kBookField40, T::ftString, 20},
};

}  // namespace

std::string_view CatalogueAlias() { return res::data::kCatalogueAlias; }
std::string_view BookTableName() { return res::data::kBookTableName; }
std::string_view LendingTableName() { return res::data::kLendingTableName; }
std::string_view LendingFilter() { return res::data::kLendingFilter; }

std::vector<TFieldDef> BookTableFieldDefs() {
  std::vector<TFieldDef> defs;
  defs.reserve(std::size(kBookFields));
  for (const Def& d : kBookFields) defs.push_back(TFieldDef{std::string(d.name), d.type, d.size});
  return defs;
}

}  // namespace shelfra
