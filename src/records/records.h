#pragma once
// Production records: one row per operation attempt of the programmer, kept
// in a SQLite file of this user (the default), in a PostgreSQL database that
// several stations share, or not at all.
//
// - record.h: the Record, its columns, its CSV and JSON texts (pure).
// - store_location.h: where records go, parsed from the text an operator writes.
// - recorder.h: Recorder, which writes each record durably on the calling
//   thread and forwards to PostgreSQL on a thread of its own.
// - query.h: reading back, synchronous for a command line and the export,
//   and AsyncReader on a worker thread for the window.
// - yield.h: units passed and failed per lot, and per job and day.
// - database.h: the connection, schema and SQL underneath.
//
// Threads: every database connection belongs to the thread that opened it
// and is named uniquely; worker threads hand results over under a mutex and
// wake the owner's thread with one queued call. Times are UTC with
// milliseconds; durations in ms. Nothing here throws: failures come back as
// false or empty plus the database's own message, or through Recorder::Warning.

#include "records/query.h"
#include "records/record.h"
#include "records/recorder.h"
#include "records/store_location.h"
#include "records/yield.h"
