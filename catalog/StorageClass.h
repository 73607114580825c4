// The storage class of an SQLite value: the one tag for the type of a cell, the kind of a result
// column and the kind of a bound parameter. SQLite's own type codes are mapped to it by name
// (TSQLiteTable.cpp), never cast.
#pragma once

#include <cstdint>

namespace catalog {

enum class StorageClass : std::uint8_t { Null, Integer, Real, Text, Blob };

}  // namespace catalog
