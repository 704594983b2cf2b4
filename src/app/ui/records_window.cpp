#include "app/ui/records_window.h"

#include "app/ui/yield_chart.h"
#include "session/operator_text.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace app {

namespace {

// What the table shows, in order: the operator's questions first. The CSV
// keeps the store's own column order.
struct Column {
  const char *header;
  const char *field; // a column of records::Fields(), or "id"
  int chars;         // width in average characters
};
const Column kColumns[] = {
    {QT_TRANSLATE_NOOP("Records", "Finished"), "finished_at", 21},
    {QT_TRANSLATE_NOOP("Records", "Result"), "result", 14},
    {QT_TRANSLATE_NOOP("Records", "Operation"), "operation", 18},
    {QT_TRANSLATE_NOOP("Records", "File"), "file_path", 36},
    {QT_TRANSLATE_NOOP("Records", "Checksum"), "image_checksum", 20},
    {QT_TRANSLATE_NOOP("Records", "Chip"), "chip", 10},
    {QT_TRANSLATE_NOOP("Records", "Station"), "station", 10},
    {QT_TRANSLATE_NOOP("Records", "Serial"), "serial", 14},
    {QT_TRANSLATE_NOOP("Records", "Operator"), "operator", 16},
    {QT_TRANSLATE_NOOP("Records", "Message"), "message", 36},
    {QT_TRANSLATE_NOOP("Records", "Duration (ms)"), "duration_ms", 13},
    {QT_TRANSLATE_NOOP("Records", "Bytes sent"), "bytes_sent", 11},
    {QT_TRANSLATE_NOOP("Records", "Front end"), "front_end", 10},
    {QT_TRANSLATE_NOOP("Records", "Mode"), "mode", 9},
    {QT_TRANSLATE_NOOP("Records", "Power"), "power", 8},
    {QT_TRANSLATE_NOOP("Records", "Count"), "count", 8},
    {QT_TRANSLATE_NOOP("Records", "Sectors"), "sectors", 10},
    {QT_TRANSLATE_NOOP("Records", "Dataflash"), "dataflash", 10},
    {QT_TRANSLATE_NOOP("Records", "Host"), "host", 16},
    {QT_TRANSLATE_NOOP("Records", "Port"), "port_path", 30},
    {QT_TRANSLATE_NOOP("Records", "File SHA-256"), "file_sha256", 66},
    {QT_TRANSLATE_NOOP("Records", "Job SHA-256"), "job_sha256", 66},
    {QT_TRANSLATE_NOOP("Records", "Released"), "job_release", 30},
    {QT_TRANSLATE_NOOP("Records", "Started"), "started_at", 24},
    {QT_TRANSLATE_NOOP("Records", "Version"), "program_version", 9},
    {QT_TRANSLATE_NOOP("Records", "Id"), "id", 9},
    {QT_TRANSLATE_NOOP("Records", "Record UID"), "record_uid", 38},
};

const records::Field *FieldNamed(const char *name) {
  for (const records::Field &f : records::Fields())
    if (std::string_view(f.name) == name)
      return &f;
  return nullptr;
}

const QDate kAnyDate(2000, 1, 1);

QString RecordsText(const char *text) { return QCoreApplication::translate("Records", text); }

} // namespace

RecordsModel::RecordsModel(const records::StoreLocation &where, QObject *parent)
    : QAbstractTableModel(parent), reader_(where) {
  connect(&reader_, &records::AsyncReader::Fetched, this, &RecordsModel::Arrived);
  connect(&reader_, &records::AsyncReader::Exported, this,
          [this](int, qint64 count, const QString &error) { emit Exported(count, error); });
}

void RecordsModel::SetFilter(const records::Filter &f) {
  beginResetModel();
  filter_ = f;
  filter_.before.reset();
  rows_.clear();
  more_ = false;
  endResetModel();
  Ask();
}

void RecordsModel::Ask() {
  records::Filter page = filter_;
  page.limit = kPageRows;
  if (!rows_.empty())
    page.before = records::KeyOf(rows_.back());
  waiting_ = reader_.Fetch(page);
}

void RecordsModel::Export(const QString &path) {
  records::Filter all = filter_;
  all.limit = 0;
  reader_.Export(all, path);
}

void RecordsModel::Arrived(int ticket, const std::vector<records::Record> &rows, const QString &error) {
  if (ticket != waiting_)
    return; // asked for another filter meanwhile
  waiting_ = 0;
  more_ = error.isEmpty() && int(rows.size()) == kPageRows;
  if (!rows.empty()) {
    beginInsertRows(QModelIndex(), int(rows_.size()), int(rows_.size() + rows.size()) - 1);
    rows_.insert(rows_.end(), rows.begin(), rows.end());
    endInsertRows();
  }
  emit PageArrived(error);
}

int RecordsModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int RecordsModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(std::size(kColumns));
}

QVariant RecordsModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
    return QVariant();
  const records::Record &r = rows_[size_t(index.row())];
  const Column &c = kColumns[index.column()];
  const records::Field *f = FieldNamed(c.field);
  if (!f)
    return r.id;
  if (f->kind == records::Field::Time)
    return (r.*f->time).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
  if (f->kind == records::Field::Integer)
    return r.*f->integer;
  // The record keeps the designed text; the operator reads it in the language
  // in use, the text as kept in its tooltip.
  if (f->text == &records::Record::message && role == Qt::DisplayRole)
    return session::ShownText(r.message);
  return r.*f->text;
}

QVariant RecordsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < int(std::size(kColumns)))
    return RecordsText(kColumns[section].header);
  return QAbstractTableModel::headerData(section, orientation, role);
}

bool RecordsModel::canFetchMore(const QModelIndex &parent) const { return !parent.isValid() && more_ && !waiting_; }

void RecordsModel::fetchMore(const QModelIndex &parent) {
  if (canFetchMore(parent))
    Ask();
}

RecordsWindow::RecordsWindow(const records::StoreLocation &where, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs) {
  setWindowTitle(RecordsText(kCaptionText));
  resize(1100, 800);

  const auto dateEdit = [this] {
    auto *edit = new QDateEdit(this);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setMinimumDate(kAnyDate);
    edit->setSpecialValueText(QCoreApplication::translate("Records", "any"));
    edit->setDate(kAnyDate);
    return edit;
  };
  FromDate = dateEdit();
  ToDate = dateEdit();
  ResultBox = new QComboBox(this);
  ResultBox->addItem(QCoreApplication::translate("Records", "All results"));
  ResultBox->addItems(records::kResults);
  FileEdit = new QLineEdit(this);
  FileEdit->setPlaceholderText(QCoreApplication::translate("Records", "part of the file name"));
  FileEdit->setClearButtonEnabled(true);
  SerialEdit = new QLineEdit(this);
  SerialEdit->setPlaceholderText(QCoreApplication::translate("Records", "a unit's serial number"));
  SerialEdit->setClearButtonEnabled(true);
  const auto wholeEdit = [this](const char *placeholder) {
    auto *edit = new QLineEdit(this);
    edit->setPlaceholderText(QCoreApplication::translate("Records", placeholder));
    edit->setClearButtonEnabled(true);
    return edit;
  };
  HostEdit = wholeEdit(QT_TRANSLATE_NOOP("Records", "host"));
  StationEdit = wholeEdit(QT_TRANSLATE_NOOP("Records", "ports, comma-separated"));
  OperatorEdit = wholeEdit(QT_TRANSLATE_NOOP("Records", "an operator's name, whole"));
  ExportButton = new QPushButton(QCoreApplication::translate("Records", "Export CSV..."), this);
  Model = new RecordsModel(where, this);
  Table = new QTableView(this);
  Table->setModel(Model);
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->verticalHeader()->hide();
  // One line a row, widths fixed up front: measuring 500 rows would cost the GUI thread.
  Table->setWordWrap(false);
  Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
  for (int c = 0; c < int(std::size(kColumns)); ++c)
    Table->setColumnWidth(c, Table->fontMetrics().horizontalAdvance(QLatin1Char('0')) * kColumns[c].chars + 12);
  StatusLabel = new QLabel(this);
  Chart = new YieldChartView(where, this);

  auto *filters = new QHBoxLayout;
  filters->addWidget(new QLabel(QCoreApplication::translate("Records", "From"), this));
  filters->addWidget(FromDate);
  filters->addWidget(new QLabel(QCoreApplication::translate("Records", "To"), this));
  filters->addWidget(ToDate);
  filters->addWidget(new QLabel(QCoreApplication::translate("Records", "Result"), this));
  filters->addWidget(ResultBox);
  filters->addWidget(new QLabel(QCoreApplication::translate("Records", "File"), this));
  filters->addWidget(FileEdit, 1);
  filters->addWidget(new QLabel(QCoreApplication::translate("Records", "Serial"), this));
  filters->addWidget(SerialEdit);
  filters->addWidget(new QLabel(QCoreApplication::translate("Records", "Host"), this));
  filters->addWidget(HostEdit);
  filters->addWidget(new QLabel(QCoreApplication::translate("Records", "Station"), this));
  filters->addWidget(StationEdit);
  filters->addWidget(new QLabel(QCoreApplication::translate("Records", "Operator"), this));
  filters->addWidget(OperatorEdit);
  filters->addWidget(ExportButton);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  auto *split = new QSplitter(Qt::Vertical, this);
  split->addWidget(Table);
  split->addWidget(Chart);
  layout->addWidget(split, 1);
  layout->addWidget(StatusLabel);

  // Typing asks once the operator pauses, not once per key.
  typing_.setSingleShot(true);
  typing_.setInterval(kTypingPauseMs);
  connect(&typing_, &QTimer::timeout, this, &RecordsWindow::ApplyFilter);
  connect(FileEdit, &QLineEdit::textChanged, &typing_, qOverload<>(&QTimer::start));
  connect(FileEdit, &QLineEdit::returnPressed, this, &RecordsWindow::ApplyFilter);
  connect(SerialEdit, &QLineEdit::textChanged, &typing_, qOverload<>(&QTimer::start));
  connect(SerialEdit, &QLineEdit::returnPressed, this, &RecordsWindow::ApplyFilter);
  for (QLineEdit *edit : {HostEdit, StationEdit, OperatorEdit}) {
    connect(edit, &QLineEdit::textChanged, &typing_, qOverload<>(&QTimer::start));
    connect(edit, &QLineEdit::returnPressed, this, &RecordsWindow::ApplyFilter);
  }
  connect(FromDate, &QDateEdit::dateChanged, this, &RecordsWindow::ApplyFilter);
  connect(ToDate, &QDateEdit::dateChanged, this, &RecordsWindow::ApplyFilter);
  connect(ResultBox, &QComboBox::currentIndexChanged, this, &RecordsWindow::ApplyFilter);
  connect(ExportButton, &QPushButton::clicked, this, &RecordsWindow::Export);
  connect(Model, &RecordsModel::PageArrived, this, &RecordsWindow::ShowCount);
  connect(Model, &RecordsModel::Exported, this, &RecordsWindow::ExportDone);
  ApplyFilter();
}

