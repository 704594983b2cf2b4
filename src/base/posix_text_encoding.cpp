// Code page 936 through the C library's iconv: no further dependency.
#include "base/text_encoding.h"

#include <cerrno>
#include <iconv.h>

namespace base {

namespace {

class Converter {
public:
  Converter() : cd_(iconv_open("CP936", "UTF-8")) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1))
      iconv_close(cd_);
  }
  Converter(const Converter &) = delete;
  Converter &operator=(const Converter &) = delete;

  // One character's bytes, or empty when the code page lacks it.
  std::string Convert(const QByteArray &utf8) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      return {};
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char out[8];
    char *in = const_cast<char *>(utf8.constData());
    size_t inLeft = size_t(utf8.size());
    char *outPtr = out;
    size_t outLeft = sizeof out;
    if (iconv(cd_, &in, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0)
      return {};
    return std::string(out, size_t(outPtr - out));
  }

private:
  iconv_t cd_;
};

} // namespace

std::string ToCodePage936(const QString &text, size_t maxBytes) {
  Converter converter;
  std::string out;
  for (qsizetype i = 0; i < text.size();) {
    // Only a high surrogate followed by a low one is one character; a lone
    // surrogate stands for itself (and becomes "?"), leaving the next one whole.
    const qsizetype width = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
    const QString character = text.mid(i, width);
    i += width;
    std::string bytes = character[0].unicode() < 0x80 ? character.toStdString() : converter.Convert(character.toUtf8());
    if (bytes.empty())
      bytes.push_back('?');
    if (out.size() + bytes.size() > maxBytes)
      break;
    out += bytes;
  }
  return out;
}

} // namespace base
