// A reader of the single-image ICO files both builds write, for comparing them picture by
// picture: every field checked against the file's size, pixels decoded to 0xAARRGGBB (top row
// first) with the AND mask beside them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wintest {

struct IcoImage {
  bool valid = false;
  std::string problem;              // why it is not a valid single-image ICO
  int width = 0;                    // from the bitmap header
  int height = 0;                   // half the header's height (colour rows; the mask has as many)
  int bitCount = 0;                 // of the bitmap header
  int entryWord = 0;                // the entry's 16 bits at offset 2: planes x bit count as both builds write it
  std::vector<std::uint32_t> argb;  // palette colours for 1/4/8 bits (alpha 0 as stored), else as stored
  std::vector<std::uint8_t> mask;   // 1 = transparent
};

IcoImage decodeIco(const std::string& bytes);

}  // namespace wintest
