#pragma once
// A production job: what an engineer prepares once and an operator runs
// unchanged, kept in a *.kavjob file (JSON with a schema version).
//
// The file names its firmware by a path relative to the job file's folder
// (or an absolute one) together with the file's SHA-256 and the image
// checksum the window shows for it, so that a job never runs with another
// firmware than the one it was made with: opening a job reads the firmware
// again and refuses it when either differs. Opening refuses, with a text that
// names the reason, anything this program cannot take whole: a newer schema,
// a key it does not know, a key of the wrong form or out of range, a missing
// key, a missing or changed firmware file, a serial-number list whose bytes
// are not those the job was made with. The engineer PIN is kept only as
// an Argon2id hash (job/pin.h). Once the station has a trusted key, opening
// also refuses a job that is not released by one's signature (job/signature.h),
// checked over the very bytes that are then read as the job. Pure apart from
// reading and writing files; runs on the calling thread.

#include "base/box_choices.h"
#include "image/firmware_file.h"
#include "job/signature.h"
#include "numbering/serial_plan.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace job {

// 2: the serial-number plan; 3: its list file's SHA-256. A job is written
// with the lowest version that holds it, so that stations of the versions
// before keep opening what they can check whole.
inline constexpr int kSchemaVersion = 3;
inline constexpr int kMostRetries = 5;
inline constexpr int kMostLotSize = 1000000;
inline constexpr int kMostTimeoutSeconds = 86400;
inline constexpr int kMostPorts = 16;
// A job file is a page of text; anything larger is not one.
inline constexpr qint64 kMostFileBytes = 1 << 20;
inline const QString kSuffix = QStringLiteral(".kavjob");

enum class Operation { Load, LoadVerify };

struct Job {
  QString name;
  // As stored: relative to the job file's folder, or absolute.
  QString firmware;
  bool rawBinary = false; // read as a raw binary from `base` on, else by its content
  uint32_t base = 0;
  QString firmwareSha256; // lower-case hex
  QString imageChecksum;  // "CheckSum:  0x0012ABCD", as the window shows it
  QString chip;           // a chip type name; empty: none named
  Operation operation = Operation::Load;
  base::BoxMode mode = base::BoxMode::Offline;
  base::BoxSupply supply = base::BoxSupply::FiveVolts; // written "off" for NoOutput, else "5v"
  QString count = QStringLiteral("999999"); // 1 to 6 digits, as sent
  uint32_t sectorMask = 0xFFFFFFFFu;        // bit s-1 for sector s
  int timeoutSeconds = 120;
  int retries = 0; // 0..kMostRetries more attempts after one that failed
  int lotSize = 1;
  QStringList ports; // empty: given when the job is run
  QString pinHash;   // empty: no PIN
  // Each unit's own number or value; its list file is named as the firmware is.
  std::optional<numbering::SerialPlan> serial;

  bool operator==(const Job &) const = default;
};

// The job file's text: keys in a fixed order, two-space indents, UTF-8.
QByteArray JobText(const Job &job);

// Writes the job to `path` whole or not at all, and only over a regular file.
// Empty on success, else why not (with the system's reason).
QString WriteJob(const Job &job, const QString &path);

// The job in `text`, or why it is refused; the firmware is not looked at.
struct ParsedJob {
  std::optional<Job> job;
  QString refusal;
};
ParsedJob ParseJob(const QByteArray &text);

struct OpenedJob {
  std::optional<Job> job;
  QString jobSha256;    // of the job file's bytes, lower-case hex
  QString firmwarePath; // the firmware's absolute path
  image::FirmwareFile firmware;
  numbering::ListFile list; // a plan's list file, read
  Release release;     // who released the job, when a trusted key is installed
  QString refusal;
};
// Reads the job file at `path`, checks its signature against the keys in
// `trustedKeysFolder` (InstallPaths::TrustedKeysFolder; none there, or an
// empty name: none asked for), then its firmware against the job; a
// serial-number plan is checked against the firmware (the field may not cover
// its bytes unless the plan allows it), the mode and count (one chip per
// load), and its list file is read.
OpenedJob OpenJob(const QString &path, const QString &trustedKeysFolder);

// Where the job's firmware is for a job file at `jobPath`.
QString FirmwarePath(const Job &job, const QString &jobPath);
// The same for a file the job names (its plan's list file).
QString JobRelativePath(const QString &stored, const QString &jobPath);

// Why the job's plan cannot go with its firmware, mode and count; empty when
// it can or there is no plan. Pure: `list` is the plan's list file, read.
QString PlanRefusal(const Job &job, const image::FirmwareFile &firmware, const numbering::ListFile &list);

// The plan as `job show` prints it, one "key: value" line each; empty without a plan.
QStringList PlanLines(const numbering::SerialPlan &plan);

// How a job file at `jobPath` names `firmware` (a relative name is taken from
// the working folder), whichever front end writes it: relative to the job
// file's folder when it lies in that folder or below, so the folder can move
// to another station whole; absolute otherwise.
QString FirmwareReference(const QString &firmware, const QString &jobPath);

// A job's name: 1 to 200 characters, not all blank, no control character.
bool IsJobName(const QString &name);
QString JobNameForm(); // that rule in words: "a name of 1 to 200 characters ..."

// "1-8,17,32"; "none" for no sector.
QString SectorListText(uint32_t mask);

QString OperationText(Operation operation); // "load", "load, then verify"

} // namespace job
