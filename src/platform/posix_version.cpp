// FileVersion on POSIX: a shared object has no version resource, so a module that has a version
// carries a record of our own in the section ".zk_version" (platform/version_record.h). The file
// is read, never loaded: asking for a version runs none of the module's code. Every offset and
// size in the file is checked against the file before it is used.
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/version_record.h"

namespace zk::platform {
namespace {

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat st;
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<uint64_t>(st.st_size);
  }
  ~ReadOnlyFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Exactly `size` bytes at `offset`, all inside the file.
  bool Read(uint64_t offset, void* out, uint64_t size) const {
    if (offset > size_ || size > size_ - offset) return false;
    auto* p = static_cast<uint8_t*>(out);
    while (size > 0) {
      const ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
      if (n <= 0) return false;
      p += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<uint64_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

// The contents of the section named `name` of an ELF file of one class (32 or 64 bits).
template <typename Ehdr, typename Shdr>
bool ReadSection(const ReadOnlyFile& file, const char* name, std::vector<uint8_t>& contents) {
  Ehdr header;
  if (!file.Read(0, &header, sizeof header) || header.e_shentsize != sizeof(Shdr) ||
      header.e_shstrndx >= header.e_shnum) {
    return false;
  }
  std::vector<Shdr> sections(header.e_shnum);
  if (!file.Read(header.e_shoff, sections.data(), sections.size() * sizeof(Shdr))) return false;
  const Shdr& names = sections[header.e_shstrndx];
  constexpr uint64_t kMaxNames = 1u << 20;
  if (names.sh_size == 0 || names.sh_size > kMaxNames) return false;
  std::vector<char> text(names.sh_size + 1, '\0');  // the extra NUL ends the last name
  if (!file.Read(names.sh_offset, text.data(), names.sh_size)) return false;
  for (const Shdr& section : sections) {
    if (section.sh_name >= names.sh_size || std::strcmp(&text[section.sh_name], name) != 0) continue;
    if (section.sh_type == SHT_NOBITS || section.sh_size > kMaxNames) return false;
    contents.resize(section.sh_size);
    return file.Read(section.sh_offset, contents.data(), section.sh_size);
  }
  return false;
}

bool ReadVersionSection(const ReadOnlyFile& file, std::vector<uint8_t>& contents) {
  unsigned char ident[EI_NIDENT];
  if (!file.Read(0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0 ||
      ident[EI_DATA] != ELFDATA2LSB) {
    return false;
  }
  if (ident[EI_CLASS] == ELFCLASS64) return ReadSection<Elf64_Ehdr, Elf64_Shdr>(file, kVersionSection, contents);
  if (ident[EI_CLASS] == ELFCLASS32) return ReadSection<Elf32_Ehdr, Elf32_Shdr>(file, kVersionSection, contents);
  return false;
}

}  // namespace

bool FileVersion(const std::string& path, uint32_t& versionMS, uint32_t& versionLS) {
  const ReadOnlyFile file(NativePath(path));
  std::vector<uint8_t> contents;
  TVersionRecord record;
  if (!ReadVersionSection(file, contents) || contents.size() < sizeof record) return false;
  std::memcpy(&record, contents.data(), sizeof record);
  if (record.Signature != kVersionSignature) return false;
  versionMS = record.FileVersionMS;
  versionLS = record.FileVersionLS;
  return true;
}

}  // namespace zk::platform
