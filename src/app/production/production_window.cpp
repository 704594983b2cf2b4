#include "app/production/production_window.h"

#include "app/production/box_tile.h"
#include "app/production/verdict_sounds.h"
#include "app/settings_file.h"
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form4.h"
#include "base/exception.h"
#include "base/printable.h"
#include "base/timer.h"
#include "image/firmware_image.h"
#include "image/file_view.h"
#include "job/pin.h"
#include "session/operator_name.h"
#include "numbering/serial_plan.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QStatusBar>
#include <QVBoxLayout>

namespace app {

using session::ProductionRun;
using session::RunCounters;
using session::UnitState;
using session::UnitStatus;

ProductionWindow::ProductionWindow(const job::OpenedJob &opened, const QStringList &ports, Dialogs &dialogs,
                                   QString settingsPath, base::Clock &clock, records::Recorder *recorder,
                                   session::RunOptions options)
    : dialogs_(dialogs), clock_(clock), settingsPath_(std::move(settingsPath)), pinHash_(opened.job->pinHash),
      released_(opened.release), numbers_(session::SerialNumbers::ForJob(opened, recorder, ports)),
      run_(std::make_unique<ProductionRun>(opened, ports, clock, recorder, std::move(options))),
      sounds_(std::make_unique<VerdictSounds>()) {
  if (numbers_) {
    run_->SetUnitDataProvider(numbers_.get());
    // The store's reason stays with the text; units go on from the numbers already reserved.
    connect(numbers_.get(), &session::SerialNumbers::Notice, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
  }
  setObjectName(QStringLiteral("ProductionWindow"));
  firmwareName_ = image::BaseName(opened.firmwarePath);
  const SettingsFile settings(settingsPath_);
  startKey_ = QKeySequence::fromString(settings.ReadString(kProductionSection, kStartKeyKey, QStringLiteral("Space")),
                                       QKeySequence::PortableText);
  // A setting that names no single key leaves the start on Space.
  if (startKey_.count() != 1)
    startKey_ = QKeySequence(Qt::Key_Space);
  sounds_->SetMuted(settings.ReadString(kProductionSection, kMuteKey, QStringLiteral("0")) == QStringLiteral("1"));

  view_ = new QWidget(this);
  view_->setObjectName(QStringLiteral("ProductionView"));
  view_->setFocusPolicy(Qt::StrongFocus);
  view_->installEventFilter(this);
  setCentralWidget(view_);
  auto *column = new QVBoxLayout(view_);

  auto *header = new QGridLayout;
  jobName_ = HeaderLabel(view_, "JobName", 26, true);
  checksum_ = HeaderLabel(view_, "ImageChecksum", 18);
  release_ = HeaderLabel(view_, "Release", 18);
  release_->setAccessibleName(QStringLiteral("Release"));
  counters_ = HeaderLabel(view_, "Counters", 26, true);
  yield_ = HeaderLabel(view_, "Yield", 22, true);
  unitTime_ = HeaderLabel(view_, "UnitTime", 18);
  keys_ = HeaderLabel(view_, "Keys", 14);
  header->addWidget(jobName_, 0, 0);
  header->addWidget(checksum_, 1, 0);
  header->addWidget(counters_, 0, 1);
  header->addWidget(yield_, 0, 2);
  header->addWidget(unitTime_, 1, 2);
  header->addWidget(keys_, 1, 1);
  header->addWidget(release_, 2, 0, 1, 3);
  auto *who = new QHBoxLayout;
  operatorLabel_ = HeaderLabel(view_, "OperatorLabel", 18);
  operator_ = new QLineEdit(view_);
  operator_->setObjectName(QStringLiteral("Operator"));
  operator_->setAccessibleName(QStringLiteral("Operator"));
  QFont operatorFont = operator_->font();
  operatorFont.setPixelSize(18);
  operator_->setFont(operatorFont);
  operator_->installEventFilter(this);
  operatorLabel_->setBuddy(operator_);
  operatorStatus_ = HeaderLabel(view_, "OperatorStatus", 18);
  // A refusal is shown in the room there is: a long badge never widens the view.
  operatorStatus_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  who->addWidget(operatorLabel_);
  who->addWidget(operator_, 3);
  who->addWidget(operatorStatus_, 2);
  header->addLayout(who, 3, 0, 1, 3);
  header->setColumnStretch(0, 1);
  column->addLayout(header);

  if (numbers_ && opened.job->serial->Source() == numbering::SerialSource::Barcode) {
    barcodePattern_ = QRegularExpression(QRegularExpression::anchoredPattern(opened.job->serial->barcodePattern));
    auto *scan = new QHBoxLayout;
    barcodeLabel_ = HeaderLabel(view_, "BarcodeLabel", 18);
    barcode_ = new QLineEdit(view_);
    barcode_->setObjectName(QStringLiteral("Barcode"));
    barcode_->setAccessibleName(QStringLiteral("Barcode"));
    QFont font = barcode_->font();
    font.setPixelSize(18);
    barcode_->setFont(font);
    barcode_->installEventFilter(this);
    barcodeLabel_->setBuddy(barcode_);
    barcodeStatus_ = HeaderLabel(view_, "BarcodeStatus", 18);
    // What a scan brings is shown in the room there is: it never widens the view.
    barcodeStatus_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    scan->addWidget(barcodeLabel_);
    scan->addWidget(barcode_, 1);
    scan->addWidget(barcodeStatus_, 2);
    column->addLayout(scan);
    // The field keeps the focus: a click on a tile must not leave the scanner typing into nothing.
    view_->setFocusPolicy(Qt::NoFocus);
  }

  auto *grid = new QGridLayout;
  const int boxes = run_->BoxCount();
  const int columns = boxes <= 4 ? boxes : boxes <= 9 ? 3 : 4;
  for (int box = 1; box <= boxes; ++box) {
    auto *tile = new BoxTile(run_->Unit(box), view_);
    grid->addWidget(tile, (box - 1) / columns, (box - 1) % columns);
    tiles_.push_back(tile);
    if (numbers_) {
      auto *fileView = new QAction(tile);
      tile->addAction(fileView);
      tile->setContextMenuPolicy(Qt::ActionsContextMenu);
      connect(fileView, &QAction::triggered, this, [this, box] { ShowUnitImage(box); });
    }
  }
  column->addLayout(grid, 1);

  menu_ = menuBar()->addMenu(QString());
  MuteAction = menu_->addAction(QString());
  MuteAction->setCheckable(true);
  MuteAction->setChecked(sounds_->Muted());
  LeaveAction = menu_->addAction(QString());
  ChangeOperatorAction = menu_->addAction(QString());
  ChangeOperatorAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  // Whoever stands at the bench may hand it over: no PIN.
  connect(ChangeOperatorAction, &QAction::triggered, this, [this] { AskOperator(); });
  connect(MuteAction, &QAction::triggered, this, [this](bool muted) { ChooseMute(muted); });
  connect(LeaveAction, &QAction::triggered, this, [this] { Leave(); });

  unitStartMs_.assign(size_t(boxes), 0);
  ticker_ = new base::TTimer(this, 100, clock_);
  ticker_->OnTimer = [this] { TickUnitTimes(); };
  connect(run_.get(), &ProductionRun::UnitChanged, this, [this](const UnitStatus &status) {
    BoxTile *tile = Tile(status.box);
    if (status.unitUid != tile->Status().unitUid) {
      unitStartMs_[size_t(status.box - 1)] = clock_.NowMs();
      tile->ShowElapsed(0);
    }
    tile->Show(status);
    ticker_->SetEnabled(run_->Busy());
  });
  connect(run_.get(), &ProductionRun::UnitEnded, this, [this](const UnitStatus &status) {
    Tile(status.box)->Show(status);
    ticker_->SetEnabled(run_->Busy());
    if (status.state == UnitState::Pass || status.state == UnitState::Fail)
      sounds_->Play(status.state == UnitState::Pass);
  });
  connect(run_.get(), &ProductionRun::CountersChanged, this, [this](const RunCounters &c) { ShowCounters(c); });
  connect(run_.get(), &ProductionRun::Notice, this, [this](int box, const QString &text) {
    dialogs_.ShowError(this, QStringLiteral("Box %1: %2").arg(box).arg(text));
  });

  Retranslate();
  resize(std::min(4, boxes) * 260 + 40, ((boxes + columns - 1) / columns) * 170 + (barcode_ ? 250 : 210));
  AskOperator();
}

ProductionWindow::~ProductionWindow() = default;

TForm4 *ProductionWindow::ShowUnitImage(int box) {
  if (!fileView_)
    fileView_ = std::make_unique<TForm4>();
  image::ImageTable table = run_->Firmware().image;
  std::vector<TForm4::Marked> marked;
  for (const session::ImagePatch &patch : run_->UnitPatches(box)) {
    table.Put(patch.address,
              std::span(reinterpret_cast<const uint8_t *>(patch.bytes.constData()), size_t(patch.bytes.size())));
    marked.push_back({patch.address, int(patch.bytes.size())});
  }
  const QString serial = run_->Unit(box).serial;
  fileView_->ShowImage(serial.isEmpty() ? firmwareName_ : firmwareName_ + QStringLiteral(" – ") + serial,
                       image::DumpLines(table.Text(), image::kLoadImageSize, QStringLiteral("0000")));
  fileView_->MarkBytes(marked);
  fileView_->show();
  fileView_->raise();
  return fileView_.get();
}

void ProductionWindow::TickUnitTimes() {
  const int64_t now = clock_.NowMs();
  for (BoxTile *tile : tiles_) {
    const UnitState state = tile->Status().state;
    if (state == UnitState::Busy || state == UnitState::Retry)
      tile->ShowElapsed((now - unitStartMs_[size_t(tile->Status().box - 1)]) / 100);
  }
  ticker_->SetEnabled(run_->Busy());
}

void ProductionWindow::Retranslate() {
  setWindowTitle(QCoreApplication::translate("Production", "生产：%1").arg(run_->Job().name));
  jobName_->setText(run_->Job().name);
  checksum_->setText(run_->ImageChecksum());
  release_->setText(released_.checked
                        ? QCoreApplication::translate("Production", "放行：%1").arg(job::ReleaseText(released_))
                        : QCoreApplication::translate("Production", "签名：无（未安装受信任的密钥）"));
  release_->setAccessibleDescription(release_->text());
  operatorLabel_->setText(QCoreApplication::translate("Production", "操作员："));
  operator_->setPlaceholderText(QCoreApplication::translate("Production", "输入姓名或扫描工牌，按 Enter"));
  operator_->setAccessibleDescription(
      run_->Operator().isEmpty()
          ? QCoreApplication::translate("Production", "未输入操作员")
          : QCoreApplication::translate("Production", "操作员：%1").arg(run_->Operator()));
  if (barcode_)
    barcodeLabel_->setText(QCoreApplication::translate("Production", "条码："));
  ShowCounters(run_->Counters());
  menu_->setTitle(QCoreApplication::translate("Window", "&Production"));
  MuteAction->setText(QCoreApplication::translate("Window", "&Mute sounds"));
  LeaveAction->setText(QCoreApplication::translate("Window", "&Leave production view"));
  ChangeOperatorAction->setText(QCoreApplication::translate("Window", "&Change operator"));
  for (BoxTile *tile : tiles_)
    for (QAction *action : tile->actions())
      action->setText(QCoreApplication::translate("Window", "&File buffer of the last unit"));
}

QString ProductionWindow::WhyNoStart() const {
  if (run_->Operator().isEmpty())
    return QCoreApplication::translate("Production", "请先输入操作员：姓名或扫描工牌，按 Enter");
  const RunCounters &c = run_->Counters();
  if (c.lotSize > 0 && c.passed >= c.lotSize)
    return QCoreApplication::translate("Production", "批量已完成：%1 / %2").arg(c.passed).arg(c.lotSize);
  if (c.Full())
    return QCoreApplication::translate("Production", "批量的位置都已占用：%1 个合格，%2 个正在编程")
        .arg(c.passed)
        .arg(c.running);
  if (const QString refusal = run_->StartRefusal(); !refusal.isEmpty())
    return QCoreApplication::translate("Production", "生产记录无法写入，不启动编程器：%1").arg(refusal);
  return {};
}

void ProductionWindow::ShowCounters(const RunCounters &c) {
  QString counts = QCoreApplication::translate("Production", "合格 / 不合格 / 批量：%1 / %2 / %3")
                       .arg(c.passed)
                       .arg(c.failed)
                       .arg(c.lotSize);
  // A server out of reach: its last count and this station's own units since.
  if (!c.current)
    counts += QCoreApplication::translate("Production", "（计数不是最新）");
  counters_->setText(counts);
  // The start key says why it starts nothing, where it says what it starts.
  if (const QString why = WhyNoStart(); !why.isEmpty())
    keys_->setText(why);
  else if (barcode_)
    keys_->setText(
        QCoreApplication::translate("Production", "扫描条码后 Enter：交给下一个就绪的编程器　F1–F16：交给该编程器"));
  else
    keys_->setText(QCoreApplication::translate("Production", "%1：启动所有就绪的编程器　1–9、F1–F16：启动该编程器")
                       .arg(startKey_.toString(QKeySequence::NativeText)));
  keys_->setAccessibleName(keys_->text());
  const double yield = c.YieldPercent();
  yield_->setText(QCoreApplication::translate("Production", "良率：%1")
                      .arg(yield < 0 ? QStringLiteral("–") : QString::number(yield, 'f', 1) + QStringLiteral(" %")));
  unitTime_->setText(QCoreApplication::translate("Production", "每件用时：%1")
                         .arg(c.meanUnitSeconds > 0 ? QString::number(c.meanUnitSeconds, 'f', 1) +
                                                          QCoreApplication::translate("Production", " 秒")
                                                    : QStringLiteral("–")));
  // Why the lot's earlier units are not counted stays beside the counters.
  counters_->setToolTip(c.error);
}

void ProductionWindow::changeEvent(QEvent *event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::LanguageChange)
    Retranslate();
}

bool ProductionWindow::PinGiven() {
  if (pinHash_.isEmpty())
    return true;
  std::optional<QByteArray> pin = dialogs_.AskPin(this, QCoreApplication::translate("Production", "工程师密码："),
                                                  clock_, pinBackoff_.NextTryAtMs());
  if (!pin)
    return false;
  // The dialog lets no PIN through before its countdown ends; one that came
  // anyway is not tried.
  if (const int64_t wait = pinBackoff_.WaitMs(clock_.NowMs()); wait > 0) {
    job::Wipe(*pin);
    dialogs_.ShowError(this,
                       QCoreApplication::translate("Production", "请等待 %1 秒后再试。").arg((wait + 999) / 1000));
    return false;
  }
  const bool matches = job::PinMatches(pinHash_, *pin);
  job::Wipe(*pin);
  if (matches) {
    pinBackoff_.Right();
    return true;
  }
  pinBackoff_.Wrong(clock_.NowMs());
  // Who tries PINs, and when, is for the log; the PIN itself never is.
  qWarning().noquote() << QStringLiteral("kavrin-programmer: %1: a wrong engineer PIN for the job \"%2\", %3 in a "
                                         "row; the next try waits %4 s")
                              .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), run_->Job().name,
                                   QString::number(pinBackoff_.WrongInARow()),
                                   QString::number(pinBackoff_.WaitMs(clock_.NowMs()) / 1000));
  dialogs_.ShowError(this, QCoreApplication::translate("Production", "密码错误。"));
  return false;
}

