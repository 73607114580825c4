// One cell of a result table as it is stored: its storage class and its value. The upload pass
// hands a row's key on in this form, so the update binds it with the type it is stored with.
#pragma once

#include <cstdint>
#include <string>

#include "catalog/StorageClass.h"

namespace catalog {

struct TCellValue {
  StorageClass type = StorageClass::Null;
  std::int64_t integer = 0;  // the value of an Integer cell
  double real = 0;           // the value of a Real cell
  std::u16string text;       // the cell read as text (TSQLiteTable::TextAt); empty for Null

  bool IsNull() const { return type == StorageClass::Null; }
};

}  // namespace catalog
