// The designed texts as the operator reads them: whole texts and texts built
// from parts, translated through the catalogue, the parts carried over.
#include "image/load_messages.h"
#include "protocol/clocks.h"
#include "protocol/operator_text.h"
#include "protocol/reply.h"

#include <gtest/gtest.h>

using namespace protocol;

TEST(OperatorText, DesignedTextsBuiltFromTheirPartsReadInEnglish) {
  image::HexReadResult checksum;
  checksum.status = image::HexReadResult::Status::ChecksumError;
  checksum.addressHigh = "12";
  checksum.addressLow = "%2"; // as written in the file: never read as a placeholder
  checksum.expectedChecksum = 0x5A;
  image::HexReadResult notARecord;
  notARecord.status = image::HexReadResult::Status::NotARecord;
  notARecord.line = 17;
  image::HexReadResult clash;
  clash.status = image::HexReadResult::Status::AddressClash;
  clash.clashEarlier = 0x1234;
  clash.clashLater = 0x11234;
  clash.clashAddress = 0x1234;
  image::HexReadResult noData;
  noData.status = image::HexReadResult::Status::NoData;

  struct Case {
    QString designed, english;
  } cases[] = {
      {ReplyText::FileBurned, QStringLiteral("File programmed successfully")},
      {kTimeOutMessage, QStringLiteral("The operation timed out: the programmer does not answer. Please check its "
                                       "power supply!")},
      {MismatchText(0x00, 0x0F, 0x01, 0xF0), QStringLiteral("Verify failed at address 000F: written 01, read F0")},
      {image::LoadErrorText(checksum),
       QStringLiteral("File load error: the line at address 12%2 has a wrong checksum (5A expected)")},
      {image::LoadErrorText(notARecord), QStringLiteral("File load error: line 17 is not a HEX record")},
      {image::LoadErrorText(clash),
       QStringLiteral("File load error: the data at 00001234 and at 00011234 fall on the same "
                      "address 1234 (extended addresses are not supported); nothing was loaded")},
      {image::LoadErrorText(noData),
       QStringLiteral("File load error: the file holds no data records; choose an Intel HEX file")},
      // A refusal's reason is translated in its turn, a kind of file inside it too.
      {image::LoadErrorText(
           QString::fromUtf8(image::kElfNotExecutablePattern).arg(QString::fromUtf8(image::kElfRelocatableText))),
       QStringLiteral("File load error: this ELF file is a relocatable file, not an executable; only 32-bit "
                      "little-endian ELF executables can be loaded")},
      {image::LoadErrorText(
           QString::fromUtf8(image::kSrecChecksumPattern).arg(3).arg(QStringLiteral("1F"), QStringLiteral("2E"))),
       QStringLiteral("File load error: checksum error on line 3: the file has 1F, it should be 2E")},
      {ElapsedText(12, 3), QStringLiteral("12.3 s")},
      // Unknown to the catalogue, and a text that only looks like a pattern's start.
      {QStringLiteral("Unable to write to /tmp/sysset.ini"), QStringLiteral("Unable to write to /tmp/sysset.ini")},
      {QStringLiteral("校验没通过"), QStringLiteral("校验没通过")},
  };
  for (const Case &c : cases) {
    base::UseLanguage(base::Language::English);
    EXPECT_EQ(ShownText(c.designed), c.english) << c.designed.toStdString();
    base::UseLanguage(base::Language::Designed);
    EXPECT_EQ(ShownText(c.designed), c.designed) << "byte for byte: " << c.designed.toStdString();
    EXPECT_EQ(EnglishText(c.designed), c.english) << "whatever the language in use";
  }
}
