// kavrin-cli job: a job made by `job create` shows as it was made and is
// refused once its firmware changes; the PIN comes from standard input, never
// the command line, and only its hash is kept; once a key is trusted, only a
// job minisign signed with it shows and runs.
#include "job/job_file.h"
#include "job/pin.h"
#include "support/test_helpers.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

struct Outcome {
  int status = -1;
  QString out, err;
};

Outcome Cli(const QStringList &args, const QString &workingDir, const QByteArray &input = {},
            const QString &program = BinPath(QStringLiteral("kavrin-cli"))) {
  QProcess p;
  p.setWorkingDirectory(workingDir);
  p.start(program, args);
  p.write(input);
  p.closeWriteChannel();
  Outcome r;
  if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
    return r;
  r.status = p.exitCode();
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

const QByteArray kHex = ":020000000102FB\n:00000001FF\n";

} // namespace

TEST(JobCommand, AJobShowsAsItWasMadeUntilItsFirmwareChanges) {
  ProgramFolder folder;
  ASSERT_TRUE(QDir().mkpath(folder.File(QStringLiteral("jobs"))));
  ASSERT_TRUE(QDir().mkpath(folder.File(QStringLiteral("fw"))));
  folder.Write(QStringLiteral("fw/main.hex"), kHex);
  const QString sha = image::ReadFirmware(folder.File(QStringLiteral("fw/main.hex"))).sha256;
  const QStringList create = {QStringLiteral("job"),
                              QStringLiteral("create"),
                              QStringLiteral("--out"),
                              QStringLiteral("jobs/a.kavjob"),
                              QStringLiteral("--name"),
                              QStringLiteral("电机板 A"),
                              QStringLiteral("--file"),
                              QStringLiteral("fw/main.hex"),
                              QStringLiteral("--lot-size=500"),
                              QStringLiteral("--verify"),
                              QStringLiteral("--retries"),
                              QStringLiteral("2"),
                              QStringLiteral("--mode"),
                              QStringLiteral("online"),
                              QStringLiteral("--power"),
                              QStringLiteral("off"),
                              QStringLiteral("--count"),
                              QStringLiteral("0042"),
                              QStringLiteral("--sectors"),
                              QStringLiteral("1-8,17,32"),
                              QStringLiteral("--timeout"),
                              QStringLiteral("30"),
                              QStringLiteral("--port"),
                              QStringLiteral("/dev/ttyUSB0"),
                              QStringLiteral("--port"),
                              QStringLiteral("ttyUSB1")};
  const Outcome made = Cli(create, folder.dir.path());
  ASSERT_EQ(made.status, 0) << made.err.toStdString();
  EXPECT_EQ(made.err, QString());
  EXPECT_EQ(made.out, QStringLiteral("Job: 电机板 A\n"
                                     "Written: jobs/a.kavjob\n"
                                     "Firmware: %1\n"
                                     "CheckSum:  0x00000003\n"
                                     "Signature: none: a station with a trusted key opens it only once it is signed "
                                     "(minisign -Sm jobs/a.kavjob -s engineer.key -t \"released by ...\")\n")
                          .arg(folder.File(QStringLiteral("fw/main.hex"))));

  const Outcome shown = Cli({QStringLiteral("job"), QStringLiteral("show"), QStringLiteral("a.kavjob")},
                            folder.File(QStringLiteral("jobs")));
  EXPECT_EQ(shown.status, 0) << shown.err.toStdString();
  EXPECT_EQ(shown.out, QStringLiteral("Job: 电机板 A\n"
                                      "Signature: none (no trusted key installed)\n"
                                      "Firmware: %1 (%1)\n"
                                      "Format: Intel HEX\n"
                                      "SHA-256: %2\n"
                                      "CheckSum:  0x00000003\n"
                                      "Chip: none\n"
                                      "Operation: load, then verify\n"
                                      "Mode: online\n"
                                      "Power: off\n"
                                      "Count: 0042\n"
                                      "Sectors: 1-8,17,32\n"
                                      "Time-out: 30 s\n"
                                      "Retries: 2\n"
                                      "Lot size: 500\n"
                                      "Ports: /dev/ttyUSB0, ttyUSB1\n"
                                      "PIN: none\n")
                           .arg(folder.File(QStringLiteral("fw/main.hex")), sha));

  // Neither a folder nor a device takes the job's place.
  ASSERT_TRUE(QDir().mkpath(folder.File(QStringLiteral("jobs/b.kavjob"))));
  QStringList intoFolder = create;
  intoFolder[3] = QStringLiteral("jobs/b.kavjob");
  const Outcome refusedOut = Cli(intoFolder, folder.dir.path());
  EXPECT_EQ(refusedOut.status, 2);
  EXPECT_EQ(refusedOut.err, QStringLiteral("kavrin-cli job create: --out: \"jobs/b.kavjob\": it exists and is not a "
                                           "regular file\nTry 'kavrin-cli job create --help'.\n"));

  folder.Write(QStringLiteral("fw/main.hex"), ":020000000103FA\n:00000001FF\n");
  const Outcome changed =
      Cli({QStringLiteral("job"), QStringLiteral("show"), QStringLiteral("jobs/a.kavjob")}, folder.dir.path());
  EXPECT_EQ(changed.status, 3);
  EXPECT_EQ(changed.out, QString());
  EXPECT_EQ(changed.err,
            QStringLiteral("kavrin-cli job show: refused: \"jobs/a.kavjob\": the firmware file \"%1\" is not the "
                           "job's: its SHA-256 is %2, the job's is %3\n")
                .arg(folder.File(QStringLiteral("fw/main.hex")),
                     image::ReadFirmware(folder.File(QStringLiteral("fw/main.hex"))).sha256, sha));
}

