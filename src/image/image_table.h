#pragma once
// The image of a load as everything below the window holds it: one byte per
// 16-bit address, which is what is packed, patched and summed. Beside the
// bytes it keeps what only the file buffer view needs: how the file spelt each
// byte and which addresses some file gave. The Intel HEX reader keeps the
// file's own two characters, letter case and all (characters that are no hex
// digits stand for 0); every other form, and a unit's own data, is spelt in
// upper-case digits. The window turns it into its image text once, at its
// edge (Text); nothing below the window reads the spelling.

#include "image/firmware_image.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace image {

struct ImageTable {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kImageTextEntries, 0);
  // Two characters per address, as the view shows them after the "$".
  std::string spelling = std::string(2 * size_t(kImageTextEntries), '0');
  // Addresses some file gave (or that were cleared to "$00"); the others
  // have no entry, and the window keeps what it held there.
  std::vector<bool> given = std::vector<bool>(kImageTextEntries, false);

  // The entry at `address` with the characters the file spelt it with; the
  // byte is their value (0 when they are no hex number).
  void Set(uint32_t address, uint8_t value, char high, char low);
  // `data` from `address` on, spelt in upper-case digits; bytes beyond the
  // table are dropped.
  void Put(uint32_t address, std::span<const uint8_t> data);
  // "$" + the two characters; empty where no file gave the address.
  std::string Entry(uint32_t address) const;
  // The window's image text: Entry of every address.
  std::vector<std::string> Text() const;

  bool operator==(const ImageTable &) const = default;
};

} // namespace image
