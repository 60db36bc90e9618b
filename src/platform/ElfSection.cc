#include "platform/ElfSection.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/files/FileDescriptor.h"

namespace wren::platform {

namespace {

// Reads exactly `size` bytes at `offset`; false on any shortfall.
bool readAt(int fd, uint64_t offset, void* into, std::size_t size) {
  auto* bytes = static_cast<char*>(into);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// True when [offset, offset + size) lies within a file of `fileSize` bytes.
bool within(uint64_t offset, uint64_t size, uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

}  // namespace

std::optional<std::string> elfSection(const std::filesystem::path& file, std::string_view name,
                                      std::size_t limit) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const auto fileSize = static_cast<uint64_t>(info.st_size);

  Elf64_Ehdr header{};
  if (!readAt(fd.get(), 0, &header, sizeof header)) return std::nullopt;
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_ident[EI_DATA] != ELFDATA2LSB || header.e_shentsize != sizeof(Elf64_Shdr))
    return std::nullopt;
  // A file with more than SHN_LORESERVE sections keeps the count elsewhere; an executable
  // that carries our section never has that many, so such a file is not read.
  const uint64_t count = header.e_shnum;
  if (count == 0 || header.e_shstrndx >= count ||
      !within(header.e_shoff, count * sizeof(Elf64_Shdr), fileSize))
    return std::nullopt;
  std::vector<Elf64_Shdr> sections(count);
  if (!readAt(fd.get(), header.e_shoff, sections.data(), count * sizeof(Elf64_Shdr))) return std::nullopt;

  const Elf64_Shdr& names = sections[header.e_shstrndx];
  if (names.sh_type != SHT_STRTAB || names.sh_size > limit || !within(names.sh_offset, names.sh_size, fileSize))
    return std::nullopt;
  std::string nameTable(names.sh_size, '\0');
  if (!readAt(fd.get(), names.sh_offset, nameTable.data(), nameTable.size())) return std::nullopt;

  for (const Elf64_Shdr& section : sections) {
    if (section.sh_name >= nameTable.size()) continue;
    // Names end at their NUL; one that runs off the table's end is no match.
    std::size_t end = nameTable.find('\0', section.sh_name);
    if (end == std::string::npos ||
        std::string_view(nameTable).substr(section.sh_name, end - section.sh_name) != name)
      continue;
    if (section.sh_type == SHT_NOBITS || section.sh_size == 0 || section.sh_size > limit ||
        !within(section.sh_offset, section.sh_size, fileSize))
      return std::nullopt;
    std::string bytes(section.sh_size, '\0');
    if (!readAt(fd.get(), section.sh_offset, bytes.data(), bytes.size())) return std::nullopt;
    return bytes;
  }
  return std::nullopt;
}

}  // namespace wren::platform
