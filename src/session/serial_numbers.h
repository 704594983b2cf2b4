#pragma once
// SerialNumbers: the UnitDataProvider of a job with a serial-number plan. Each
// unit gets the next number of the plan's pool (or the next line of its list
// file) from the record store, written as the plan's format at its address;
// a unit keeps its number through its retries (a unit asks once). A number's
// state travels with its unit: allocated in the unit's start, used (passed)
// or failed (finally failed, stopped, not recorded) in its end, or kept for
// the station's next unit when the plan keeps failed numbers; a unit that
// never started hands its number to the next. Numbers the station reserved
// and never handed out go back to the pool when the provider is destroyed,
// and, after a station was killed, when a provider of the same host and
// station claims it (records/unit_store.h station leases), which it does as
// it is made. Every draw waits until what the station spooled has reached
// the store, and none is made under a station another live process holds. A pool with no number
// left, the list's last line or the format's last value given, refuses
// every later unit at once: "the serial-number pool ... has no number left".
//
// A barcode plan draws nothing: the front end passes the scanned text with
// Scanned before it starts the box, and the unit's data is that text if the
// job's pattern matches it whole.
//
// Threads: lives on the run's thread. The store is used only on the
// Recorder's StoreWorker, in order with the units' writes; answers come back
// through the provider's Replies, so the run's thread never waits on the
// database. A station keeps a block of numbers ahead (the plan's block size,
// drawn again when half is used), so it works through a short outage of a
// shared server. Nothing is kept only in memory: every state is in a unit's
// write or a write of its own, which a PostgreSQL station spools.

#include "job/job_file.h"
#include "records/replies.h"
#include "records/serial_pool.h"
#include "session/unit_data.h"
#include "numbering/serial_plan.h"

#include <QObject>
#include <QRegularExpression>
#include <deque>
#include <map>
#include <memory>

namespace records {
class Recorder;
}

namespace session {

class SerialNumbers : public QObject, public UnitDataProvider {
  Q_OBJECT
public:
  // `list`: the plan's list file as read with the job. `station` names this
  // station within its host; it must not be shared by two runs at once.
  // `filled`: the firmware's data ranges, which a scanned barcode may not cover
  // unless the plan allows it (counted and listed values were checked with the job).
  // `recorder` (the store the numbers come from) must outlive the provider;
  // a barcode plan needs none.
  SerialNumbers(const numbering::SerialPlan &plan, const numbering::ListFile &list, const std::vector<image::AddressRange> &filled,
                const QString &jobName, records::Recorder *recorder, const QString &station,
                QObject *parent = nullptr);
  ~SerialNumbers() override;
  // The provider of an opened job's plan for a run on `ports`; none for a job without one.
  static std::unique_ptr<SerialNumbers> ForJob(const job::OpenedJob &opened, records::Recorder *recorder,
                                               const QStringList &ports);
  // A station's name for a run on `ports`: their names as given, joined by commas.
  static QString Station(const QStringList &ports);

  // A barcode plan: the text scanned for the next unit of `box`.
  void Scanned(int box, const QString &text);

  void Provide(const UnitRequest &unit, std::function<void(UnitData)> done) override;
  void Unused(const UnitRequest &unit) override;
  std::optional<records::NumberChange> Ended(const UnitStatus &unit) override;

signals:
  // A store error that did not stop a unit, with the database's reason.
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

  void Serve();
  // `stationFault`: the store failed the station, no unit is at fault.
  void Refuse(const QString &why, bool stationFault = false);
  void Reserved(const std::vector<qint64> &indexes, const QString &error);
  UnitData DataFor(qint64 idx, QString *text);
  records::NumberChange Change(qint64 idx, const QString &state, const QString &value, const QString &unitUid) const;

  const numbering::SerialPlan plan_;
  const numbering::ListFile list_;
  const std::vector<image::AddressRange> filled_;
  records::Recorder *const recorder_;
  records::PoolStation station_;
  std::deque<qint64> reserve_;
  std::deque<Waiting> waiting_;
  std::map<QString, Given> given_; // by unit_uid
  std::map<int, QString> scanned_; // by box
  bool reserving_ = false;
  bool exhausted_ = false;
  bool drawFailed_ = false; // the last draw failed: the next waits for a unit to ask
  records::Replies replies_; // last: goes first
};

} // namespace session
