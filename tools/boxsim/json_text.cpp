#include "json_text.h"

namespace boxsim {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
}

std::string HexBytes(const uint8_t *data, size_t len) {
  std::string out;
  out.resize(len * 2);
  for (size_t i = 0; i < len; ++i) {
    out[2 * i] = kDigits[data[i] >> 4];
    out[2 * i + 1] = kDigits[data[i] & 0x0F];
  }
  return out;
}

std::string HexByte(uint8_t b) { return HexBytes(&b, 1); }

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto b = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b >= 0x7F) {
      out += "\\u00";
      out += HexByte(b);
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

} // namespace boxsim
