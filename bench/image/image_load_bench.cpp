// Time the GUI thread spends on a load of a HEX file that fills the whole
// 64 KiB address space (4096 records of 16 bytes, CR LF): reading the file,
// reading the HEX text into the image (the firmware reader), packing the blocks, filling the shown file buffer view
// and queueing block 0; then the repaint of the view. The steps are also timed
// one by one over the same data. Then a unit with a serial number of its own,
// as a production run makes it: the copy of the firmware's image it writes its
// number into (the heap it holds while the unit runs) and the time to copy,
// patch and pack it. Runs offscreen; prints medians and the worst.
#include "app/shared_state.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "app/ui/form4.h"
#include "app/ui/program.h"
#include "image/firmware_file.h"
#include "image/file_view.h"
#include "image/image_blocks.h"
#include "image/image_file.h"
#include "serial/comm.h"
#include "session/operation_request.h"
#include "numbering/serial_plan.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <memory>
#include <vector>

namespace {

class FileDialogs : public app::Dialogs {
public:
  QString path;
  int messages = 0;
  void ShowMessage(QWidget *, const QString &) override { ++messages; }
  void ShowError(QWidget *, const QString &) override { ++messages; }
  std::optional<app::ChosenFile> GetOpenFileName(QWidget *) override { return app::ChosenFile(path); }
  std::optional<QString> GetSaveFileName(QWidget *, const QString &) override { return std::nullopt; }
  void ShowModal(QWidget *) override {}
  void Beep() override {}
  void ShowAbout(QWidget *, const QString &) override {}
};

QByteArray FullImageHex() {
  QByteArray out;
  char line[64];
  for (uint32_t address = 0; address < 0x10000; address += 16) {
    uint32_t sum = 16 + (address >> 8) + (address & 0xFF);
    int n = std::snprintf(line, sizeof line, ":10%04X00", unsigned(address));
    for (uint32_t i = 0; i < 16; ++i) {
      const uint8_t b = uint8_t((address + i) * 7 + (address >> 8));
      sum += b;
      n += std::snprintf(line + n, sizeof line - size_t(n), "%02X", b);
    }
    std::snprintf(line + n, sizeof line - size_t(n), "%02X\r\n", unsigned((256 - (sum & 0xFF)) & 0xFF));
    out += line;
  }
  out += ":00000001FF\r\n";
  return out;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double Worst(const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); }

double TimeMs(const std::function<void()> &f) {
  QElapsedTimer t;
  t.start();
  f();
  return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir folder;
  const QString hexPath = folder.filePath(QStringLiteral("full64k.hex"));
  {
    QFile f(hexPath);
    if (!f.open(QIODevice::WriteOnly) || f.write(FullImageHex()) < 0)
      return 1;
  }
  // A port that cannot be opened: the sends are refused at once, as the line is not what is timed.
  QFile ini(folder.filePath(QStringLiteral("sysset.ini")));
  if (ini.open(QIODevice::WriteOnly))
    ini.write("[comx]\nnum=/nonexistent/kavrin-bench\n");
  ini.close();

  FileDialogs dialogs;
  dialogs.path = hexPath;
  app::Program program(dialogs, serial::MakePlatformSerialLayer(), folder.path() + QLatin1Char('/'));
  app::TForm1 &form1 = *program.Form1;
  app::SharedState &state = program.State;
  program.Form4->show();
  QApplication::processEvents();

  const int rounds = 15;
  std::vector<double> load, paint, readFile, readHex, pack, dump, fill;
  for (int round = 0; round < rounds; ++round) {
    load.push_back(TimeMs([&] { form1.Button2Click(); }));
    paint.push_back(TimeMs([&] {
      program.Form4->Memo1->repaint();
      QApplication::processEvents();
    }));
    if (dialogs.messages != 0 || program.Form4->Memo1->document()->blockCount() != 2048) {
      std::fprintf(stderr, "the load did not complete\n");
      return 1;
    }

    QByteArray file;
    readFile.push_back(TimeMs([&] { file = image::ReadImageFile(hexPath); }));
    readHex.push_back(TimeMs([&] { state.ImageText = image::ReadFirmwareBytes(file).image.Text(); }));
    std::vector<uint8_t> blocks(size_t(image::kBlockSlots) * image::kBlockSlotSize);
    const image::FirmwareFile firmware = image::ReadFirmwareBytes(file);
    pack.push_back(TimeMs([&] {
      image::BuildBlocks(firmware.image.bytes, 32768, QStringLiteral("0000"), image::BlockTrailer{}, blocks);
    }));
    QStringList lines;
    dump.push_back(TimeMs([&] { lines = image::DumpLines(state.ImageText, 32768, QStringLiteral("0000")); }));
    fill.push_back(TimeMs([&] { program.Form4->ShowImage(QStringLiteral("full64k"), lines); }));
  }
  std::printf("load of a 64 KiB-image HEX file (%lld bytes, 4097 records), %d rounds:\n",
              static_cast<long long>(QFileInfo(hexPath).size()), rounds);
  std::printf("  whole load handler:     median %6.2f ms, worst %6.2f ms\n", Median(load), Worst(load));
  std::printf("    reading the file:     median %6.2f ms\n", Median(readFile));
  std::printf("    reading the HEX text: median %6.2f ms\n", Median(readHex));
  std::printf("    packing the blocks:   median %6.2f ms\n", Median(pack));
  std::printf("    dump lines:           median %6.2f ms\n", Median(dump));
  std::printf("    filling the view:     median %6.2f ms\n", Median(fill));
  std::printf("  repaint afterwards:     median %6.2f ms\n", Median(paint));

  // A unit's own image, made as session::UnitRun makes it.
  const image::FirmwareFile firmware = image::ReadFirmware(hexPath);
  const auto shared = std::make_shared<const std::vector<uint8_t>>(firmware.image.bytes);
  const QByteArray serial("SN000100");
  size_t heap = 0;
  std::vector<double> unitImage;
  for (int round = 0; round < rounds; ++round) {
    const size_t before = mallinfo2().uordblks;
    std::shared_ptr<const session::LoadImage> packed;
    std::vector<uint8_t> copy;
    unitImage.push_back(TimeMs([&] {
      copy = *shared;
      numbering::Patch(copy, 0x7F00, serial);
      packed = session::PackLoadImage(copy, {hexPath, firmware.sha256}, 12, 0xF, firmware.ranges);
    }));
    heap = mallinfo2().uordblks - before - packed->blocks.capacity();
  }
  std::printf("a unit with a serial number, %d rounds:\n", rounds);
  std::printf("  its image's copy:       %zu KiB of heap\n", heap / 1024);
  std::printf("  copy, patch and pack:   median %6.2f ms, worst %6.2f ms\n", Median(unitImage), Worst(unitImage));
  return 0;
}
