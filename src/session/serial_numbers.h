#pragma once
// SerialNumbers: the UnitDataProvider of a job with a serial-number plan. Each
// unit gets the next number of the plan's pool (or the next line of its list
// file) from the record store, written as the plan's format at its address;
// a unit keeps its number through its retries (ProductionRun asks once per
// unit). When a unit ends, its number is marked used (passed) or, when it
// finally failed, given up for good or kept for the station's next unit, as
// the plan says. Numbers the station reserved and never handed out are marked
// skipped when the provider is destroyed, and, after a station was killed, when
// a provider of the same host and station starts again (records/serial_pool.h).
//
// A barcode plan draws nothing: the front end passes the scanned text with
// Scanned before it starts the box, and the unit's data is that text if the
// job's pattern matches it whole.
//
// Threads: lives on the run's thread. The store is used only on a thread of
// the provider's own, with its own connection; outcomes come back queued, so
// the run's thread never waits on the database. A station keeps a block of
// numbers ahead (the plan's block size, drawn again when half is used), so
// it works through a short outage of a shared server; marks the store could
// not take are tried again with the next call that reaches it. Destroying
// the provider waits for the store thread to write what is pending (one
// connection attempt at most, records::db::kConnectTimeoutS).

#include "job/job_file.h"
#include "records/store_location.h"
#include "session/production_run.h"
#include "unit/serial_plan.h"

#include <QObject>
#include <QRegularExpression>
#include <deque>
#include <map>
#include <memory>

namespace session {

class SerialNumbers : public QObject, public UnitDataProvider {
  Q_OBJECT
public:
  // `list`: the plan's list file as read with the job. `station` names this
  // station within its host; it must not be shared by two runs at once.
  // `filled`: the firmware's data ranges, which a scanned barcode may not cover
  // unless the plan allows it (counted and listed values were checked with the job).
  SerialNumbers(const unit::SerialPlan &plan, const unit::ListFile &list, const std::vector<image::AddressRange> &filled,
                const QString &jobName, const records::StoreLocation &store, const QString &station,
                QObject *parent = nullptr);
  ~SerialNumbers() override;
  // The provider of an opened job's plan for a run on `ports`; none for a job without one.
  static std::unique_ptr<SerialNumbers> ForJob(const job::OpenedJob &opened, const records::StoreLocation &store,
                                               const QStringList &ports);
  // A station's name for a run on `ports`: their names as given, joined by commas.
  static QString Station(const QStringList &ports);

  // A barcode plan: the text scanned for the next unit of `box`.
  void Scanned(int box, const QString &text);

  void Provide(const UnitRequest &unit, std::function<void(UnitData)> done) override;
  void UnitEnded(const UnitStatus &unit) override;

signals:
  // A store error that did not stop a unit (a mark kept for later), with the database's reason.
  void Notice(const QString &text);

private:
  struct Waiting {
    UnitRequest unit;
    std::function<void(UnitData)> done;
  };
  struct Given {
    qint64 idx = -1;
    QString text;
  };
  class Store;

  void Serve();
  void Reserved(const std::vector<qint64> &indexes, const QString &error);
  void Mark(qint64 idx, const QString &state, const QString &value, const QString &unitUid);
  UnitData DataFor(qint64 idx, QString *text);

  const unit::SerialPlan plan_;
  const unit::ListFile list_;
  const std::vector<image::AddressRange> filled_;
  std::unique_ptr<Store> store_;
  std::deque<qint64> reserve_;
  std::deque<Waiting> waiting_;
  std::map<QString, Given> given_; // by unit_uid
  std::map<int, QString> scanned_; // by box
  bool reserving_ = false;
  bool exhausted_ = false;
};

} // namespace session