void ProductionWindow::ChooseMute(bool muted) {
  if (!PinGiven()) {
    MuteAction->setChecked(sounds_->Muted());
    return;
  }
  sounds_->SetMuted(muted);
  try {
    SettingsFile(settingsPath_)
        .WriteString(kProductionSection, kMuteKey, muted ? QStringLiteral("1") : QStringLiteral("0"));
  } catch (const base::Exception &e) {
    // The choice holds for this run even when it cannot be kept for the next.
    dialogs_.ShowError(this, e.Message());
  }
}

bool ProductionWindow::Leave() {
  if (leaving_)
    return true;
  if (!PinGiven())
    return false;
  leaving_ = true;
  run_->Stop();
  emit Left();
  hide();
  return true;
}

void ProductionWindow::closeEvent(QCloseEvent *event) {
  if (Leave())
    event->accept();
  else
    event->ignore();
}

bool ProductionWindow::StartByKey(const QKeyEvent &key) {
  const auto refused = [this] {
    const QString why = WhyNoStart();
    if (!why.isEmpty())
      statusBar()->showMessage(why);
    return !why.isEmpty();
  };
  if (QKeySequence(key.keyCombination()) == startKey_) {
    if (!refused())
      run_->StartAll();
    return true;
  }
  if (key.modifiers() & ~Qt::KeypadModifier)
    return false;
  int box = 0;
  if (key.key() >= Qt::Key_1 && key.key() <= Qt::Key_9)
    box = key.key() - Qt::Key_0;
  else if (key.key() >= Qt::Key_F1 && key.key() <= Qt::Key_F16)
    box = key.key() - Qt::Key_F1 + 1;
  if (box == 0 || box > run_->BoxCount())
    return false;
  if (!refused())
    run_->Start(box);
  return true;
}

