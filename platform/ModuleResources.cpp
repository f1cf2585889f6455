#include "platform/ModuleResources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Coding.h"
#include "platform/UniqueFd.h"

namespace simdex {
namespace {

// A resource table larger than this is taken as a damaged file rather than
// allocated: real tables hold a few kilobytes of text.
constexpr std::uint64_t kMaxTableSize = 64u << 20;

// ELF64 layout constants.
constexpr unsigned char kElfMagic[4] = {0x7f, 'E', 'L', 'F'};
constexpr std::size_t kElfHeaderSize = 64;
constexpr std::size_t kSectionHeaderSize = 64;
constexpr unsigned kElfClass64 = 2;
constexpr unsigned kElfDataLittle = 1;
constexpr std::uint32_t kShtNobits = 8;
constexpr std::uint16_t kShnXindex = 0xffff;

class FileReader {
 public:
  FileReader(int fd, std::uint64_t size, const std::string& path)
      : fd_(fd), size_(size), path_(path) {}

  Status Read(std::uint64_t offset, std::size_t length, unsigned char* out) const {
    if (offset > size_ || length > size_ - offset)
      return Status::Corruption("module '" + path_ + "' is truncated or damaged");
    std::size_t done = 0;
    while (done < length) {
      ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Status::IOError("cannot read '" + path_ + "': " + std::strerror(errno));
      if (n == 0) return Status::Corruption("module '" + path_ + "' is truncated");
      done += static_cast<std::size_t>(n);
    }
    return Status::OK();
  }

 private:
  int fd_;
  std::uint64_t size_;
  const std::string& path_;
};

struct SectionHeader {
  std::uint32_t name;
  std::uint32_t type;
  std::uint32_t link;
  std::uint64_t offset;
  std::uint64_t size;
};

SectionHeader DecodeSection(const unsigned char* p) {
  SectionHeader s;
  s.name = DecodeFixed32(p);
  s.type = DecodeFixed32(p + 4);
  s.offset = DecodeFixed64(p + 24);
  s.size = DecodeFixed64(p + 32);
  s.link = DecodeFixed32(p + 40);
  return s;
}

}  // namespace

Status ModuleResources::Parse(std::span<const unsigned char> table, const std::string& origin,
                              ModuleResources* out) {
  out->entries_.clear();
  auto bad = [&](const char* what) {
    return Status::Corruption("resource table of '" + origin + "' is damaged: " + what);
  };
  std::size_t at = 0;
  auto take32 = [&](std::uint32_t* v) {
    if (table.size() - at < 4) return false;
    *v = DecodeFixed32(table.data() + at);
    at += 4;
    return true;
  };
  auto takeBytes = [&](std::uint32_t n, std::string* s) {
    if (table.size() - at < n) return false;
    s->assign(reinterpret_cast<const char*>(table.data() + at), n);
    at += n;
    return true;
  };
  if (table.size() < kResourceMagic.size() ||
      std::memcmp(table.data(), kResourceMagic.data(), kResourceMagic.size()) != 0)
    return bad("bad magic");
  at = kResourceMagic.size();
  std::uint32_t count = 0;
  if (!take32(&count)) return bad("cut short");
  // Each entry takes at least 12 bytes: this bounds the reservation.
  if (count > (table.size() - at) / 12) return bad("entry count too large");
  out->entries_.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    Resource r;
    std::uint32_t typeLength = 0, dataLength = 0;
    if (!take32(&typeLength) || !takeBytes(typeLength, &r.type) || !take32(&r.id) ||
        !take32(&dataLength) || !takeBytes(dataLength, &r.data))
      return bad("cut short");
    out->entries_.push_back(std::move(r));
  }
  if (at != table.size()) return bad("trailing bytes");
  return Status::OK();
}