records::Filter RecordsWindow::FilterOfControls() const {
  records::Filter f;
  if (FromDate->date() != kAnyDate)
    f.since = QDateTime(FromDate->date(), QTime(0, 0)).toUTC();
  if (ToDate->date() != kAnyDate)
    f.until = QDateTime(ToDate->date().addDays(1), QTime(0, 0)).toUTC();
  if (ResultBox->currentIndex() > 0)
    f.result = ResultBox->currentText();
  f.fileContains = FileEdit->text().trimmed();
  f.serial = SerialEdit->text().trimmed();
  f.operatorName = OperatorEdit->text().trimmed();
  f.host = HostEdit->text().trimmed();
  for (const QString &station : StationEdit->text().split(QLatin1Char(','), Qt::SkipEmptyParts))
    if (!station.trimmed().isEmpty())
      f.stations << station.trimmed();
  return f;
}

void RecordsWindow::ShowStation(const QString &host, const QStringList &ports) {
  HostEdit->setText(host);
  StationEdit->setText(ports.join(QLatin1Char(',')));
  ApplyFilter();
}

void RecordsWindow::ApplyFilter() {
  typing_.stop();
  StatusLabel->setText(QCoreApplication::translate("Records", "Reading the records..."));
  const records::Filter f = FilterOfControls();
  Model->SetFilter(f);
  Chart->SetRange(f.since, f.until);
}

void RecordsWindow::ShowCount(const QString &error) {
  if (!error.isEmpty()) {
    StatusLabel->setText(QCoreApplication::translate("Records", "Cannot read the records: %1").arg(error));
    return;
  }
  const int shown = Model->rowCount();
  StatusLabel->setText(
      Model->More() ? QCoreApplication::translate("Records", "%1 records shown; scroll down for older ones").arg(shown)
                    : QCoreApplication::translate("Records", "%1 records").arg(shown));
}

void RecordsWindow::Export() {
  const std::optional<QString> path = dialogs_.GetSaveFileName(this, QStringLiteral("production-records.csv"));
  if (!path)
    return;
  // The filter as the controls stand, even if the operator is still typing.
  if (typing_.isActive())
    ApplyFilter();
  exportPath_ = *path;
  ExportButton->setEnabled(false);
  StatusLabel->setText(QCoreApplication::translate("Records", "Exporting to %1...").arg(exportPath_));
  Model->Export(exportPath_);
}

void RecordsWindow::ExportDone(qint64 count, const QString &error) {
  ExportButton->setEnabled(true);
  if (!error.isEmpty()) {
    StatusLabel->clear();
    dialogs_.ShowError(this, QCoreApplication::translate("Records", "Cannot export the records: %1").arg(error));
    return;
  }
  StatusLabel->setText(QCoreApplication::translate("Records", "%1 records exported to %2").arg(count).arg(exportPath_));
}

} // namespace app
