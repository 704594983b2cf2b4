#pragma once
// The production records window: the store's records newest first, 500 at a
// time and more as the table is scrolled to its end, narrowed by finish date
// (local days, both ends included), result, part of the file name, a unit's
// serial number, and the host and stations they were made on, and
// exported as CSV (every matching row); below them, the yield chart of the
// date range (app/ui/yield_chart.h). The file name applies once the
// operator pauses typing, or at Return. Every read and the export run on the
// AsyncReader's thread; the window only asks and shows, so it opens at once
// on any store. The lead opens it modeless or through Dialogs::ShowModal.

#include "app/ui/dialogs.h"
#include "records/query.h"

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace app {

class YieldChartView;

// The rows read so far for one filter. Asking for another filter drops them
// and any page still on its way.
class RecordsModel : public QAbstractTableModel {
  Q_OBJECT
public:
  static constexpr int kPageRows = 500;

  explicit RecordsModel(const records::StoreLocation &where, QObject *parent = nullptr);

  void SetFilter(const records::Filter &f);
  const records::Filter &CurrentFilter() const { return filter_; }
  const records::Record &At(int row) const { return rows_[size_t(row)]; }
  bool Loading() const { return waiting_ != 0; }
  bool More() const { return more_; }
  // Exports every row the current filter matches; Exported tells the outcome.
  void Export(const QString &path);

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  bool canFetchMore(const QModelIndex &parent) const override;
  void fetchMore(const QModelIndex &parent) override;

signals:
  void PageArrived(const QString &error);
  void Exported(qint64 count, const QString &error);

private:
  void Arrived(int ticket, const std::vector<records::Record> &rows, const QString &error);
  void Ask();

  records::AsyncReader reader_;
  records::Filter filter_;
  std::vector<records::Record> rows_;
  int waiting_ = 0; // the ticket of the page on its way
  bool more_ = false;
};

class RecordsWindow : public QWidget {
  Q_OBJECT
public:
  static constexpr char kCaptionText[] = QT_TRANSLATE_NOOP("Records", "Production records");
  static inline const QString kCaption = QString::fromLatin1(kCaptionText);
  static constexpr int kTypingPauseMs = 300;

  RecordsWindow(const records::StoreLocation &where, Dialogs &dialogs, QWidget *parent = nullptr);

  // The filter the controls describe.
  records::Filter FilterOfControls() const;
  // Narrows the rows to one station's: its host and its ports (the records'
  // station), the other filters as they are.
  void ShowStation(const QString &host, const QStringList &ports);

  QDateEdit *FromDate;
  QDateEdit *ToDate;
  QComboBox *ResultBox;
  QLineEdit *FileEdit;
  QLineEdit *SerialEdit; // a unit's serial number, whole
  QLineEdit *HostEdit;    // a host's name, whole
  QLineEdit *StationEdit; // stations (ports as chosen), whole, comma-separated
  QPushButton *ExportButton;
  QTableView *Table;
  QLabel *StatusLabel;
  RecordsModel *Model;
  YieldChartView *Chart; // of the date range alone

private:
  void ApplyFilter();
  void ShowCount(const QString &error);
  void Export();
  void ExportDone(qint64 count, const QString &error);

  Dialogs &dialogs_;
  QTimer typing_;
  QString exportPath_;
};

} // namespace app
