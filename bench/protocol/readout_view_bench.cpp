// Time the GUI thread spends on a whole 36 KiB read-out (9 data blocks, 2304
// lines): the reply handler turning each 4096-byte burst into 256 lines and
// appending them to the read-out view, and then the repaint of the shown view.
// Runs offscreen; prints the median and the worst of several rounds.
#include "app/shared_state.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "app/ui/form3.h"
#include "app/ui/program.h"
#include "serial/serial_layer.h"
#include "session/box_session.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class SilentDialogs : public app::Dialogs {
public:
  void ShowMessage(QWidget *, const QString &) override {}
  void ShowError(QWidget *, const QString &) override {}
  std::optional<app::ChosenFile> GetOpenFileName(QWidget *) override { return std::nullopt; }
  std::optional<QString> GetSaveFileName(QWidget *, const QString &) override { return std::nullopt; }
  void ShowModal(QWidget *) override {}
  void Beep() override {}
  void ShowAbout(QWidget *, const QString &) override {}
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir folder;
  SilentDialogs dialogs;
  app::Program program(dialogs, serial::MakePlatformSerialLayer(), folder.path() + QLatin1Char('/'));
  app::TForm1 &form1 = *program.Form1;
  app::SharedState &state = program.State;
  state.ChipStart = QStringLiteral("0000");
  state.ChipEnd = QStringLiteral("7FFF");
  state.ChipSizeK = QStringLiteral("36");
  state.DataflashCode = QStringLiteral("0xB0");
  program.Form3->show();
  QApplication::processEvents();

  std::vector<uint8_t> burst(image::kBlockDataSize);
  for (size_t i = 0; i < burst.size(); ++i)
    burst[i] = uint8_t(i * 31 + 7);

  const int rounds = 15;
  std::vector<double> handler, perBlockWorst, paint;
  for (int round = 0; round < rounds; ++round) {
    form1.Button7Click(); // clears the view, as a new read-out does
    QApplication::processEvents();
    QElapsedTimer total;
    double worst = 0;
    double sum = 0;
    for (int block = 0; block < 9; ++block) {
      total.start();
      form1.Session().ReceiveData(burst.data(), uint16_t(burst.size()));
      const double ms = double(total.nsecsElapsed()) / 1e6;
      worst = std::max(worst, ms);
      sum += ms;
    }
    total.start();
    program.Form3->Memo1->repaint();
    QApplication::processEvents();
    paint.push_back(double(total.nsecsElapsed()) / 1e6);
    handler.push_back(sum);
    perBlockWorst.push_back(worst);
    if (program.Form3->Memo1->document()->blockCount() != 2304) {
      std::fprintf(stderr, "expected 2304 lines, got %d\n", program.Form3->Memo1->document()->blockCount());
      return 1;
    }
  }
  std::printf("read-out of 36 KiB (9 bursts, 2304 lines) into the shown read-out view, %d rounds:\n", rounds);
  std::printf("  reply handler, all 9 bursts: median %.2f ms, worst %.2f ms\n", Median(handler),
              *std::max_element(handler.begin(), handler.end()));
  std::printf("  reply handler, one burst:    worst %.2f ms\n",
              *std::max_element(perBlockWorst.begin(), perBlockWorst.end()));
  std::printf("  repaint afterwards:          median %.2f ms\n", Median(paint));
  return 0;
}
