#include "tests/e2e/resident_pages.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/device_test.h"

namespace ce::test {

namespace {

struct Range {
  uint64_t address = 0;
  uint64_t size = 0;
};

// The section's link-time address, from the program's section headers, and the link-time
// address of the program's first page (0 in a position-independent program, not in another,
// such as the sanitizer build's), from its program headers.
bool findSection(const std::string& image, const std::string& name, Range& found,
                 uint64_t& firstPage) {
  Elf64_Ehdr header;
  if (image.size() < sizeof header) return false;
  std::memcpy(&header, image.data(), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
    return false;
  bool loaded = false;
  for (size_t i = 0; i < header.e_phnum && !loaded; ++i) {
    Elf64_Phdr segment;
    size_t at = header.e_phoff + i * sizeof segment;
    if (at + sizeof segment > image.size()) return false;
    std::memcpy(&segment, image.data() + at, sizeof segment);
    if (segment.p_type == PT_LOAD && segment.p_offset == 0) {
      firstPage = segment.p_vaddr;
      loaded = true;
    }
  }
  if (!loaded) return false;
  auto sectionAt = [&](size_t index, Elf64_Shdr& section) {
    size_t at = header.e_shoff + index * sizeof section;
    if (at + sizeof section > image.size()) return false;
    std::memcpy(&section, image.data() + at, sizeof section);
    return true;
  };
  Elf64_Shdr names;
  if (!sectionAt(header.e_shstrndx, names)) return false;
  for (size_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr section;
    if (!sectionAt(i, section)) return false;
    size_t at = names.sh_offset + section.sh_name;
    if (at < image.size() && name == image.c_str() + at) {
      found = {section.sh_addr, section.sh_size};
      return true;
    }
  }
  return false;
}

// Where the program's first page is mapped: the mapping of its file at offset 0.
uint64_t loadAddress(const std::string& pidDir, const std::string& program) {
  std::ifstream maps(pidDir + "/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, permissions, offset, device, inode, path;
    fields >> range >> permissions >> offset >> device >> inode >> path;
    if (path == program && std::stoull(offset, nullptr, 16) == 0)
      return std::stoull(range, nullptr, 16);
  }
  return 0;
}

}  // namespace

long residentPagesOfSection(int pid, const std::string& name) {
  std::string pidDir = "/proc/" + std::to_string(pid);
  std::error_code error;
  std::string program = std::filesystem::read_symlink(pidDir + "/exe", error);
  Range section;
  uint64_t firstPage = 0;
  if (error || !findSection(readFile(program), name, section, firstPage)) return -1;
  const uint64_t mapped = loadAddress(pidDir, program);
  if (mapped == 0) return -1;
  const uint64_t base = mapped - firstPage;  // what the loader added to link-time addresses
  int pagemap = ::open((pidDir + "/pagemap").c_str(), O_RDONLY | O_CLOEXEC);
  if (pagemap < 0) return -1;
  const uint64_t pageSize = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  uint64_t first = (base + section.address) / pageSize;
  uint64_t end = (base + section.address + section.size + pageSize - 1) / pageSize;
  long resident = 0;
  for (uint64_t page = first; page < end; ++page) {
    uint64_t entry = 0;
    if (::pread(pagemap, &entry, sizeof entry, static_cast<off_t>(page * sizeof entry)) !=
        static_cast<ssize_t>(sizeof entry)) {
      resident = -1;
      break;
    }
    if (entry >> 63) ++resident;  // present in memory
  }
  ::close(pagemap);
  return resident;
}

}  // namespace ce::test
