// The headers of a PE image as they lie in the file (PE/COFF format: "MS-DOS Stub", "COFF File
// Header", "Optional Header", "Section Table"), mirrored field for field, and a bounds-checked
// read of one record or a table of them from a byte source.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "platform/executable/ByteSource.h"

namespace platform::executable {

// A record's bytes are copied as they are: the format is little-endian, as both targets are.
static_assert(std::endian::native == std::endian::little);

// The MS-DOS header: "MZ", and at 0x3C the file offset of the PE signature.
struct DosHeader {
  std::uint8_t magic[2];
  std::uint8_t unused[58];
  std::uint32_t peOffset;
};
static_assert(sizeof(DosHeader) == 64);

// The PE signature ("PE\0\0") and the COFF file header after it.
struct FileHeader {
  std::uint32_t signature;
  std::uint16_t machine;
  std::uint16_t numberOfSections;
  std::uint32_t timeDateStamp;
  std::uint32_t pointerToSymbolTable;
  std::uint32_t numberOfSymbols;
  std::uint16_t sizeOfOptionalHeader;
  std::uint16_t characteristics;
};
static_assert(sizeof(FileHeader) == 24);

inline constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
inline constexpr std::uint16_t kMagicPe32 = 0x10B;
inline constexpr std::uint16_t kMagicPe32Plus = 0x20B;

// The optional header of a PE32 image, up to its data directories.
struct OptionalHeader32 {
  std::uint16_t magic;
  std::uint8_t majorLinkerVersion;
  std::uint8_t minorLinkerVersion;
  std::uint32_t sizeOfCode;
  std::uint32_t sizeOfInitializedData;
  std::uint32_t sizeOfUninitializedData;
  std::uint32_t addressOfEntryPoint;
  std::uint32_t baseOfCode;
  std::uint32_t baseOfData;
  std::uint32_t imageBase;
  std::uint32_t sectionAlignment;
  std::uint32_t fileAlignment;
  std::uint16_t operatingSystemVersion[2];
  std::uint16_t imageVersion[2];
  std::uint16_t subsystemVersion[2];
  std::uint32_t win32VersionValue;
  std::uint32_t sizeOfImage;
  std::uint32_t sizeOfHeaders;
  std::uint32_t checkSum;
  std::uint16_t subsystem;
  std::uint16_t dllCharacteristics;
  std::uint32_t sizeOfStackReserve;
  std::uint32_t sizeOfStackCommit;
  std::uint32_t sizeOfHeapReserve;
  std::uint32_t sizeOfHeapCommit;
  std::uint32_t loaderFlags;
  std::uint32_t numberOfRvaAndSizes;
};
static_assert(sizeof(OptionalHeader32) == 96);

// The optional header of a PE32+ image, up to its data directories: no base of data, and the
// image base and the stack and heap sizes 64 bits wide.
struct OptionalHeader64 {
  std::uint16_t magic;
  std::uint8_t majorLinkerVersion;
  std::uint8_t minorLinkerVersion;
  std::uint32_t sizeOfCode;
  std::uint32_t sizeOfInitializedData;
  std::uint32_t sizeOfUninitializedData;
  std::uint32_t addressOfEntryPoint;
  std::uint32_t baseOfCode;
  std::uint64_t imageBase;
  std::uint32_t sectionAlignment;
  std::uint32_t fileAlignment;
  std::uint16_t operatingSystemVersion[2];
  std::uint16_t imageVersion[2];
  std::uint16_t subsystemVersion[2];
  std::uint32_t win32VersionValue;
  std::uint32_t sizeOfImage;
  std::uint32_t sizeOfHeaders;
  std::uint32_t checkSum;
  std::uint16_t subsystem;
  std::uint16_t dllCharacteristics;
  std::uint64_t sizeOfStackReserve;
  std::uint64_t sizeOfStackCommit;
  std::uint64_t sizeOfHeapReserve;
  std::uint64_t sizeOfHeapCommit;
  std::uint32_t loaderFlags;
  std::uint32_t numberOfRvaAndSizes;
};
static_assert(sizeof(OptionalHeader64) == 112);

// One data directory after the optional header; the resource tree's is the third.
struct DataDirectory {
  std::uint32_t virtualAddress;
  std::uint32_t size;
};
static_assert(sizeof(DataDirectory) == 8);
inline constexpr std::uint32_t kResourceDirectoryIndex = 2;

// One entry of the section table.
struct SectionHeader {
  std::uint8_t name[8];
  std::uint32_t virtualSize;
  std::uint32_t virtualAddress;
  std::uint32_t sizeOfRawData;
  std::uint32_t pointerToRawData;
  std::uint32_t pointerToRelocations;
  std::uint32_t pointerToLinenumbers;
  std::uint16_t numberOfRelocations;
  std::uint16_t numberOfLinenumbers;
  std::uint32_t characteristics;
};
static_assert(sizeof(SectionHeader) == 40);

// The `count` records of type `Record` stored one after another at `offset`, or nothing when
// they do not all lie inside the source.
template <typename Record>
std::optional<std::vector<Record>> recordsAt(const ByteSource& source, std::uint64_t offset, std::size_t count) {
  static_assert(std::is_trivially_copyable_v<Record>);
  std::vector<Record> records(count);
  const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(records.data()), count * sizeof(Record));
  if (!source.readAt(offset, bytes)) return std::nullopt;
  return records;
}

// The record of type `Record` at `offset`, or nothing when it does not lie inside the source.
template <typename Record>
std::optional<Record> recordAt(const ByteSource& source, std::uint64_t offset) {
  static_assert(std::is_trivially_copyable_v<Record>);
  Record record;
  if (!source.readAt(offset, std::span(reinterpret_cast<std::uint8_t*>(&record), sizeof record))) return std::nullopt;
  return record;
}

}  // namespace platform::executable