void ProductionWindow::ShowScanStatus(const QString &text) {
  // The line keeps its room; what does not fit it is in the tooltip and read out.
  barcodeStatus_->setText(text);
  barcodeStatus_->setToolTip(text);
  barcodeStatus_->setAccessibleDescription(text);
}

QWidget *ProductionWindow::WorkFocus() const { return barcode_ ? static_cast<QWidget *>(barcode_) : view_; }

void ProductionWindow::ShowOperatorStatus(const QString &text) {
  operatorStatus_->setText(text);
  operatorStatus_->setToolTip(text);
  operatorStatus_->setAccessibleDescription(text);
}

void ProductionWindow::AskOperator() {
  run_->SetOperator(QString());
  operator_->clear();
  operator_->setToolTip(QString());
  operator_->setReadOnly(false);
  operator_->setFocusPolicy(Qt::StrongFocus);
  ShowOperatorStatus(QString());
  Retranslate();
  operator_->setFocus();
}

void ProductionWindow::TakeOperator() {
  const QString name = operator_->text().trimmed();
  // A scanner's next badge must not add to what is left of a refused one.
  operator_->clear();
  if (name.isEmpty()) {
    ShowOperatorStatus(QCoreApplication::translate("Production", "请输入姓名或扫描工牌，再按 Enter。"));
    return;
  }
  if (const qsizetype characters = base::Characters(name); characters > session::kMostOperatorCharacters) {
    ShowOperatorStatus(QCoreApplication::translate("Production", "姓名或工牌长 %1 个字符，超过 %2 个，未采用。")
                           .arg(characters)
                           .arg(session::kMostOperatorCharacters));
    return;
  }
  if (!session::OperatorRefusal(name).isEmpty()) {
    ShowOperatorStatus(QCoreApplication::translate("Production", "姓名或工牌含有控制字符或格式字符，未采用。"));
    return;
  }
  run_->SetOperator(name);
  operator_->setText(name);
  operator_->setCursorPosition(0);
  operator_->setToolTip(name);
  operator_->setReadOnly(true);
  operator_->setFocusPolicy(Qt::NoFocus);
  ShowOperatorStatus(QString());
  Retranslate();
  WorkFocus()->setFocus();
}

