#include "records/query.h"
#include "records/database.h"
#include "records/store_worker.h"
#include "records/yield.h"

#include <QSaveFile>
#include <QTextStream>

namespace records {

namespace {

// Rows read per round trip when reading everything.
constexpr int kPageRows = 2000;

bool ForEachOn(db::Connection &c, const Filter &f, const std::function<bool(const Record &)> &each, QString *error,
               const std::atomic<bool> *cancel) {
  Filter page = f;
  qint64 left = f.limit > 0 ? f.limit : -1;
  for (;;) {
    if (cancel && cancel->load()) {
      if (error)
        *error = QStringLiteral("cancelled");
      return false;
    }
    page.limit = left < 0 ? kPageRows : int(std::min<qint64>(left, kPageRows));
    std::vector<Record> rows;
    if (!c.Select(page, &rows, error))
      return false;
    for (const Record &r : rows)
      if (!each(r))
        return true;
    if (left > 0)
      left -= qint64(rows.size());
    if (int(rows.size()) < page.limit || left == 0)
      return true;
    page.before = KeyOf(rows.back());
  }
}

bool ExportOn(db::Connection &c, const Filter &f, const QString &path, qint64 *count, QString *error,
              const std::atomic<bool> *cancel) {
  *count = 0;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    if (error)
      *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
  }
  QTextStream out(&file);
  WriteCsvHeader(out);
  const bool read = ForEachOn(
      c, f,
      [&](const Record &r) {
        WriteCsvRow(r, out);
        ++*count;
        return true;
      },
      error, cancel);
  out.flush();
  if (!read) {
    file.cancelWriting();
    return false;
  }
  if (out.status() != QTextStream::Ok || !file.commit()) {
    if (error)
      *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
  }
  return true;
}

} // namespace

PageKey KeyOf(const Record &r) { return {r.finishedAt, r.id}; }

bool ForEach(const StoreLocation &where, const Filter &f, const std::function<bool(const Record &)> &each,
             QString *error) {
  if (RecordsOff(where, error))
    return false;
  db::Connection c(where, db::Connection::Target::Store, "scan");
  c.ReadOnly();
  return ForEachOn(c, f, each, error, nullptr);
}

QString ReadingNote(const StoreLocation &where) {
  if (where.kind == StoreLocation::Kind::Off)
    return {};
  db::Connection c(where, db::Connection::Target::Store, "note");
  c.ReadOnly();
  QString ignored;
  return c.Open(&ignored) ? c.Note() : QString();
}

std::vector<Record> Query(const StoreLocation &where, const Filter &f, QString *error) {
  std::vector<Record> rows;
  if (!ForEach(
          where, f,
          [&](const Record &r) {
            rows.push_back(r);
            return true;
          },
          error))
    rows.clear();
  return rows;
}

bool ExportCsv(const StoreLocation &where, const Filter &f, const QString &path, qint64 *count, QString *error,
               const std::atomic<bool> *cancel) {
  qint64 ignored = 0;
  if (!count)
    count = &ignored;
  *count = 0;
  if (RecordsOff(where, error))
    return false;
  db::Connection c(where, db::Connection::Target::Store, "export");
  c.ReadOnly();
  return ExportOn(c, f, path, count, error, cancel);
}

AsyncReader::AsyncReader(const StoreLocation &where, QObject *parent)
    : QObject(parent), where_(where), worker_(std::make_unique<StoreWorker>(QStringLiteral("kavrin-reader"))) {}

AsyncReader::~AsyncReader() {
  cancel_ = true;
  {
    // What has not started is not wanted any more.
    std::lock_guard lock(mutex_);
    requests_.clear();
  }
  worker_->Stop();
}

int AsyncReader::Fetch(const Filter &f) { return Ask(Kind::Fetch, f, QString()); }

int AsyncReader::Export(const Filter &f, const QString &path) { return Ask(Kind::Export, f, path); }

int AsyncReader::Chart(const Filter &f) { return Ask(Kind::Chart, f, QString()); }

int AsyncReader::Ask(Kind kind, const Filter &f, const QString &path) {
  {
    std::lock_guard lock(mutex_);
    // Only the newest fetch or chart matters to the window; one still waiting is stale.
    if (kind != Kind::Export)
      std::erase_if(requests_, [&](const Request &r) { return r.kind == kind; });
    requests_.push_back({nextTicket_, kind, f, path});
  }
  // One task per request asked; a task whose request was replaced finds the newer one or none.
  worker_->Post([this] { RunNext(); });
  return nextTicket_++;
}

void AsyncReader::RunNext() {
  Request request;
  {
    std::lock_guard lock(mutex_);
    if (requests_.empty())
      return;
    request = std::move(requests_.front());
    requests_.pop_front();
  }
  db::Connection &c = worker_->Connection(where_, db::Connection::Target::Store, "reader", true);
  Outcome outcome{request.ticket, request.kind, {}, 0, QString(), nullptr};
  if (RecordsOff(where_, &outcome.error)) {
  } else if (request.kind == Kind::Export) {
    ExportOn(c, request.filter, request.exportPath, &outcome.count, &outcome.error, &cancel_);
  } else if (request.kind == Kind::Chart) {
    outcome.chart = std::make_shared<YieldChart>();
    if (!ChartFigures(c, request.filter, outcome.chart.get(), &outcome.error))
      c.Close();
  } else if (!c.Select(request.filter, &outcome.rows, &outcome.error)) {
    // A dropped server connection is made again on the next request.
    c.Close();
  }
  replies_.Port().Send([this, outcome = std::move(outcome)] { Deliver(outcome); });
}

void AsyncReader::Deliver(const Outcome &o) {
  if (o.kind == Kind::Export)
    emit Exported(o.ticket, o.count, o.error);
  else if (o.kind == Kind::Chart)
    emit Charted(o.ticket, o.chart ? *o.chart : YieldChart(), o.error);
  else
    emit Fetched(o.ticket, o.rows, o.error);
}

} // namespace records
