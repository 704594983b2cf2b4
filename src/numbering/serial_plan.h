#pragma once
// Per-unit data: how each board gets a serial number (or a value of a list,
// or a scanned barcode) written into its own image just before the image is
// packed. Pure functions over plain data, on the calling thread; where the
// numbers come from (the record store's pools) is records/serial_pool.h.
//
// A number n of a counting plan is the value start + n * step, n counted from
// 0 in the pool, so that every station drawing from one pool with the same
// plan turns the same n into the same value and a pool's n is never drawn
// twice. The value goes into the image at `address` as a 32-bit word (little-
// or big-endian) or as ASCII digits (decimal or hex, upper case, zero-filled
// to N) after an optional ASCII prefix.

#include "image/firmware_file.h"
#include "numbering/list_file.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

namespace numbering {

enum class SerialFormat { Le32, Be32, Decimal, Hex };

// Where a unit's value comes from.
enum class SerialSource { Counter, List, Barcode };

inline constexpr uint32_t kImageEnd = 0x8000; // the field stays below
inline constexpr int kMostDecimalDigits = 10; // 4294967295
inline constexpr int kMostHexDigits = 8;
inline constexpr int kMostPrefix = 32;
inline constexpr int kMostBlock = 1000;
inline constexpr int kDefaultBlock = 10;
inline constexpr uint32_t kMostValue = 0xFFFFFFFFu;

struct SerialPlan {
  uint32_t address = 0;
  SerialFormat format = SerialFormat::Le32;
  int digits = 0;  // Decimal and Hex: the field's digits
  QString prefix;  // Decimal and Hex: ASCII written before the digits
  uint64_t start = 1;
  uint64_t step = 1;
  QString pool;    // empty: the job's name
  QString listFile; // List: one value a line
  // List, in a job: the SHA-256 of the list file's bytes when the job was
  // made, so that a changed list is refused; empty: not checked.
  QString listFileSha256;
  QString barcodePattern; // Barcode: what a scanned line must match whole
  bool overwrite = false; // the field may cover bytes the firmware fills
  int blockSize = kDefaultBlock; // numbers a station reserves at once
  bool giveUpOnFail = true; // a unit that finally fails keeps its number from every later unit

  SerialSource Source() const {
    return !listFile.isEmpty() ? SerialSource::List
           : !barcodePattern.isEmpty() ? SerialSource::Barcode
                                       : SerialSource::Counter;
  }
  bool operator==(const SerialPlan &) const = default;
};

// "le32", "be32", "dec:8", "hex:6".
QString FormatName(SerialFormat format, int digits);
// The format a name gives, or false for a name that is none.
bool ParseFormat(const QString &name, SerialFormat *format, int *digits);
QString FormatForm(); // "le32, be32, dec:N (N 1..10) or hex:N (N 1..8)"

// Why the plan cannot be used, for any image; empty when it can.
QString PlanRefusal(const SerialPlan &plan);

// Why a job whose image the box keeps and burns `count` times cannot have
// per-unit data; empty when it can (online mode, or a count of 1).
QString OfflineRefusal(bool offline, uint32_t count);

// The value of the pool's number n; nullopt past 32 bits.
std::optional<uint64_t> CounterValue(const SerialPlan &plan, uint64_t n);
// How many of the pool's numbers the plan can write: its values from the
// first by its step up to the largest its format holds (9999 for dec:4).
uint64_t CounterCount(const SerialPlan &plan);

// The bytes a counted value takes in the image, or why it does not fit.
struct Field {
  QByteArray bytes;
  QString text;    // as records and the operator see it: "SN000123", "1000"
  QString refusal;
};
Field CounterField(const SerialPlan &plan, uint64_t value);
// A list line or a scanned barcode: its bytes as they are.
Field ValueField(const QString &line);

// Why `size` bytes at `address` cannot be written into an image the firmware
// fills at `filled` (unless overwrite is allowed); empty when they can.
QString PlaceRefusal(uint32_t address, int size, const std::vector<image::AddressRange> &filled, bool overwrite);

// Writes `bytes` into the image at `address`; bytes beyond its end are dropped.
void Patch(std::vector<uint8_t> &image, uint32_t address, const QByteArray &bytes);

// The pool's definition as the store keeps it, so that stations drawing from
// one pool by different plans are refused: "count start=1 step=1", "list <sha256>".
QString PoolDefinition(const SerialPlan &plan, const QString &listSha256);

} // namespace numbering