void ProductionWindow::StartScanned(int box) {
  const QString code = barcode_->text();
  barcode_->clear();
  if (code.isEmpty())
    return; // a stray Enter
  if (const QString why = WhyNoStart(); !why.isEmpty()) {
    ShowScanStatus(why);
    return;
  }
  if (code.size() > kMostBarcodeCharacters) {
    ShowScanStatus(QCoreApplication::translate("Production", "条码长 %1 个字符，超过 %2 个，未启动。")
                       .arg(code.size())
                       .arg(kMostBarcodeCharacters));
    return;
  }
  if (!barcodePattern_.match(code).hasMatch()) {
    ShowScanStatus(QCoreApplication::translate("Production", "条码“%1”不符合作业的格式 %2，未启动。")
                       .arg(code, run_->Job().serial->barcodePattern));
    return;
  }
  const auto canStart = [this](int b) {
    const UnitState state = run_->Unit(b).state;
    return state != UnitState::Busy && state != UnitState::Retry;
  };
  if (box == 0) {
    for (int b = 1; b <= run_->BoxCount() && box == 0; ++b)
      if (canStart(b))
        box = b;
    if (box == 0) {
      ShowScanStatus(QCoreApplication::translate("Production", "所有编程器都在工作，条码“%1”未使用。").arg(code));
      return;
    }
  } else if (box > run_->BoxCount()) {
    ShowScanStatus(QCoreApplication::translate("Production", "没有编程器 %1，条码“%2”未使用。").arg(box).arg(code));
    return;
  } else if (!canStart(box)) {
    // A code handed to a box that cannot take it would wait there for that box's next unit.
    ShowScanStatus(
        QCoreApplication::translate("Production", "编程器 %1 正在工作，条码“%2”未使用。").arg(box).arg(code));
    return;
  }
  numbers_->Scanned(box, code);
  run_->Start(box);
  ShowScanStatus(QCoreApplication::translate("Production", "条码“%1”：编程器 %2").arg(code, QString::number(box)));
}