TEST(JobCommand, ThePinComesFromStandardInputAndOnlyItsHashIsKept) {
  ProgramFolder folder;
  folder.Write(QStringLiteral("fw.hex"), kHex);
  const QStringList create = {QStringLiteral("job"),      QStringLiteral("create"), QStringLiteral("--out"),
                              QStringLiteral("a.kavjob"), QStringLiteral("--name"), QStringLiteral("A"),
                              QStringLiteral("--file"),   QStringLiteral("fw.hex"), QStringLiteral("--lot-size"),
                              QStringLiteral("10")};
  const Outcome made = Cli(create + QStringList{QStringLiteral("--pin")}, folder.dir.path(), "48 15 16\r\nrest\n");
  ASSERT_EQ(made.status, 0) << made.err.toStdString();
  EXPECT_FALSE(folder.Read(QStringLiteral("a.kavjob")).contains("48 15 16"));
  const job::OpenedJob opened = job::OpenJob(folder.File(QStringLiteral("a.kavjob")), {});
  ASSERT_TRUE(opened.job) << opened.refusal.toStdString();
  EXPECT_TRUE(job::PinMatches(opened.job->pinHash, "48 15 16"));
  EXPECT_FALSE(job::PinMatches(opened.job->pinHash, "48 15 16\r"));
  EXPECT_FALSE(job::PinMatches(opened.job->pinHash, "48 15 17"));
  EXPECT_TRUE(Cli({QStringLiteral("job"), QStringLiteral("show"), QStringLiteral("a.kavjob")}, folder.dir.path())
                  .out.endsWith(QStringLiteral("\nPIN: set\n")));

  const struct {
    QStringList extra;
    QByteArray input;
    QString error; // after "kavrin-cli job create: "
  } refused[] = {
      {{QStringLiteral("--pin")}, "481\n", QStringLiteral("--pin: a PIN has at least 4 characters")},
      // Characters count, not bytes (six here) nor UTF-16 units (four in the second).
      {{QStringLiteral("--pin")}, "\xE5\xAF\x86\xE7\xA0\x81\n", QStringLiteral("--pin: a PIN has at least 4 characters")},
      {{QStringLiteral("--pin")}, "\xF0\x9F\x94\x91\xF0\x9F\x94\x91\n",
       QStringLiteral("--pin: a PIN has at least 4 characters")},
      {{QStringLiteral("--pin")}, "    \n", QStringLiteral("--pin: a PIN is more than blanks")},
      {{QStringLiteral("--pin")}, "", QStringLiteral("--pin: no PIN was given")},
      {{QStringLiteral("--pin")},
       "48\x1b"
       "15\n",
       QStringLiteral("--pin: a PIN holds no control characters")},
      {{QStringLiteral("--pin=4815")}, "", QStringLiteral("--pin: takes no value")},
      {{QStringLiteral("--pin"), QStringLiteral("4815")}, "", QStringLiteral("unexpected argument \"4815\"")},
  };
  for (const auto &c : refused) {
    const QByteArray before = folder.Read(QStringLiteral("a.kavjob"));
    const Outcome r = Cli(create + c.extra, folder.dir.path(), c.input);
    EXPECT_EQ(r.status, 2) << c.error.toStdString();
    EXPECT_EQ(r.err, QStringLiteral("kavrin-cli job create: %1\nTry 'kavrin-cli job create --help'.\n").arg(c.error));
    EXPECT_EQ(folder.Read(QStringLiteral("a.kavjob")), before) << "the job file stays as it was";
  }
}