Status ModuleResources::ReadFromFile(const std::string& path, ModuleResources* out) {
  out->entries_.clear();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) return Status::NotFound("module '" + path + "' does not exist");
    return Status::IOError("cannot open module '" + path + "': " + std::strerror(errno));
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0)
    return Status::IOError("cannot stat module '" + path + "': " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return Status::InvalidArgument("'" + path + "' is not a file");
  FileReader file(fd.get(), static_cast<std::uint64_t>(st.st_size), path);

  unsigned char eh[kElfHeaderSize] = {};
  if (st.st_size < static_cast<off_t>(kElfHeaderSize) || !file.Read(0, sizeof eh, eh).ok() ||
      std::memcmp(eh, kElfMagic, sizeof kElfMagic) != 0)
    return Status::Corruption("'" + path + "' is not an ELF module");
  if (eh[4] != kElfClass64 || eh[5] != kElfDataLittle)
    return Status::NotSupported("'" + path + "' is not a 64-bit little-endian ELF module");
  std::uint64_t shoff = DecodeFixed64(eh + 0x28);
  std::uint16_t shentsize = DecodeFixed16(eh + 0x3A);
  std::uint64_t shnum = DecodeFixed16(eh + 0x3C);
  std::uint32_t shstrndx = DecodeFixed16(eh + 0x3E);
  if (shoff == 0) return Status::OK();  // no section table: no resources
  if (shentsize < kSectionHeaderSize)
    return Status::Corruption("module '" + path + "' has a damaged section table");

  auto readSection = [&](std::uint64_t index, SectionHeader* s) -> Status {
    unsigned char buf[kSectionHeaderSize] = {};
    if (index > (std::uint64_t{1} << 32)) return Status::Corruption("bad section index");
    SIMDEX_RETURN_IF_ERROR(file.Read(shoff + index * shentsize, sizeof buf, buf));
    *s = DecodeSection(buf);
    return Status::OK();
  };
  // Large section counts and string-table indexes live in section 0.
  if (shnum == 0 || shstrndx == kShnXindex) {
    SectionHeader s0{};
    SIMDEX_RETURN_IF_ERROR(readSection(0, &s0));
    if (shnum == 0) shnum = s0.size;
    if (shstrndx == kShnXindex) shstrndx = s0.link;
  }
  if (shstrndx >= shnum)
    return Status::Corruption("module '" + path + "' has a damaged section table");
  // The whole table must lie inside the file; this also bounds shnum.
  auto fileSize = static_cast<std::uint64_t>(st.st_size);
  if (shoff > fileSize || shnum > (fileSize - shoff) / shentsize)
    return Status::Corruption("module '" + path + "' has a damaged section table");

  SectionHeader strtab{};
  SIMDEX_RETURN_IF_ERROR(readSection(shstrndx, &strtab));
  for (std::uint64_t i = 0; i < shnum; ++i) {
    SectionHeader s{};
    SIMDEX_RETURN_IF_ERROR(readSection(i, &s));
    // Compare the section's name with ours, reading one byte more for the
    // terminating zero.
    unsigned char name[kResourceSectionName.size() + 1] = {};
    if (s.name >= strtab.size || strtab.size - s.name < sizeof name) continue;
    SIMDEX_RETURN_IF_ERROR(file.Read(strtab.offset + s.name, sizeof name, name));
    if (std::memcmp(name, kResourceSectionName.data(), kResourceSectionName.size()) != 0 ||
        name[kResourceSectionName.size()] != 0)
      continue;
    if (s.type == kShtNobits || s.size > kMaxTableSize)
      return Status::Corruption("module '" + path + "' has a damaged resource section");
    std::vector<unsigned char> table(static_cast<std::size_t>(s.size));
    SIMDEX_RETURN_IF_ERROR(file.Read(s.offset, table.size(), table.data()));
    return Parse(table, path, out);
  }
  return Status::OK();
}

const Resource* ModuleResources::Find(std::string_view type, std::uint32_t id) const {
  for (const auto& r : entries_)
    if (r.type == type && r.id == id) return &r;
  return nullptr;
}

std::vector<const Resource*> ModuleResources::FindAll(std::string_view type) const {
  std::vector<const Resource*> found;
  for (const auto& r : entries_)
    if (r.type == type) found.push_back(&r);
  return found;
}

}  // namespace simdex
