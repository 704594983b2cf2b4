#include "image/elf_reader.h"

#include "image/load_messages.h"

#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace image {

namespace {

// libelf's reason for the last failure on this thread (reading it clears it).
QString Unreadable() {
  const int error = elf_errno();
  const char *why = error != 0 ? elf_errmsg(error) : "the ELF header is cut short";
  return LoadErrorText(QString::fromUtf8(kElfUnreadablePattern).arg(QString::fromLocal8Bit(why ? why : "unknown error")));
}

QString KindName(unsigned type) {
  switch (type) {
  case ET_REL:
    return QString::fromUtf8(kElfRelocatableText);
  case ET_DYN:
    return QString::fromUtf8(kElfSharedText);
  case ET_CORE:
    return QString::fromUtf8(kElfCoreText);
  default:
    return QString::fromUtf8(kElfOtherKindPattern).arg(type);
  }
}

struct ElfEnd {
  Elf *elf;
  ~ElfEnd() { elf_end(elf); }
};

// File ranges [first, end) of the sections that hold bytes of the program,
// merged and in order.
struct FileRange {
  uint64_t first, end;
};

// A section whose bytes lie outside the file is refused by name (`cut`): the
// program would lose them without a word, as a segment would.
bool ProgramSections(Elf *elf, size_t fileSize, std::vector<FileRange> &ranges, QString &cut) {
  size_t namesIndex = 0;
  const bool named = elf_getshdrstrndx(elf, &namesIndex) == 0;
  for (Elf_Scn *scn = elf_nextscn(elf, nullptr); scn; scn = elf_nextscn(elf, scn)) {
    GElf_Shdr header;
    if (!gelf_getshdr(scn, &header))
      return false;
    if (header.sh_type == SHT_NOBITS || header.sh_type == SHT_NULL || header.sh_size == 0)
      continue;
    if (header.sh_offset > fileSize || header.sh_size > fileSize - header.sh_offset) {
      const char *name = named ? elf_strptr(elf, namesIndex, header.sh_name) : nullptr;
      cut = LoadErrorText(QString::fromUtf8(kElfUnreadablePattern)
                              .arg(QString::fromUtf8(kElfSectionCutPattern)
                                       .arg(QString::number(elf_ndxscn(scn)),
                                            name && *name ? QString::fromUtf8(name) : QStringLiteral("?"))));
      elf_errno(); // a name that could not be read is no failure of this file's
      return true;
    }
    if (!(header.sh_flags & SHF_ALLOC))
      continue;
    const uint64_t room = std::numeric_limits<uint64_t>::max() - header.sh_offset;
    ranges.push_back({header.sh_offset, header.sh_offset + std::min(header.sh_size, room)});
  }
  std::sort(ranges.begin(), ranges.end(), [](const FileRange &a, const FileRange &b) { return a.first < b.first; });
  std::vector<FileRange> merged;
  for (const FileRange &r : ranges) {
    if (!merged.empty() && r.first <= merged.back().end)
      merged.back().end = std::max(merged.back().end, r.end);
    else
      merged.push_back(r);
  }
  ranges = std::move(merged);
  return true;
}

} // namespace

QString ReadElf(std::span<const uint8_t> file, ImageBytes &image) {
  static const bool libraryReady = elf_version(EV_CURRENT) != EV_NONE;
  if (!libraryReady)
    return LoadErrorText(QString::fromUtf8(kElfUnreadablePattern).arg(QStringLiteral("libelf does not know this ELF version")));
  elf_errno(); // a failure left from an earlier file is not this one's
  // libelf wants memory it may treat as its own.
  std::vector<char> copy(file.begin(), file.end());
  Elf *elf = elf_memory(copy.data(), copy.size());
  if (!elf)
    return Unreadable();
  const ElfEnd end{elf};
  size_t identSize = 0;
  const char *ident = elf_getident(elf, &identSize);
  if (elf_kind(elf) != ELF_K_ELF || !ident || identSize < EI_NIDENT)
    return Unreadable();
  if (ident[EI_CLASS] == ELFCLASS64)
    return LoadErrorText(QString::fromUtf8(kElf64Text));
  if (ident[EI_DATA] == ELFDATA2MSB)
    return LoadErrorText(QString::fromUtf8(kElfBigEndianText));
  GElf_Ehdr header;
  if (!gelf_getehdr(elf, &header))
    return Unreadable();
  if (header.e_type != ET_EXEC)
    return LoadErrorText(QString::fromUtf8(kElfNotExecutablePattern).arg(KindName(header.e_type)));

  size_t sectionCount = 0;
  size_t segmentCount = 0;
  std::vector<FileRange> sections;
  QString sectionCut;
  if (elf_getshdrnum(elf, &sectionCount) != 0 || !ProgramSections(elf, file.size(), sections, sectionCut) ||
      elf_getphdrnum(elf, &segmentCount) != 0)
    return Unreadable();
  if (!sectionCut.isEmpty())
    return sectionCut;
  for (size_t n = 0; n < segmentCount; ++n) {
    GElf_Phdr segment;
    if (!gelf_getphdr(elf, int(n), &segment))
      return Unreadable();
    if (segment.p_type != PT_LOAD || segment.p_filesz == 0)
      continue;
    if (segment.p_offset > file.size() || segment.p_filesz > file.size() - segment.p_offset)
      return LoadErrorText(QString::fromUtf8(kElfUnreadablePattern).arg(QString::fromUtf8(kElfSegmentCutPattern).arg(n)));
    Elf_Data *data = elf_getdata_rawchunk(elf, int64_t(segment.p_offset), segment.p_filesz, ELF_T_BYTE);
    if (!data)
      return Unreadable();
    const std::span<const uint8_t> bytes(static_cast<const uint8_t *>(data->d_buf), data->d_size);
    if (sectionCount == 0) {
      image.Put(segment.p_paddr, bytes);
      continue;
    }
    const uint64_t first = segment.p_offset;
    const uint64_t last = first + bytes.size();
    auto range = std::upper_bound(sections.begin(), sections.end(), first,
                                  [](uint64_t at, const FileRange &r) { return at < r.end; });
    for (; range != sections.end() && range->first < last; ++range) {
      const uint64_t from = std::max(range->first, first);
      const uint64_t to = std::min(range->end, last);
      image.Put(segment.p_paddr + (from - first), bytes.subspan(from - first, to - from));
    }
  }
  return {};
}

} // namespace image
