#pragma once
// The whole program against the simulated box: a program folder whose settings
// file names the simulator's port, the real terminal serial layer, recording
// dialogs that also note when each message box appeared, and checks of what the
// box logged. Shared by the end-to-end tests and the transfer benchmarks.
//
// Test images are written here as Intel HEX by a writer of our own (16-byte data
// records, CR LF), so the image the box must receive is known independently of
// the program's reader. Everything runs on the GUI thread; the simulator is a
// child process that ends with the test process.

#include "app/shared_state.h"
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/program.h"
#include "session/box_session.h"
#include "serial/serial_layer.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"
#include "tools/boxsim_process.h"

#include <QPushButton>
#include <QRadioButton>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace e2e {

constexpr size_t kImageSize = 32768;
constexpr size_t kBlockData = 4096;
using Image = std::vector<uint8_t>;
using SteadyClock = std::chrono::steady_clock;

// Random bytes over the whole 32 KiB image, the same for the same seed.
inline Image RandomImage(uint32_t seed) {
  std::mt19937 gen(seed);
  Image image(kImageSize);
  for (auto &b : image)
    b = uint8_t(gen() >> 24);
  return image;
}

inline std::string HexByte(uint8_t b) {
  static const char digits[] = "0123456789ABCDEF";
  return {digits[b >> 4], digits[b & 15]};
}

// Intel HEX of `image` at address 0: 16-byte data records, then the end record.
inline std::string IntelHex(const Image &image) {
  std::string out;
  for (size_t addr = 0; addr < image.size(); addr += 16) {
    const size_t n = std::min<size_t>(16, image.size() - addr);
    uint8_t sum = uint8_t(n) + uint8_t(addr >> 8) + uint8_t(addr);
    out += ':' + HexByte(uint8_t(n)) + HexByte(uint8_t(addr >> 8)) + HexByte(uint8_t(addr)) + "00";
    for (size_t i = 0; i < n; ++i) {
      out += HexByte(image[addr + i]);
      sum = uint8_t(sum + image[addr + i]);
    }
    out += HexByte(uint8_t(-sum)) + "\r\n";
  }
  return out + ":00000001FF\r\n";
}

// The dump line the read-out view shows for 16 bytes at `addr`.
inline QString DumpLine(uint32_t addr, const uint8_t *bytes) {
  QString line = QStringLiteral("%1:: ").arg(addr, 4, 16, QLatin1Char('0')).toUpper();
  for (int i = 0; i < 16; ++i)
    line += QString::fromStdString(HexByte(bytes[i])) + QLatin1Char(' ');
  return line;
}

// Message boxes with the time each one appeared.
class TimedDialogs : public RecordingDialogs {
public:
  void ShowMessage(QWidget *parent, const QString &text) override {
    messageTimes.push_back(SteadyClock::now());
    RecordingDialogs::ShowMessage(parent, text);
  }
  std::vector<SteadyClock::time_point> messageTimes;
};

// One block record the box logged as received.
struct LoggedBlock {
  int n = -1;
  bool ok = false;
  std::string name; // block 0 only
  std::string data; // hex of the 4096 data bytes
};

// The program, running on its own folder, connected to a fresh simulator.
class Session {
public:
  // Starts the simulator with `options` (its log and port link are added) and
  // the program on the link. Empty string on success, else what went wrong.
  std::string Start(std::vector<std::string> options) {
    if (std::string error = StartSimulator(std::move(options)); !error.empty())
      return error;
    StartProgram(linkPath_);
    return {};
  }

  std::string StartSimulator(std::vector<std::string> options) {
    logPath_ = folder.File(QStringLiteral("box.jsonl")).toStdString();
    linkPath_ = folder.File(QStringLiteral("box-port")).toStdString();
    options.insert(options.end(), {"--log", logPath_, "--link", linkPath_, "--exit-with-parent"});
    if (access(boxsim_test::SimulatorPath().c_str(), X_OK) != 0)
      return "no simulator at " + boxsim_test::SimulatorPath();
    sim = std::make_unique<boxsim_test::BoxSim>(options);
    return sim->Started() ? std::string() : "the simulator did not start";
  }

  // The program, with its settings file naming `port`; its session's clocks run on `clock`.
  void StartProgram(const std::string &port) {
    folder.Write(QStringLiteral("sysset.ini"), "[comx]\nnum=" + QByteArray::fromStdString(port) + "\n");
    program = std::make_unique<app::Program>(dialogs, serial::MakePlatformSerialLayer(), folder.Path(), *clock);
    form1 = program->Form1.get();
  }

  // Closes the program, then stops the simulator (its log stays readable).
  void Stop() {
    program.reset();
    form1 = nullptr;
    // A simulator that never started has no process to stop (signalling
    // process -1 would reach every process of the user).
    if (sim && sim->Pid() > 0)
      sim->Stop();
    sim.reset();
  }

  ~Session() { Stop(); }

  app::SharedState &State() { return program->State; }
  session::BoxSession &Box() { return program->Form1->Session(); }
  // Where the program's session takes its time from; set before Start.
  base::Clock *clock = &base::SystemClock();

  // Writes `image` as a HEX file in the program folder; returns its path.
  QString WriteHexFile(const QString &name, const Image &image) {
    folder.Write(name, QByteArray::fromStdString(IntelHex(image)));
    return folder.File(name);
  }

  // Waits until more than `count` message boxes were shown.
  bool WaitForMessages(qsizetype count, int timeoutMs = 20000) {
    return PumpUntil([&] { return dialogs.Messages().size() > count; }, timeoutMs);
  }

