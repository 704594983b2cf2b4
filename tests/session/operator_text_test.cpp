// The designed texts as the operator reads them: whole texts and texts built
// from parts, translated through the catalogue, the parts carried over.
#include "image/load_messages.h"
#include "protocol/clocks.h"
#include "protocol/reply.h"
#include "session/operator_text.h"

#include <gtest/gtest.h>

using namespace protocol;
using namespace session;

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
    base::Message designed;
    QString english;
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
      // Carried as data: the reason, a message of its own, in the same language;
      // a verbatim value (the library's words) never read as a placeholder.
      {base::Message("Operation", image::kLoadErrorPattern,
                     {base::Message("Operation", image::kElfUnreadablePattern,
                                    {base::Message::Verbatim(QStringLiteral("section %1 of %2"))})}),
       QStringLiteral("File load error: the ELF file cannot be read: section %1 of %2")},
      // The bursts the box is not designed to send.
      {NotAReplyText(std::vector<uint8_t>{0x13, 0x37, 0x00, 0x99, 0x42, 0x42, 0x42, 0x42}),
       QStringLiteral("The box sent 8 bytes that are not a reply: 13 37 00 99 42 42 42 42")},
      {NotAReplyText(std::vector<uint8_t>{0x68}), QStringLiteral("The box sent 1 byte that is not a reply: 68")},
      {NotAReplyText(std::vector<uint8_t>(4096, 0xA5)),
       QStringLiteral("The box sent 4096 bytes that are not a reply: ") + QStringLiteral("A5 ").repeated(16) +
           QStringLiteral("…")},
      {UnknownStatusText(0x42, std::vector<uint8_t>{0x68, 0x06, 0x01, 0x42, 0x16}),
       QStringLiteral("The box answered with status 42: 68 06 01 42 16")},
      {ManyRepliesText(std::vector<uint8_t>{0x68, 0x03, 0x01, 0x99, 0x16, 0x68, 0x03, 0x01, 0x00, 0x16}),
       QStringLiteral("The box sent more than one reply at once: 68 03 01 99 16 68 03 01 00 16")},
      {BlocksNotAskedText(0x00FE),
       QStringLiteral("The box called the load successful without asking for these blocks of the file: 1, 2, 3, 4, 5, "
                      "6, 7")},
      // Unknown to the catalogue, and a text that only looks like a pattern's start.
      {QStringLiteral("Unable to write to /tmp/sysset.ini"), QStringLiteral("Unable to write to /tmp/sysset.ini")},
      {QStringLiteral("校验没通过"), QStringLiteral("校验没通过")},
  };
  for (const Case &c : cases) {
    const QString designed = c.designed.Designed();
    base::UseLanguage(base::Language::English);
    EXPECT_EQ(Shown(c.designed), c.english) << designed.toStdString();
    base::UseLanguage(base::Language::Designed);
    EXPECT_EQ(Shown(c.designed), designed) << "byte for byte: " << designed.toStdString();
    EXPECT_EQ(English(c.designed), c.english) << "whatever the language in use";
  }
}

TEST(OperatorText, ProgressAndElapsedAsTheWindowShowsThem) {
  const std::pair<QString, QString> cases[] = {
      {ProgressText(0), QStringLiteral("0 %")},
      {ProgressText(100), QStringLiteral("100 %")},
      {ElapsedText(0, 0).Designed(), QStringLiteral("0.0 秒")},
      {ElapsedText(0, 1).Designed(), QStringLiteral("0.1 秒")},
      {ElapsedText(12, 3).Designed(), QStringLiteral("12.3 秒")},
      {ElapsedText(120, 0).Designed(), QStringLiteral("120.0 秒")},
  };
  for (const auto &[got, expected] : cases)
    EXPECT_EQ(got, expected);
}