TEST(JobCommand, ASerialPlanIsWrittenAndShownOrRefusedNamingItsOption) {
  ProgramFolder folder;
  folder.Write(QStringLiteral("fw.hex"), kHex);
  folder.Write(QStringLiteral("labels.txt"), "A-1\nA-2\n");
  folder.Write(QStringLiteral("twice.txt"), "A-1\nA-1\n");
  folder.Write(QStringLiteral("huge.txt"), {});
  ASSERT_TRUE(QFile::resize(folder.File(QStringLiteral("huge.txt")), numbering::kMostListBytes + 1)); // sparse
  const QStringList base = {QStringLiteral("job"),      QStringLiteral("create"), QStringLiteral("--out"),
                            QStringLiteral("a.kavjob"), QStringLiteral("--name"), QStringLiteral("A"),
                            QStringLiteral("--file"),   QStringLiteral("fw.hex"), QStringLiteral("--lot-size"),
                            QStringLiteral("10"),       QStringLiteral("--mode"), QStringLiteral("online")};
  const Outcome made = Cli(base + QStringList{"--serial-at", "7f00", "--serial-format", "dec:6", "--serial-prefix",
                                              "SN", "--serial-start", "1000", "--serial-step", "2", "--serial-pool",
                                              "boards", "--serial-block", "20", "--serial-keep-failed"},
                           folder.dir.path());
  ASSERT_EQ(made.status, 0) << made.err.toStdString();
  const Outcome shown =
      Cli({QStringLiteral("job"), QStringLiteral("show"), QStringLiteral("a.kavjob")}, folder.dir.path());
  EXPECT_TRUE(shown.out.endsWith(QStringLiteral("PIN: none\n"
                                                "Serial at: 7F00\n"
                                                "Serial format: dec:6, prefix \"SN\"\n"
                                                "Serial count: from 1000, step 2\n"
                                                "Serial pool: boards\n"
                                                "Serial block: 20 reserved at a time, a failed unit's number kept "
                                                "for the next unit\n")))
      << shown.out.toStdString();

  const struct {
    QStringList extra;
    QString error; // after "kavrin-cli job create: "
  } refused[] = {
      {{"--serial-format", "le32"}, "--serial-format requires --serial-at"},
      {{"--serial-at", "7F00"}, "--serial-format: needed with --serial-at unless --serial-list gives the values"},
      {{"--serial-at", "8000", "--serial-format", "le32"},
       "--serial-at: expects a hex address 0000..7FFF, got \"8000\""},
      {{"--serial-at", "7F00", "--serial-format", "dec:11"},
       "--serial-format: expects le32, be32, dec:N (N 1..10) or hex:N (N 1..8), got \"dec:11\""},
      {{"--serial-at", "7F00", "--serial-format", "le32", "--serial-prefix", "SN"},
       "--serial-at: a prefix goes only with the ASCII formats dec:N and hex:N"},
      {{"--serial-at", "7F00", "--serial-list", "labels.txt", "--serial-start", "5"},
       "--serial-start excludes --serial-list"},
      {{"--serial-at", "7F00", "--serial-list", "twice.txt"},
       "--serial-list: \"twice.txt\": line 2: \"A-1\" is given twice and would go into two boards"},
      {{"--serial-at", "7F00", "--serial-list", "huge.txt"},
       "--serial-list: cannot read \"huge.txt\": it is larger than 16 MiB, too large for a list"},
      {{"--serial-at", "0000", "--serial-format", "le32"},
       "--serial-at: the serial number at 0000-0003 would overwrite the firmware's bytes at 0000-0001; allow it "
       "with --serial-overwrite if that is meant"},
  };
  for (const auto &r : refused) {
    const Outcome out = Cli(base + r.extra, folder.dir.path());
    EXPECT_EQ(out.status, 2) << r.error.toStdString();
    EXPECT_EQ(out.err, QStringLiteral("kavrin-cli job create: %1\nTry 'kavrin-cli job create --help'.\n").arg(r.error));
  }
  // The job keeps its list's hash: a list changed since is refused as a changed firmware is.
  ASSERT_EQ(Cli(base + QStringList{"--serial-at", "7F00", "--serial-list", "labels.txt"}, folder.dir.path()).status, 0);
  const QString show = QStringLiteral("job show a.kavjob");
  EXPECT_TRUE(Cli(show.split(' '), folder.dir.path()).out.contains(QStringLiteral("Serial list: labels.txt (SHA-256 ")));
  const QString listSha = QString::fromLatin1(
      QCryptographicHash::hash(folder.Read(QStringLiteral("labels.txt")), QCryptographicHash::Sha256).toHex());
  folder.Write(QStringLiteral("labels.txt"), "A-1\nA-3\n");
  const Outcome changed = Cli(show.split(' '), folder.dir.path());
  EXPECT_EQ(changed.status, 3);
  EXPECT_EQ(changed.err, QStringLiteral("kavrin-cli job show: refused: \"a.kavjob\": the serial-number list \"%1\" is "
                                        "not the job's: its SHA-256 is %2, the job's is %3\n")
                             .arg(folder.File(QStringLiteral("labels.txt")),
                                  QString::fromLatin1(
                                      QCryptographicHash::hash("A-1\nA-3\n", QCryptographicHash::Sha256).toHex()),
                                  listSha));
  QStringList offline = base;
  offline[11] = QStringLiteral("offline");
  const Outcome many = Cli(offline + QStringList{"--serial-at", "7F00", "--serial-format", "le32"}, folder.dir.path());
  EXPECT_EQ(many.err, QStringLiteral("kavrin-cli job create: --serial-at: per-unit data needs a load that programs one "
                                     "chip: in offline mode with a count of 999999 the box would burn the same "
                                     "image, and so the same number, into every chip\nTry 'kavrin-cli job create "
                                     "--help'.\n"));
}

