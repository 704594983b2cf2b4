// The command line's event output: JSON Lines objects and their fields, the
// plain lines, and the redrawn block on a terminal with its throttle.
#include "base/language.h"
#include "cli/event_sink.h"
#include "protocol/reply.h"
#include "support/test_helpers.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace cli;

namespace {

struct Capture {
  QByteArray text;
  OutputFn Fn() {
    return [this](const QByteArray &bytes) { text += bytes; };
  }
};

const QString kA = QStringLiteral("/dev/ttyUSB0");
const QString kB = QStringLiteral("/dev/serial/by-id/usb-box-if00");

} // namespace

TEST(EventSink, JsonLinesCarryEveryField) {
  Capture out, err;
  JsonEventSink sink(out.Fn(), err.Fn());
  sink.Start(kA, QStringLiteral("load"));
  sink.Progress(kA, 45);
  sink.Message(kA, QStringLiteral("程序 \"下载\" 成功\n\t\x01"));
  sink.Result(kA, {ResultClass::Ok, 12.0, QStringLiteral("CheckSum:  0x0005FEC8"), std::nullopt, {}});
  sink.Start(kB, QStringLiteral("verify"));
  sink.Result(kB, {ResultClass::VerifyMismatch, 3.14159, std::nullopt, protocol::Mismatch{0x1234, 0xA5, 0x0F}, {}});
  sink.Finish();

  const QList<QByteArray> lines = out.text.split('\n');
  ASSERT_EQ(lines.size(), 7); // six objects and the empty rest after the last newline
  EXPECT_TRUE(lines.back().isEmpty());
  std::vector<QJsonObject> events;
  for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(lines[i], &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << lines[i].toStdString();
    ASSERT_TRUE(doc.isObject());
    EXPECT_FALSE(lines[i].contains("\": ") || lines[i].contains(", \"")) << "not compact: " << lines[i].toStdString();
    events.push_back(doc.object());
    EXPECT_TRUE(events.back().contains(QStringLiteral("event")));
    EXPECT_TRUE(events.back().value(QStringLiteral("port")).isString());
  }
  EXPECT_EQ(events[0].value(QStringLiteral("operation")).toString(), QStringLiteral("load"));
  EXPECT_EQ(events[1].value(QStringLiteral("percent")).toInt(), 45);
  EXPECT_EQ(events[2].value(QStringLiteral("text")).toString(), QStringLiteral("程序 \"下载\" 成功\n\t\x01"));

  const QJsonObject &ok = events[3];
  EXPECT_EQ(ok.value(QStringLiteral("event")).toString(), QStringLiteral("result"));
  EXPECT_EQ(ok.value(QStringLiteral("result")).toString(), QStringLiteral("ok"));
  EXPECT_EQ(ok.value(QStringLiteral("checksum")).toString(), QStringLiteral("CheckSum:  0x0005FEC8"));
  EXPECT_EQ(ok.value(QStringLiteral("exit")).toInt(-1), 0);
  EXPECT_TRUE(lines[3].contains("\"seconds\":12.0,")) << lines[3].toStdString();

  const QJsonObject &mismatch = events[5];
  EXPECT_EQ(mismatch.value(QStringLiteral("port")).toString(), kB);
  EXPECT_EQ(mismatch.value(QStringLiteral("result")).toString(), QStringLiteral("verify-mismatch"));
  EXPECT_TRUE(mismatch.value(QStringLiteral("checksum")).isNull());
  EXPECT_EQ(mismatch.value(QStringLiteral("exit")).toInt(), 6);
  EXPECT_EQ(mismatch.value(QStringLiteral("address")).toString(), QStringLiteral("1234"));
  EXPECT_EQ(mismatch.value(QStringLiteral("written")).toString(), QStringLiteral("A5"));
  EXPECT_EQ(mismatch.value(QStringLiteral("read")).toString(), QStringLiteral("0F"));
  EXPECT_TRUE(lines[5].contains("\"seconds\":3.1,")) << lines[5].toStdString();

  // Standard output stays JSON only; the gang's summary goes to standard error.
  EXPECT_EQ(err.text, QByteArray("1 of 2 boxes ok; failed: /dev/serial/by-id/usb-box-if00 verify-mismatch\n"));
}

TEST(EventSink, PlainLinesWithoutATerminal) {
  Capture err;
  HumanEventSink sink(err.Fn(), false);
  sink.Start(kA, QStringLiteral("load"));
  for (int percent : {3, 9, 10, 11, 35, 35, 99, 100})
    sink.Progress(kA, percent);
  sink.Message(kA, QStringLiteral("下载成功"));
  // A database's reason of several lines, shown as lines.
  sink.Message(kA, QStringLiteral("could not connect: Connection refused\n\tIs the server running?\n"));
  sink.Result(kA, {ResultClass::NoAnswer, 120.04, std::nullopt, std::nullopt, QStringLiteral("no reply")});
  sink.Finish();
  EXPECT_EQ(QString::fromUtf8(err.text), QStringLiteral("/dev/ttyUSB0: load started\n"
                                                        "/dev/ttyUSB0: load 10 %\n"
                                                        "/dev/ttyUSB0: load 30 %\n"
                                                        "/dev/ttyUSB0: load 90 %\n"
                                                        "/dev/ttyUSB0: load 100 %\n"
                                                        "/dev/ttyUSB0: 下载成功\n"
                                                        "/dev/ttyUSB0: could not connect: Connection refused\n"
                                                        "  Is the server running?\n"
                                                        "/dev/ttyUSB0: no-answer after 120.0 s: no reply (exit 7)\n"));
  EXPECT_FALSE(err.text.contains('\x1b'));
}

