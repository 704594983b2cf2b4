#pragma once
// The firmware file of a load, read once into one value: the window's load
// and every kavrin-cli command read files through ReadFirmware and nothing
// else, so all of them accept and refuse the same files with the same texts.
//
// The form is told by the content, never by the file's name: an ELF header,
// an "S0".."S9" record, an Intel HEX ":" record (blanks, line ends and a
// byte-order mark before the first record do not count). A file with none of
// these is refused as unknown unless the operator says it is a raw binary,
// whose bytes then lie from a base address on. A file with nothing but blanks
// and line ends goes to the Intel HEX reader, which refuses it for having no
// data records. Every form fills the same 32 KiB image (0000-7FFF): data from
// 8000 up is left out and counted, a file with no data in 0000-7FFF is
// refused. The Intel HEX reader keeps its own rules (image/hex_reader.h): 16-bit
// addresses, the file's own letter case in the image text; the other forms
// give 32-bit addresses and upper-case image text. Pure apart from reading
// the file; runs on the calling thread.

#include "image/firmware_image.h"
#include "image/image_table.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace image {

// What the operator says the file is.
enum class FirmwareFormat {
  ByContent, // tell it by its content
  RawBinary, // the bytes as they are, from the base address on
};

// What the file turned out to be.
enum class FoundFormat { Unknown, IntelHex, SRecord, Elf, RawBinary };

// Addresses first..last, both inside the image.
struct AddressRange {
  uint32_t first = 0;
  uint32_t last = 0;
};

struct FirmwareFile {
  // False when the file could not be read at all; the refusal then is the
  // error box's "Cannot open file ..." text.
  bool fileRead = false;
  FoundFormat format = FoundFormat::Unknown;
  // Why the file is refused, in the window's words; empty when accepted.
  QString refusal;
  // The image: a byte (and its spelling) at every address below 8000, 00
  // spelt "00" where the file gave nothing; from 8000 up only what an Intel
  // HEX file put there, no entry elsewhere (kImageTextEntries entries). A
  // refused file leaves the bytes read before its fault, as the window's
  // error path shows them.
  ImageTable image;
  QString sha256; // of the file's bytes, lower-case hex
  uint32_t checksum = 0;
  QString checksumCaption; // "CheckSum:  0x0012ABCD"
  // The merged runs of image addresses the file gave data for.
  std::vector<AddressRange> ranges;
  // Data bytes of the file beyond the image, and the window's notice about them.
  uint32_t leftOut = 0;
  QString leftOutNotice;
  // The S-record header's text; empty for other forms.
  QString description;

  bool Accepted() const { return refusal.isEmpty(); }
};

// Reads and checks the file at `path`; `base` is where a raw binary begins.
FirmwareFile ReadFirmware(const QString &path, FirmwareFormat format = FirmwareFormat::ByContent, uint32_t base = 0);

// The same for a file's bytes already in memory (fileRead is true).
FirmwareFile ReadFirmwareBytes(const QByteArray &file, FirmwareFormat format = FirmwareFormat::ByContent,
                               uint32_t base = 0);

// The form the content shows: an ELF header, else the first thing that is not
// a byte-order mark, blank, tab, line end or DOS end-of-file mark: ":" for
// Intel HEX, "S" and a digit for S-records. Nothing at all counts as Intel
// HEX; anything else is Unknown.
FoundFormat DetectFormat(std::span<const uint8_t> file);

// "Intel HEX", "Motorola S-record", "ELF (32-bit little-endian executable)",
// "raw binary from 1000", "unknown".
QString FormatText(FoundFormat format, uint32_t base = 0);

// "0000-3FFF, 4100-41FF"; "none" for no range.
QString RangesText(const std::vector<AddressRange> &ranges);

} // namespace image
