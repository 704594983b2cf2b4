#pragma once
// The production view: an open job run on a gang of boxes (1 to 16 ports),
// for an operator at the bench. A header names the job, its image checksum
// and who released it (the signature's trusted comment and key, or that no
// trusted key is installed) and shows the lot's counters ("passed / failed / lot size"), the
// yield and the time per unit; below, one tile per box (box_tile.h). What it
// shows is what the job's ProductionRun reports; the view only asks the run
// to start units.
//
// Keys, on the view: the start key (Space unless the settings file names
// another in [production] start_key, e.g. F13 for a foot pedal) starts every
// ready box; 1-9 start boxes 1 to 9, F1-F16 boxes 1 to 16. A key held down
// starts nothing more. While the lot's places are all held ("Lot complete:
// 500 of 500"), or the store refused the last write, the keys start nothing
// and the line that names them says why (the status bar too, as a key is
// pressed). A count the server could not give says it is not current.
//
// A job whose units take a scanned barcode has a scan field, which keeps the
// focus: a scanner types its code and Enter. The code is checked against the
// job's pattern (a refusal is shown under the field and nothing starts; so is a
// code of more than 128 characters, by its length) and
// handed to the lowest-numbered box that is not Busy or in Retry, which
// starts; F1-F16 hand it to that box instead. Digits, Space and the start key
// only type into the field (a code may hold them), so they start nothing: a
// unit started without its code would fail for want of it.
//
// With a serial-number plan, each tile's context menu opens the file buffer
// view of the box's last unit: the job's image with that unit's number in it,
// the patched bytes marked.
//
// A pass and a fail each have their sound (verdict_sounds.h), muted from the
// menu and kept in [production] mute. When the job has an engineer PIN,
// leaving the view and changing a setting are done only after the PIN is given;
// wrong PINs make the next try wait (job/pin_backoff.h, on the view's clock),
// and each is written to the log with its time.

#include "base/clock.h"
#include "job/job_file.h"
#include "job/pin_backoff.h"
#include "session/production_run.h"
#include "session/serial_numbers.h"

#include <QKeySequence>
#include <QMainWindow>
#include <QRegularExpression>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
namespace base {
class TTimer;
}

namespace app {

// The longest code the scan field hands to a box.
inline constexpr int kMostBarcodeCharacters = 128;

class BoxTile;
class Dialogs;
class TForm4;
class VerdictSounds;

class ProductionWindow : public QMainWindow {
  Q_OBJECT
public:
  // `opened` must be accepted and `ports` hold 1 to 16 names.
  ProductionWindow(const job::OpenedJob &opened, const QStringList &ports, Dialogs &dialogs, QString settingsPath,
                   base::Clock &clock, records::Recorder *recorder, session::RunOptions options);
  ~ProductionWindow() override;

  session::ProductionRun &Run() { return *run_; }
  BoxTile *Tile(int box) const { return tiles_.at(size_t(box - 1)); }
  QWidget *View() const { return view_; }
  QLabel *CountersLabel() const { return counters_; }
  QLabel *KeysLabel() const { return keys_; }
  QLabel *ReleaseLabel() const { return release_; }
  QLineEdit *BarcodeField() const { return barcode_; } // null unless the job scans barcodes
  QLabel *BarcodeStatus() const { return barcodeStatus_; }
  VerdictSounds &Sounds() { return *sounds_; }
  QAction *MuteAction = nullptr;
  QAction *LeaveAction = nullptr;

  // Leaves the view when the PIN, if the job has one, is given: every unit
  // under way is stopped, Left is emitted (while the view is still shown, so
  // a listener can show its own window first) and the view hides. False when
  // it stays.
  bool Leave();

  // The file buffer view, shown (not modal) with the image box `box`'s last
  // unit loaded, its data marked; the job's image before the box's first unit.
  TForm4 *ShowUnitImage(int box);

signals:
  void Left();

protected:
  void closeEvent(QCloseEvent *event) override;
  void changeEvent(QEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  // True when the job has no PIN or the engineer gave it.
  bool PinGiven();
  void ChooseMute(bool muted);
  void ShowCounters(const session::RunCounters &counters);
  // Why the start key starts nothing now (the lot, the store); empty when it starts.
  QString WhyNoStart() const;
  void Retranslate();
  // Starts what the key asks for; false when it is no key of the view.
  bool StartByKey(const QKeyEvent &key);
  // Hands the field's code to `box` (0: the lowest-numbered that can start) and starts it.
  void StartScanned(int box);
  // What became of the last scan, under the field.
  void ShowScanStatus(const QString &text);

  // The running units' times on their tiles, ten times a second while a box works.
  void TickUnitTimes();

  Dialogs &dialogs_;
  base::Clock &clock_;
  const QString settingsPath_;
  const QString pinHash_;
  const job::Release released_;
  job::PinBackoff pinBackoff_;
  // A job with a serial-number plan draws each unit's number here; it outlives the run that asks it.
  std::unique_ptr<session::SerialNumbers> numbers_;
  std::unique_ptr<session::ProductionRun> run_;
  std::unique_ptr<VerdictSounds> sounds_;
  QKeySequence startKey_;
  QWidget *view_ = nullptr;
  QLabel *jobName_ = nullptr;
  QLabel *checksum_ = nullptr;
  QLabel *release_ = nullptr;
  QLabel *counters_ = nullptr;
  QLabel *yield_ = nullptr;
  QLabel *unitTime_ = nullptr;
  QLabel *keys_ = nullptr;
  QLabel *barcodeLabel_ = nullptr;
  QLineEdit *barcode_ = nullptr;
  QLabel *barcodeStatus_ = nullptr;
  QRegularExpression barcodePattern_;
  QMenu *menu_ = nullptr;
  std::vector<BoxTile *> tiles_;
  std::unique_ptr<TForm4> fileView_; // made when first asked for
  QString firmwareName_;             // the job firmware's base name, the file view's caption
  std::vector<int64_t> unitStartMs_; // by box - 1, by the run's clock
  base::TTimer *ticker_ = nullptr;
  bool leaving_ = false;
};

} // namespace app