TEST(EventSink, AJobRunsUnitsAreNamedByTheirSerialNumberAndCountedAsUnits) {
  Capture err;
  HumanEventSink sink(err.Fn(), false);
  const struct {
    QString serial;
    ResultClass result;
  } units[] = {{QStringLiteral("SN000101"), ResultClass::Ok},
               {QString(), ResultClass::Ok}, // a job without numbers
               {QStringLiteral("SN000102"), ResultClass::BoxFailed}};
  for (const auto &u : units) {
    sink.Unit(kA, {QStringLiteral("uid"), 1, u.serial});
    sink.Start(kA, QStringLiteral("load"));
    sink.Result(kA, {u.result, 1.24, QStringLiteral("CheckSum:  0x0012ABCD"), std::nullopt, {}});
  }
  sink.Finish();
  EXPECT_EQ(QString::fromUtf8(err.text), QStringLiteral("/dev/ttyUSB0: unit SN000101 load started\n"
                                                        "/dev/ttyUSB0: unit SN000101 ok after 1.2 s, CheckSum:  0x0012ABCD\n"
                                                        "/dev/ttyUSB0: load started\n"
                                                        "/dev/ttyUSB0: ok after 1.2 s, CheckSum:  0x0012ABCD\n"
                                                        "/dev/ttyUSB0: unit SN000102 load started\n"
                                                        "/dev/ttyUSB0: unit SN000102 box-failed after 1.2 s, "
                                                        "CheckSum:  0x0012ABCD (exit 5)\n"
                                                        "2 of 3 units ok; failed: /dev/ttyUSB0 box-failed\n"));
}

TEST(EventSink, MessagesInTheOperatorsLanguageBesideTheDesignedText) {
  const base::Message mismatch = protocol::MismatchText(0x12, 0x34, 0xAB, 0xCD);
  const QString mismatchEn = QStringLiteral("Verify failed at address 1234: written AB, read CD");
  struct Case {
    base::Language language;
    base::Message text;
    QString shown, english;
  } cases[] = {
      {base::Language::English, protocol::ReplyText::VerifySucceeded, QStringLiteral("Verify succeeded!"),
       QStringLiteral("Verify succeeded!")},
      {base::Language::English, mismatch, mismatchEn, mismatchEn},
      {base::Language::Designed, mismatch, mismatch.Designed(), mismatchEn},
      // What the catalogue does not know (the system's words) stays as it is.
      {base::Language::English, QStringLiteral("No such file or directory"),
       QStringLiteral("No such file or directory"), QStringLiteral("No such file or directory")},
  };
  for (const Case &c : cases) {
    base::UseLanguage(c.language);
    Capture out, err, human;
    JsonEventSink json(out.Fn(), err.Fn());
    json.Message(kA, c.text);
    const QJsonObject event = QJsonDocument::fromJson(out.text).object();
    // Scripts match the designed text whatever the language; the English stands beside it.
    EXPECT_EQ(event.value(QStringLiteral("text")).toString(), c.text.Designed());
    EXPECT_EQ(event.value(QStringLiteral("text_en")).toString(), c.english);
    HumanEventSink plain(human.Fn(), false);
    plain.Message(kA, c.text);
    EXPECT_EQ(QString::fromUtf8(human.text), kA + QStringLiteral(": ") + c.shown + QLatin1Char('\n'));
  }
  base::UseLanguage(base::Language::Designed);
}

TEST(EventSink, TerminalBlockIsRedrawnInPlaceAtMostTenTimesASecond) {
  Capture err;
  HumanEventSink sink(err.Fn(), true, 100);
  sink.Start(kA, QStringLiteral("load"));
  sink.Start(QStringLiteral("/dev/ttyUSB1"), QStringLiteral("load"));
  err.text.clear();

  // Right after a drawing, updates wait; the last one is drawn when the time is up.
  sink.Progress(kA, 10);
  sink.Progress(kA, 20);
  EXPECT_TRUE(err.text.isEmpty());
  ASSERT_TRUE(PumpUntil([&] { return !err.text.isEmpty(); }, 1000));
  // Back up over the two rows, rewrite both.
  EXPECT_TRUE(err.text.startsWith("\x1b[2F\x1b[2K/dev/ttyUSB0  load  [######------------------------]  20 %\n"))
      << err.text.toStdString();
  EXPECT_EQ(err.text.count("\x1b[2K"), 2);
  EXPECT_FALSE(err.text.contains("10 %"));

  // A message goes above the block, which is drawn again below it.
  err.text.clear();
  sink.Message(kA, QStringLiteral("hello"));
  EXPECT_TRUE(err.text.startsWith("\x1b[2F\x1b[J/dev/ttyUSB0: hello\n\x1b[2K")) << err.text.toStdString();
  EXPECT_EQ(err.text.count('\n'), 3);

  // Rows never wrap: one longer than the terminal is cut short of its width.
  Capture narrow;
  HumanEventSink cut(narrow.Fn(), true, 40);
  cut.Start(kB, QStringLiteral("erase-program-verify"));
  ASSERT_TRUE(narrow.text.startsWith("\x1b[2K") && narrow.text.endsWith('\n'));
  EXPECT_EQ(narrow.text.size(), 4 + 39 + 1) << narrow.text.toStdString();
}