bool ProductionWindow::eventFilter(QObject *watched, QEvent *event) {
  if (watched == operator_ && event->type() == QEvent::KeyPress) {
    auto *key = static_cast<QKeyEvent *>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (!enter || (key->modifiers() & ~Qt::KeypadModifier))
      return false;
    // A key held down names the operator once, not an empty field again and again.
    if (!key->isAutoRepeat() && !operator_->isReadOnly())
      TakeOperator();
    return true;
  }
  if (watched == barcode_ && event->type() == QEvent::KeyPress) {
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() & ~Qt::KeypadModifier)
      return false;
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const bool boxKey =
        key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F16 && QKeySequence(key->keyCombination()) != startKey_;
    if (!enter && !boxKey)
      return false;
    // A key held down hands over one code, not an empty field again and again.
    if (!key->isAutoRepeat())
      StartScanned(enter ? 0 : key->key() - Qt::Key_F1 + 1);
    return true;
  }
  // With a scan field every unit needs its code: what the field leaves (the start key) starts nothing.
  if (barcode_ && watched == view_ && event->type() == QEvent::KeyPress)
    return true;
  if (watched == view_ && event->type() == QEvent::KeyPress) {
    auto *key = static_cast<QKeyEvent *>(event);
    // A pedal held down repeats its key; one press is one start.
    if (key->isAutoRepeat())
      return true;
    if (StartByKey(*key))
      return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

} // namespace app