  // "Online" (item 0) or "Offline" (item 1), then "Set "; the message the box's answer brought.
  QString SetMode(int item) {
    form1->RadioGroup1->Button(item)->click();
    const qsizetype before = dialogs.Messages().size();
    form1->Button8->click();
    return WaitForMessages(before) ? dialogs.Messages().back() : QStringLiteral("(no message)");
  }

  // Loads `image` from a HEX file with the load button, the file dialog
  // answered at once; the message the load ended with.
  QString Load(const Image &image, const QString &fileName = QStringLiteral("firmware.hex")) {
    dialogs.fileAnswers.push_back(WriteHexFile(fileName, image));
    const qsizetype before = dialogs.Messages().size();
    form1->Button2->click();
    return WaitForMessages(before, 60000) ? dialogs.Messages().back() : QStringLiteral("(no message)");
  }

  // The log records from record `from` on.
  std::vector<QJsonObject> Log(size_t from = 0) const {
    auto all = boxsim_test::ReadLog(logPath_);
    if (from >= all.size())
      return {};
    return {all.begin() + std::ptrdiff_t(from), all.end()};
  }
  size_t LogSize() const { return boxsim_test::ReadLog(logPath_).size(); }

  // Starts a verify from the menu and waits for its frame in the box's log
  // and for its message; the log up to that frame. Bytes the program sent
  // before it crossed the line before it, and a message it showed before it
  // came first, so "nothing more came" is proved without waiting for time to
  // pass. Nothing when the verify did not get through.
  std::optional<std::vector<QJsonObject>> LogUpToNextCheck() {
    const qsizetype messages = dialogs.Messages().size();
    const size_t mark = LogSize();
    form1->VerifyAction->trigger();
    if (!PumpUntil([&] { return !OfKind(Log(mark), "rx", "check").empty(); }, 20000) || !WaitForMessages(messages))
      return std::nullopt;
    std::vector<QJsonObject> log;
    for (const QJsonObject &r : Log()) {
      if (log.size() >= mark && r.value("dir").toString() == QLatin1String("rx") &&
          r.value("kind").toString() == QLatin1String("check"))
        break;
      log.push_back(r);
    }
    return log;
  }

  // The complete log lines written since the last call (cheap for long runs).
  std::vector<QJsonObject> NewLogRecords() {
    std::vector<QJsonObject> out;
    std::ifstream in(logPath_, std::ios::binary);
    in.seekg(std::streamoff(logOffset_));
    std::string line;
    while (std::getline(in, line) && !in.eof()) {
      logOffset_ += line.size() + 1;
      out.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    }
    return out;
  }

  static std::vector<QJsonObject> OfKind(const std::vector<QJsonObject> &log, const char *dir, const char *kind) {
    std::vector<QJsonObject> out;
    for (const auto &r : log)
      if (r.value("dir").toString() == QLatin1String(dir) && r.value("kind").toString() == QLatin1String(kind))
        out.push_back(r);
    return out;
  }

  static std::vector<LoggedBlock> Blocks(const std::vector<QJsonObject> &log) {
    std::vector<LoggedBlock> out;
    for (const auto &r : OfKind(log, "rx", "block"))
      out.push_back({r.value("n").toInt(-1), r.value("ok").toBool(), r.value("name").toString().toStdString(),
                     r.value("data").toString().toStdString()});
    return out;
  }

  // Compares every logged block with its part of `image` and the block
  // numbers with `order`; empty when all agree, else the first difference.
  static std::string CheckBlocks(const std::vector<LoggedBlock> &blocks, const Image &image,
                                 const std::vector<int> &order) {
    std::vector<int> got;
    for (const auto &b : blocks)
      got.push_back(b.n);
    if (got != order) {
      std::string s = "blocks received in order";
      for (int n : got)
        s += ' ' + std::to_string(n);
      return s;
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
      const LoggedBlock &b = blocks[i];
      if (!b.ok)
        return "block " + std::to_string(b.n) + " was refused by the box";
      if (b.n < 0 || size_t(b.n) >= image.size() / kBlockData)
        return "block number " + std::to_string(b.n) + " out of the image";
      std::string expected;
      expected.reserve(2 * kBlockData);
      for (size_t a = size_t(b.n) * kBlockData; a < size_t(b.n + 1) * kBlockData; ++a)
        expected += HexByte(image[a]);
      if (b.data != expected) {
        size_t at = 0;
        while (at < expected.size() && at < b.data.size() && expected[at] == b.data[at])
          ++at;
        return "block " + std::to_string(b.n) + " (answer " + std::to_string(i) + ") differs at byte " +
               std::to_string(at / 2);
      }
    }
    return {};
  }

  // Input the box could not place: skipped bytes, half frames, abandoned loads.
  static std::vector<QJsonObject> Stray(const std::vector<QJsonObject> &log) {
    std::vector<QJsonObject> out;
    for (const char *kind : {"junk", "drop", "abandon", "frame", "dropped"})
      for (const auto &r : log)
        if (r.value("kind").toString() == QLatin1String(kind))
          out.push_back(r);
    return out;
  }

  ProgramFolder folder;
  TimedDialogs dialogs;
  std::unique_ptr<boxsim_test::BoxSim> sim;
  std::unique_ptr<app::Program> program;
  app::TForm1 *form1 = nullptr;

private:
  std::string logPath_;
  std::string linkPath_;
  size_t logOffset_ = 0;
};

} // namespace e2e
