// A small PE writer for tests: DOS header, PE header, optional header (PE32 or PE32+), a code
// section, an optional filler section and a resource section holding a three-level tree.
#include "tests/support/PeWriter.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "tests/support/PngEncoder.h"

namespace testsupport {
namespace {

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

void appendU16(std::string& s, std::uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}
void appendU32(std::string& s, std::uint32_t v) {
  appendU16(s, static_cast<std::uint16_t>(v));
  appendU16(s, static_cast<std::uint16_t>(v >> 16));
}
void appendU64(std::string& s, std::uint64_t v) {
  appendU32(s, static_cast<std::uint32_t>(v));
  appendU32(s, static_cast<std::uint32_t>(v >> 32));
}
void padTo(std::string& s, std::size_t alignment) {
  while (s.size() % alignment != 0) s.push_back('\0');
}

std::uint64_t rowBytes(int width, int bits) { return (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4; }

void setBit(std::string& s, std::size_t byteAt, int bitInByte) {
  s[byteAt] = static_cast<char>(static_cast<std::uint8_t>(s[byteAt]) | (0x80 >> bitInByte));
}

// A version block: length, value length, type (1 text, 0 binary), key, padding, value, padding,
// children.
std::string versionBlock(const std::u16string& key, const std::string& value, std::uint16_t valueLength, bool text,
                         const std::vector<std::string>& children) {
  std::string block(6, '\0');
  for (char16_t c : key) appendU16(block, c);
  appendU16(block, 0);
  padTo(block, 4);
  block += value;
  for (const std::string& child : children) {
    padTo(block, 4);
    block += child;
  }
  putU16(block, 0, static_cast<std::uint16_t>(block.size()));
  putU16(block, 2, valueLength);
  putU16(block, 4, text ? 1 : 0);
  return block;
}

void appendBigEndianU32(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}

}  // namespace

std::string pngHeader(std::uint32_t width, std::uint32_t height) {
  std::string header;
  appendBigEndianU32(header, width);
  appendBigEndianU32(header, height);
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, adaptive filters, not interlaced
  return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IEND", "");
}

void putU16(std::string& bytes, std::uint64_t at, std::uint16_t value) {
  bytes.at(at) = static_cast<char>(value & 0xFF);
  bytes.at(at + 1) = static_cast<char>(value >> 8);
}

void putU32(std::string& bytes, std::uint64_t at, std::uint32_t value) {
  putU16(bytes, at, static_cast<std::uint16_t>(value));
  putU16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::string bmpIconImage(int width, int height, int bits, const std::vector<std::uint32_t>& palette,
                         const std::vector<std::uint32_t>& pixels, const std::vector<std::uint8_t>& mask) {
  const std::size_t count = static_cast<std::size_t>(width) * height;
  if (pixels.size() != count || (!mask.empty() && mask.size() != count)) throw std::invalid_argument("pixel count");
  const std::uint64_t xorRow = rowBytes(width, bits);
  const std::uint64_t andRow = rowBytes(width, 1);
  std::string image;
  appendU32(image, 40);
  appendU32(image, static_cast<std::uint32_t>(width));
  appendU32(image, static_cast<std::uint32_t>(height * 2));
  appendU16(image, 1);
  appendU16(image, static_cast<std::uint16_t>(bits));
  appendU32(image, 0);
  appendU32(image, static_cast<std::uint32_t>((xorRow + andRow) * height));
  appendU32(image, 0);
  appendU32(image, 0);
  appendU32(image, 0);
  appendU32(image, 0);
  if (bits <= 8) {
    for (std::size_t i = 0; i < (1u << bits); ++i) appendU32(image, i < palette.size() ? palette[i] & 0xFFFFFF : 0);
  }
  const std::size_t xorAt = image.size();
  image.resize(xorAt + xorRow * height + andRow * height, '\0');
  const std::size_t andAt = xorAt + xorRow * height;
  for (int y = 0; y < height; ++y) {
    const std::size_t row = xorAt + xorRow * (height - 1 - y);
    const std::size_t maskRow = andAt + andRow * (height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
      switch (bits) {
        case 1:
          if (p & 1) setBit(image, row + x / 8, x % 8);
          break;
        case 4:
          image[row + x / 2] = static_cast<char>(static_cast<std::uint8_t>(image[row + x / 2]) | ((p & 0xF) << (x % 2 ? 0 : 4)));
          break;
        case 8: image[row + x] = static_cast<char>(p); break;
        case 24:
          for (int c = 0; c < 3; ++c) image[row + x * 3 + c] = static_cast<char>(p >> (8 * c));
          break;
        default:
          for (int c = 0; c < 4; ++c) image[row + x * 4 + c] = static_cast<char>(p >> (8 * c));
      }
      if (!mask.empty() && mask[static_cast<std::size_t>(y) * width + x]) setBit(image, maskRow + x / 8, x % 8);
    }
  }
  return image;
}

std::string iconGroup(const std::vector<IconDirEntry>& entries) {
  std::string group;
  appendU16(group, 0);
  appendU16(group, 1);
  appendU16(group, static_cast<std::uint16_t>(entries.size()));
  for (const IconDirEntry& e : entries) {
    group.push_back(static_cast<char>(e.width & 0xFF));
    group.push_back(static_cast<char>(e.height & 0xFF));
    group.push_back(static_cast<char>(e.colours));
    group.push_back('\0');
    appendU16(group, e.planes);
    appendU16(group, e.bitCount);
    appendU32(group, e.bytes);
    appendU16(group, e.id);
  }
  return group;
}

std::string icoFile(std::vector<IconDirEntry> entries, const std::vector<std::string>& images) {
  std::string file;
  appendU16(file, 0);
  appendU16(file, 1);
  appendU16(file, static_cast<std::uint16_t>(entries.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const IconDirEntry& e = entries[i];
    const std::uint32_t size = static_cast<std::uint32_t>(images.at(i).size());
    file.push_back(static_cast<char>(e.width & 0xFF));
    file.push_back(static_cast<char>(e.height & 0xFF));
    file.push_back(static_cast<char>(e.colours));
    file.push_back('\0');
    appendU16(file, e.planes);
    appendU16(file, e.bitCount);
    appendU32(file, size);
    appendU32(file, offset);
    offset += size;
  }
  for (const std::string& image : images) file += image;
  return file;
}

std::string versionResource(std::uint32_t fileVersionHigh, std::uint32_t fileVersionLow,
                            const std::u16string& fileVersionText) {
  std::string fixed;
  appendU32(fixed, 0xFEEF04BD);  // signature
  appendU32(fixed, 0x00010000);  // structure version
  appendU32(fixed, fileVersionHigh);
  appendU32(fixed, fileVersionLow);
  appendU32(fixed, 0x00090008);  // product version: deliberately different from the file version
  appendU32(fixed, 0x00070006);
  for (int i = 0; i < 7; ++i) appendU32(fixed, i == 4 ? 0x00040004 : i == 5 ? 1 : 0);  // mask, flags, OS, type...
  std::string text;
  for (char16_t c : fileVersionText) appendU16(text, c);
  appendU16(text, 0);
  const std::string value = versionBlock(u"FileVersion", text, static_cast<std::uint16_t>(fileVersionText.size() + 1),
                                         true, {});
  const std::string table = versionBlock(u"040904B0", "", 0, true, {value});
  const std::string strings = versionBlock(u"StringFileInfo", "", 0, true, {table});
  return versionBlock(u"VS_VERSION_INFO", fixed, static_cast<std::uint16_t>(fixed.size()), false, {strings});
}

void PeWriter::add(std::uint32_t type, std::uint32_t id, const std::string& data, std::uint16_t language) {
  resources_.push_back({type, false, id, {}, language, data});
}

void PeWriter::addNamed(std::uint32_t type, const std::u16string& name, const std::string& data,
                        std::uint16_t language) {
  resources_.push_back({type, true, 0, name, language, data});
}

std::string PeWriter::build() {
  std::ostringstream out;
  write(out);
  return out.str();
}

void PeWriter::writeTo(const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  write(out);
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void PeWriter::write(std::ostream& out) {
  layout_ = {};
  // Group the resources: types, names within a type, languages within a name; then each level in
  // the order resource compilers store it.
  struct Name {
    std::size_t first;  // resource index that introduced it
    std::vector<std::size_t> languages;
  };
  struct Type {
    std::uint32_t id;
    std::vector<Name> names;
  };
  std::vector<Type> types;
  for (std::size_t i = 0; i < resources_.size(); ++i) {
    const Resource& r = resources_[i];
    auto type = std::find_if(types.begin(), types.end(), [&](const Type& t) { return t.id == r.type; });
    if (type == types.end()) type = types.insert(types.end(), Type{r.type, {}});
    auto name = std::find_if(type->names.begin(), type->names.end(), [&](const Name& n) {
      const Resource& o = resources_[n.first];
      return o.named == r.named && (r.named ? o.name == r.name : o.id == r.id);
    });
    if (name == type->names.end()) name = type->names.insert(type->names.end(), Name{i, {}});
    name->languages.push_back(i);
  }
  std::sort(types.begin(), types.end(), [](const Type& a, const Type& b) { return a.id < b.id; });
  for (Type& t : types) {
    std::stable_sort(t.names.begin(), t.names.end(), [&](const Name& a, const Name& b) {
      const Resource& x = resources_[a.first];
      const Resource& y = resources_[b.first];
      if (x.named != y.named) return x.named;
      return x.named ? x.name < y.name : x.id < y.id;
    });
    for (Name& n : t.names) {
      std::stable_sort(n.languages.begin(), n.languages.end(),
                       [&](std::size_t a, std::size_t b) { return resources_[a].language < resources_[b].language; });
    }
  }

  // Offsets inside the section: directories, data entries, name strings, data.
  std::uint32_t at = 16 + 8 * static_cast<std::uint32_t>(types.size());
  std::vector<std::uint32_t> typeDirAt, langDirAt;
  for (const Type& t : types) {
    typeDirAt.push_back(at);
    at += 16 + 8 * static_cast<std::uint32_t>(t.names.size());
  }
  for (const Type& t : types) {
    for (const Name& n : t.names) {
      langDirAt.push_back(at);
      at += 16 + 8 * static_cast<std::uint32_t>(n.languages.size());
    }
  }
  std::vector<std::uint32_t> dataEntryAt(resources_.size()), nameStringAt(resources_.size()), dataAt(resources_.size());
  for (std::size_t i = 0; i < resources_.size(); ++i, at += 16) dataEntryAt[i] = at;
  for (std::size_t i = 0; i < resources_.size(); ++i) {
    if (!resources_[i].named) continue;
    nameStringAt[i] = at;
    at += 2 + 2 * static_cast<std::uint32_t>(resources_[i].name.size());
  }
  for (std::size_t i = 0; i < resources_.size(); ++i) {
    at = static_cast<std::uint32_t>(alignUp(at, 8));
    dataAt[i] = at;
    at += static_cast<std::uint32_t>(resources_[i].data.size());
  }
  const std::uint32_t resourceSize = at;

  // Section placement.
  const std::uint32_t sectionCount = filler_ > 0 ? 3 : 2;
  const std::uint32_t optionalSize = pe32Plus_ ? 240 : 224;
  const std::uint32_t peAt = 0x80;
  const std::uint32_t headersSize =
      static_cast<std::uint32_t>(alignUp(peAt + 24 + optionalSize + 40 * sectionCount, kFileAlignment));
  struct SectionPlan {
    const char* name;
    std::uint32_t va;
    std::uint64_t virtualSize, rawSize, rawAt;
    std::uint32_t characteristics;
  };
  std::vector<SectionPlan> sections;
  std::uint64_t va = kSectionAlignment, raw = headersSize;
  auto place = [&](const char* name, std::uint64_t size, std::uint32_t characteristics) {
    sections.push_back({name, static_cast<std::uint32_t>(va), size, alignUp(size, kFileAlignment), raw, characteristics});
    va += alignUp(std::max<std::uint64_t>(size, 1), kSectionAlignment);
    raw += alignUp(size, kFileAlignment);
  };
  place(".text", 16, 0x60000020);
  if (filler_ > 0) place(".data", filler_, 0xC0000040);
  place(".rsrc", resourceSize, 0x40000040);
  const SectionPlan& rsrc = sections.back();
  const std::uint32_t rsrcVa = rsrc.va;

  std::string section(resourceSize, '\0');
  auto putDirectoryHeader = [&](std::uint32_t dirAt, std::uint16_t named, std::uint16_t ids) {
    putU16(section, dirAt + 12, named);
    putU16(section, dirAt + 14, ids);
  };
  putDirectoryHeader(0, 0, static_cast<std::uint16_t>(types.size()));
  std::size_t langDirIndex = 0;
  layout_.nameEntry.resize(resources_.size());
  layout_.languageDirectory.resize(resources_.size());
  layout_.languageEntry.resize(resources_.size());
  layout_.dataEntry.resize(resources_.size());
  layout_.data.resize(resources_.size());
  for (std::size_t ti = 0; ti < types.size(); ++ti) {
    const Type& t = types[ti];
    putU32(section, 16 + 8 * ti, t.id);
    putU32(section, 16 + 8 * ti + 4, 0x80000000u | typeDirAt[ti]);
    std::uint16_t named = 0;
    for (const Name& n : t.names) named += resources_[n.first].named ? 1 : 0;
    putDirectoryHeader(typeDirAt[ti], named, static_cast<std::uint16_t>(t.names.size() - named));
    for (std::size_t ni = 0; ni < t.names.size(); ++ni, ++langDirIndex) {
      const Name& n = t.names[ni];
      const Resource& first = resources_[n.first];
      const std::uint32_t entryAt = typeDirAt[ti] + 16 + 8 * static_cast<std::uint32_t>(ni);
      putU32(section, entryAt, first.named ? (0x80000000u | nameStringAt[n.first]) : first.id);
      putU32(section, entryAt + 4, 0x80000000u | langDirAt[langDirIndex]);
      putDirectoryHeader(langDirAt[langDirIndex], 0, static_cast<std::uint16_t>(n.languages.size()));
      for (std::size_t li = 0; li < n.languages.size(); ++li) {
        const std::size_t r = n.languages[li];
        const std::uint32_t langAt = langDirAt[langDirIndex] + 16 + 8 * static_cast<std::uint32_t>(li);
        putU32(section, langAt, resources_[r].language);
        putU32(section, langAt + 4, dataEntryAt[r]);
        layout_.nameEntry[r] = rsrc.rawAt + entryAt;
        layout_.languageDirectory[r] = rsrc.rawAt + langDirAt[langDirIndex];
        layout_.languageEntry[r] = rsrc.rawAt + langAt;
      }
    }
    layout_.typeDirectory.push_back(rsrc.rawAt + typeDirAt[ti]);
  }
  for (std::size_t i = 0; i < resources_.size(); ++i) {
    const Resource& r = resources_[i];
    putU32(section, dataEntryAt[i], rsrcVa + dataAt[i]);
    putU32(section, dataEntryAt[i] + 4, static_cast<std::uint32_t>(r.data.size()));
    if (r.named) {
      putU16(section, nameStringAt[i], static_cast<std::uint16_t>(r.name.size()));
      for (std::size_t c = 0; c < r.name.size(); ++c) putU16(section, nameStringAt[i] + 2 + 2 * c, r.name[c]);
    }
    std::copy(r.data.begin(), r.data.end(), section.begin() + dataAt[i]);
    layout_.dataEntry[i] = rsrc.rawAt + dataEntryAt[i];
    layout_.data[i] = rsrc.rawAt + dataAt[i];
  }
  section.resize(rsrc.rawSize, '\0');

  // Headers.
  std::string headers(peAt, '\0');
  headers[0] = 'M';
  headers[1] = 'Z';
  putU32(headers, 0x3C, peAt);
  headers += std::string("PE\0\0", 4);
  appendU16(headers, pe32Plus_ ? 0x8664 : 0x014C);  // machine
  appendU16(headers, static_cast<std::uint16_t>(sectionCount));
  appendU32(headers, 0x5F000000);  // time stamp
  appendU32(headers, 0);
  appendU32(headers, 0);
  appendU16(headers, static_cast<std::uint16_t>(optionalSize));
  appendU16(headers, pe32Plus_ ? 0x0022 : 0x0102);  // executable; large-address aware or 32-bit
  layout_.optionalHeader = headers.size();
  const std::uint64_t imageSize = va;
  std::string opt;
  appendU16(opt, pe32Plus_ ? 0x20B : 0x10B);
  appendU16(opt, 0x000E);                      // linker version
  appendU32(opt, kFileAlignment);              // size of code
  appendU32(opt, static_cast<std::uint32_t>(raw - headersSize - kFileAlignment));  // initialised data
  appendU32(opt, 0);
  appendU32(opt, sections[0].va);              // entry point
  appendU32(opt, sections[0].va);              // base of code
  if (pe32Plus_) {
    appendU64(opt, 0x140000000ull);
  } else {
    appendU32(opt, sections[1].va);            // base of data
    appendU32(opt, 0x00400000);
  }
  appendU32(opt, kSectionAlignment);
  appendU32(opt, kFileAlignment);
  appendU16(opt, 6); appendU16(opt, 0);        // OS version
  appendU16(opt, 0); appendU16(opt, 0);        // image version
  appendU16(opt, 6); appendU16(opt, 0);        // subsystem version
  appendU32(opt, 0);
  appendU32(opt, static_cast<std::uint32_t>(imageSize));
  appendU32(opt, headersSize);
  appendU32(opt, 0);                           // checksum
  appendU16(opt, 2);                           // GUI subsystem
  appendU16(opt, 0x8140);                      // DLL characteristics
  for (int i = 0; i < 4; ++i) {
    if (pe32Plus_) appendU64(opt, 0x100000);
    else appendU32(opt, 0x100000);
  }
  appendU32(opt, 0);                           // loader flags
  appendU32(opt, 16);                          // number of data directories
  for (int i = 0; i < 16; ++i) {
    const bool resources = i == 2 && !omitResources_;
    appendU32(opt, resources ? rsrcVa : 0);
    appendU32(opt, resources ? resourceSize : 0);
  }
  headers += opt;
  layout_.sectionTable = headers.size();
  for (const SectionPlan& s : sections) {
    std::string name(s.name);
    name.resize(8, '\0');
    headers += name;
    appendU32(headers, static_cast<std::uint32_t>(s.virtualSize));
    appendU32(headers, s.va);
    appendU32(headers, static_cast<std::uint32_t>(s.rawSize));
    appendU32(headers, static_cast<std::uint32_t>(s.rawAt));
    appendU32(headers, 0);
    appendU32(headers, 0);
    appendU32(headers, 0);
    appendU32(headers, s.characteristics);
  }
  headers.resize(headersSize, '\0');
  layout_.peHeader = peAt;
  layout_.resourceSection = rsrc.rawAt;
  layout_.resourceRva = rsrcVa;

  out.write(headers.data(), static_cast<std::streamsize>(headers.size()));
  std::string code(kFileAlignment, '\0');
  code[0] = static_cast<char>(0xC3);  // ret
  out.write(code.data(), static_cast<std::streamsize>(code.size()));
  if (filler_ > 0) {
    const std::string chunk(1 << 20, static_cast<char>(0x5A));
    for (std::uint64_t left = sections[1].rawSize; left > 0;) {
      const std::uint64_t n = std::min<std::uint64_t>(left, chunk.size());
      out.write(chunk.data(), static_cast<std::streamsize>(n));
      left -= n;
    }
  }
  out.write(section.data(), static_cast<std::streamsize>(section.size()));
  layout_.fileSize = rsrc.rawAt + rsrc.rawSize;
}

void writeIconExecutable(const std::filesystem::path& path, int side, const std::vector<std::uint32_t>& pixels,
                         std::uint32_t versionHigh, std::uint32_t versionLow, const std::u16string& versionText) {
  const std::string image = bmpIconImage(side, side, 32, {}, pixels);
  IconDirEntry entry;
  entry.width = entry.height = side;
  entry.bytes = static_cast<std::uint32_t>(image.size());
  PeWriter writer;
  writer.add(3, 1, image);
  writer.add(14, 1, iconGroup({entry}));
  writer.add(16, 1, versionResource(versionHigh, versionLow, versionText));
  writer.writeTo(path);
}

}  // namespace testsupport
