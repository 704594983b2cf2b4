#pragma once
// A store of this program's schema turned back into one an older program
// left: what later versions added (tables, indexes, columns) is dropped and
// the version set, its rows kept. The tests make older stores so, on SQLite
// and PostgreSQL alike, and watch this program read and migrate them.

#include <QStringList>

// The statements, in order, that make a store of the current version one of
// `version` (2 to 6).
inline QStringList AsVersionSql(int version) {
  QStringList sql;
  if (version < 7)
    sql << QStringLiteral("DROP TABLE station_leases");
  if (version < 6) {
    sql << QStringLiteral("DROP INDEX programming_records_operator");
    for (const char *column : {"operator", "job_sha256", "job_release"})
      sql << QStringLiteral("ALTER TABLE programming_records DROP COLUMN %1").arg(QLatin1String(column));
    if (version == 5)
      sql << QStringLiteral("ALTER TABLE units DROP COLUMN operator");
  }
  if (version < 5)
    sql << QStringLiteral("DROP TABLE units") << QStringLiteral("DROP TABLE lots")
        << QStringLiteral("DROP TABLE IF EXISTS spool_ops") << QStringLiteral("DROP INDEX serial_numbers_state");
  if (version < 4)
    sql << QStringLiteral("DROP INDEX programming_records_serial")
        << QStringLiteral("ALTER TABLE programming_records DROP COLUMN serial")
        << QStringLiteral("DROP TABLE serial_numbers") << QStringLiteral("DROP TABLE serial_pools");
  if (version < 3)
    sql << QStringLiteral("DROP TABLE unit_hours") << QStringLiteral("DROP INDEX programming_records_unit");
  return sql << QStringLiteral("DELETE FROM schema_version")
             << QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(version);
}