// Keys and signatures made by minisign itself, on a portable install of the
// test's own whose trusted-keys folder the test fills step by step.
TEST(JobCommand, OnceAKeyIsTrustedOnlyAJobItSignedShowsAndRuns) {
  ProgramFolder folder;
  const QString dir = folder.dir.path();
  const QString bin = folder.File(QStringLiteral("bin"));
  const QString keys = bin + QStringLiteral("/trusted-keys/");
  ASSERT_TRUE(QDir().mkpath(keys));
  const QString cli = bin + QStringLiteral("/kavrin-cli");
  ASSERT_TRUE(QFile::copy(BinPath(QStringLiteral("kavrin-cli")), cli));
  ASSERT_TRUE(QFile::copy(BinPath(QStringLiteral("MCUtype.txt")), bin + QStringLiteral("/MCUtype.txt")));
  folder.Write(QStringLiteral("fw.hex"), kHex);
  const Outcome made = Cli({"job", "create", "--out", "motor.kavjob", "--name", "Motor", "--file", "fw.hex",
                            "--lot-size", "10", "--retries", "1"},
                           dir, {}, cli);
  ASSERT_EQ(made.status, 0) << made.err.toStdString();
  const QByteArray job = folder.Read(QStringLiteral("motor.kavjob"));

  const auto minisign = [&](const QStringList &args) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral("minisign"), args);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
      ADD_FAILURE() << "minisign " << args.join(' ').toStdString() << ": " << p.errorString().toStdString() << " "
                    << p.readAllStandardError().toStdString() << " (scripts/install-deps.sh installs minisign)";
  };
  const auto sign = [&](const char *key, const char *comment, bool legacy = false) {
    return [=] {
      minisign(QStringList{QStringLiteral("-S")} + (legacy ? QStringList{QStringLiteral("-l")} : QStringList()) +
               QStringList{"-s", QString::fromLatin1(key) + ".key", "-m", "motor.kavjob", "-t", comment});
    };
  };
  // A public key's comment names its id as minisign shows it.
  QString id[2];
  for (int n = 0; n < 2; ++n) {
    const QString key = n == 0 ? QStringLiteral("engineer") : QStringLiteral("other");
    minisign({"-G", "-W", "-p", key + ".pub", "-s", key + ".key"});
    id[n] = QString::fromLatin1(folder.Read(key + ".pub").split('\n').at(0)).section(' ', -1);
    ASSERT_TRUE(QRegularExpression(QStringLiteral("^[1-9A-F][0-9A-F]{0,15}$")).match(id[n]).hasMatch())
        << folder.Read(key + ".pub").toStdString();
  }
  const auto trust = [&](const char *key) {
    return [&folder, &keys, key] { ASSERT_TRUE(QFile::copy(folder.File(QString::fromLatin1(key)), keys + key)); };
  };

  const struct Step {
    const char *name;
    std::function<void()> act;
    QString shown; // the line after the job's name; empty: refused
    QString refusal;
  } steps[] = {
      {"no trusted key", [] {}, QStringLiteral("Signature: none (no trusted key installed)"), {}},
      {"a key trusted, the job not signed",
       trust("engineer.pub"),
       {},
       QStringLiteral("not signed: there is no signature file \"%1\", and with a trusted key installed in \"%2\" "
                      "every job must be signed by one; ask the engineer for the job's .minisig signature file and "
                      "copy it beside the job")
           .arg(folder.File(QStringLiteral("motor.kavjob.minisig")), keys)},
      {"signed with it",
       sign("engineer", "released by Wang Li for lot 12"),
       QStringLiteral("Released: released by Wang Li for lot 12 (key %1), trusted").arg(id[0]),
       {}},
      {"signed with it in the legacy form",
       sign("engineer", "legacy", true),
       QStringLiteral("Released: legacy (key %1), trusted").arg(id[0]),
       {}},
      {"signed with a key not trusted",
       sign("other", "released by Zhao"),
       {},
       QStringLiteral("signed by key %1, which is not a trusted key (trusted comment \"released by Zhao\")")
           .arg(id[1])},
      {"that key trusted too",
       trust("other.pub"),
       QStringLiteral("Released: released by Zhao (key %1), trusted").arg(id[1]),
       {}},
      {"that key retired",
       [&] { ASSERT_TRUE(QFile::remove(keys + "other.pub")); },
       {},
       QStringLiteral("signed by key %1, which is not a trusted key (trusted comment \"released by Zhao\")")
           .arg(id[1])},
      {"a byte changed after signing",
       [&] {
         sign("engineer", "released by Wang Li")();
         folder.Write(QStringLiteral("motor.kavjob"), QByteArray(job).replace("\"retries\": 1", "\"retries\": 5"));
       },
       {},
       QStringLiteral("the job file was changed after it was signed: its signature does not match it (key %1, trusted "
                      "comment \"released by Wang Li\")")
           .arg(id[0])},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    const Outcome shown = Cli({"job", "show", "motor.kavjob"}, dir, {}, cli);
    const Outcome run =
        Cli({"run", "--job", "motor.kavjob", "--port", "/nonexistent/kavrin-port", "--no-records"}, dir, {}, cli);
    if (step.refusal.isEmpty()) {
      EXPECT_EQ(shown.status, 0) << shown.err.toStdString();
      EXPECT_TRUE(shown.out.startsWith(QStringLiteral("Job: Motor\n") + step.shown + QStringLiteral("\nFirmware: ")))
          << shown.out.toStdString();
      EXPECT_EQ(run.status, 4) << "past the job, to the port: " << run.err.toStdString();
    } else {
      EXPECT_EQ(shown.status, 3);
      EXPECT_EQ(shown.out, QString());
      EXPECT_EQ(shown.err, QStringLiteral("kavrin-cli job show: refused: \"motor.kavjob\": %1\n").arg(step.refusal));
      EXPECT_EQ(run.status, 3);
      EXPECT_EQ(run.err, QStringLiteral("kavrin-cli run: refused: \"motor.kavjob\": %1\n").arg(step.refusal));
    }
  }
}
