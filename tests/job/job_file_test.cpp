// Job files: what the writer makes opens to the same job; every reason to
// refuse one is named; the writer replaces only a regular file.
#include "job/job_file.h"
#include "job/pin.h"
#include "support/minisign_signer.h"
#include "support/test_helpers.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

// Readable failure output.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// Two data bytes at 0000 and the end record.
const QByteArray kHex = ":020000000102FB\n:00000001FF\n";
const QByteArray kOtherHex = ":020000000103FA\n:00000001FF\n";

struct JobFolder : ::testing::Test {
  ProgramFolder folder;
  QString jobPath = folder.File(QStringLiteral("line 3/a.kavjob"));
  job::Job made;

  void SetUp() override {
    ASSERT_TRUE(QDir().mkpath(folder.File(QStringLiteral("line 3"))));
    folder.Write(QStringLiteral("fw.hex"), kHex);
    const image::FirmwareFile firmware = image::ReadFirmware(folder.File(QStringLiteral("fw.hex")));
    ASSERT_TRUE(firmware.Accepted()) << firmware.refusal.toStdString();
    made.name = QStringLiteral("电机板 A");
    made.firmware = QStringLiteral("../fw.hex");
    made.firmwareSha256 = firmware.sha256;
    made.imageChecksum = firmware.checksumCaption;
    made.chip = QStringLiteral("PAC5223");
    made.operation = job::Operation::LoadVerify;
    made.mode = base::BoxMode::Online;
    made.sectorMask = 0x800100FFu;
    made.retries = 2;
    made.lotSize = 500;
    made.ports = {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("ttyUSB1")};
    QString error;
    made.pinHash = job::HashPin("2468", &error);
    ASSERT_FALSE(made.pinHash.isEmpty()) << error.toStdString();
  }

  QString Firmware(const QString &name) const { return QLatin1Char('"') + folder.File(name) + QLatin1Char('"'); }
};

} // namespace

TEST_F(JobFolder, OpensToTheJobItWasWrittenFromOrNamesWhyNot) {
  ASSERT_EQ(job::WriteJob(made, jobPath), QString());
  const QJsonObject good = QJsonDocument::fromJson(folder.Read(QStringLiteral("line 3/a.kavjob"))).object();
  ASSERT_FALSE(good.isEmpty());
  folder.Write(QStringLiteral("other.hex"), kOtherHex);
  const QString sha = made.firmwareSha256;
  const QString otherSha = image::ReadFirmware(folder.File(QStringLiteral("other.hex"))).sha256;
  using Edit = std::function<void(QJsonObject &)>;
  const auto set = [](const char *key, const QJsonValue &value) -> Edit {
    return [=](QJsonObject &o) { o[QLatin1String(key)] = value; };
  };
  const struct Case {
    const char *name;
    Edit edit;
    QString refusal; // empty: opens to `made`
  } cases[] = {
      {"as written", [](QJsonObject &) {}, {}},
      {"absolute firmware path", set("firmware", folder.File("fw.hex")), {}},
      {"another firmware", set("firmware", "../other.hex"),
       QStringLiteral("the firmware file %1 is not the job's: its SHA-256 is %2, the job's is %3")
           .arg(Firmware("other.hex"), otherSha, sha)},
      {"no firmware", set("firmware", "../gone.hex"),
       QStringLiteral("the firmware file %1 is missing").arg(Firmware("gone.hex"))},
      {"same file read otherwise", set("firmware_format", "bin"),
       QStringLiteral("the firmware file %1 gives the image checksum \"CheckSum:  0x00000562\", the job's is "
                      "\"CheckSum:  0x00000003\"")
           .arg(Firmware("fw.hex"))},
      {"newer schema, with a key of its own",
       [](QJsonObject &o) {
         o["schema"] = 4;
         o["colour"] = "red";
       },
       QStringLiteral("the job's schema version 4 is newer than this program's 3")},
      {"unknown key", set("colour", "red"), QStringLiteral("unknown key \"colour\"")},
      {"no schema", [](QJsonObject &o) { o.remove("schema"); }, QStringLiteral("not a job: no \"schema\" version")},
      {"schema 0", set("schema", 0), QStringLiteral("\"schema\": expects a whole number 1 or more, got 0")},
      {"missing key", [](QJsonObject &o) { o.remove("lot_size"); }, QStringLiteral("missing key \"lot_size\"")},
      {"retries above 5", set("retries", 6), QStringLiteral("\"retries\": expects a whole number 0..5, got 6")},
      {"a fraction", set("timeout_s", 1.5), QStringLiteral("\"timeout_s\": expects a whole number 1..86400, got 1.5")},
      {"a number as text", set("lot_size", "100"),
       QStringLiteral("\"lot_size\": expects a whole number 1..1000000, got \"100\"")},
      {"empty name", set("name", " "),
       QStringLiteral("\"name\": expects a name of 1 to 200 characters without control characters, got \" \"")},
      {"mode", set("mode", "Online"), QStringLiteral("\"mode\": expects one of online, offline, got \"Online\"")},
      {"count", set("count", "1234567"), QStringLiteral("\"count\": expects 1 to 6 digits, got \"1234567\"")},
      {"no sector", set("sectors", "00000000"),
       QStringLiteral("\"sectors\": expects 8 hex digits with a bit set for each sector, bit 0 for sector 1, got "
                      "\"00000000\"")},
      {"hash in capitals", set("firmware_sha256", sha.toUpper()),
       QStringLiteral("\"firmware_sha256\": expects 64 lower-case hex digits, got \"%1\"").arg(sha.toUpper())},
      {"a port twice", set("ports", QJsonArray{"p", "p"}),
       QStringLiteral("\"ports\": expects a list of at most 16 different port names, got a list")},
      {"a PIN in the clear", set("pin_hash", "2468"),
       QStringLiteral("\"pin_hash\": expects an Argon2id hash of the PIN (what the file holds is not shown)")},
      {"a base for a file read by content", set("firmware_base", "1000"),
       QStringLiteral("\"firmware_base\": only with \"firmware_format\" bin")},
      {"an empty serial-number plan", set("serial_numbers", QJsonObject{}),
       QStringLiteral("missing key \"serial_numbers.address\"")},
  };
  for (const Case &c : cases) {
    QJsonObject object = good;
    c.edit(object);
    folder.Write(QStringLiteral("line 3/a.kavjob"), QJsonDocument(object).toJson());
    const job::OpenedJob opened = job::OpenJob(jobPath, {});
    EXPECT_EQ(opened.refusal, c.refusal) << c.name;
    EXPECT_EQ(opened.job.has_value(), c.refusal.isEmpty()) << c.name;
    if (opened.job) {
      job::Job expected = made;
      expected.firmware = object["firmware"].toString();
      EXPECT_EQ(*opened.job, expected) << c.name;
      EXPECT_EQ(opened.firmwarePath, folder.File(QStringLiteral("fw.hex"))) << c.name;
      EXPECT_EQ(opened.firmware.checksumCaption, made.imageChecksum) << c.name;
    }
  }
  folder.Write(QStringLiteral("line 3/a.kavjob"), "{\"schema\": 1,");
  EXPECT_TRUE(job::OpenJob(jobPath, {}).refusal.startsWith(QStringLiteral("not JSON: ")))
      << job::OpenJob(jobPath, {}).refusal.toStdString();
  EXPECT_TRUE(job::OpenJob(folder.File(QStringLiteral("none.kavjob")), {})
                  .refusal.startsWith(QStringLiteral("cannot read the job file: ")));
}

// What a JSON reader smooths over is refused: a key given twice (the last
// would win) and a number not written in digits (5e2, 2.0 and -0 read as
// whole numbers). The keys are found in the text, not in a string's value.
TEST_F(JobFolder, AKeyTwiceOrANumberNotInDigitsIsRefused) {
  numbering::SerialPlan plan;
  plan.address = 0x7F00;
  plan.start = 1000;
  made.serial = plan;
  const QByteArray text = job::JobText(made);
  const struct {
    const char *from, *to;
    QString refusal; // empty: opens
  } cases[] = {
      {"\"retries\": 2,", "\"retries\": 2, \"retries\": 5,", QStringLiteral("the key \"retries\" is given twice")},
      {"\"retries\": 2,", "\"\\u0072etries\": 2, \"retries\": 2,",
       QStringLiteral("the key \"retries\" is given twice")},
      {"\"step\": 1,", "\"step\": 1, \"step\": 2,", QStringLiteral("the key \"serial_numbers.step\" is given twice")},
      {"\"name\": \"", "\"name\": \"retries\\\": 2, \\\"retries\\\": 5 ", {}},
      {"\"lot_size\": 500", "\"lot_size\": 5e2",
       QStringLiteral("\"lot_size\": expects a whole number 1..1000000, got 5e2")},
      {"\"retries\": 2", "\"retries\": 2.0", QStringLiteral("\"retries\": expects a whole number 0..5, got 2.0")},
      {"\"retries\": 2", "\"retries\": -0", QStringLiteral("\"retries\": expects a whole number 0..5, got -0")},
      {"\"start\": 1000", "\"start\": 1E3",
       QStringLiteral("\"serial_numbers.start\": expects a whole number 0..4294967295, got 1E3")},
      {"\"schema\": 2", "\"schema\": 2.0", QStringLiteral("\"schema\": expects a whole number 1 or more, got 2.0")},
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(text.contains(c.from)) << c.from;
    const job::ParsedJob parsed = job::ParseJob(QByteArray(text).replace(c.from, c.to));
    EXPECT_EQ(parsed.refusal, c.refusal) << c.to;
    EXPECT_EQ(parsed.job.has_value(), c.refusal.isEmpty()) << c.to;
  }
}

TEST_F(JobFolder, TheWriterReplacesNothingButARegularFileAndThatWhole) {
  ASSERT_TRUE(QDir().mkpath(folder.File(QStringLiteral("folder.kavjob"))));
  for (const QString &path : {folder.File(QStringLiteral("folder.kavjob")), QStringLiteral("/dev/null")})
    EXPECT_EQ(job::WriteJob(made, path),
              QStringLiteral("Cannot write \"%1\": it exists and is not a regular file").arg(path));
  folder.Write(QStringLiteral("line 3/a.kavjob"), QByteArray(4096, 'x'));
  ASSERT_EQ(job::WriteJob(made, jobPath), QString());
  EXPECT_EQ(folder.Read(QStringLiteral("line 3/a.kavjob")), job::JobText(made));
  EXPECT_TRUE(job::WriteJob(made, folder.File(QStringLiteral("no/such/a.kavjob")))
                  .startsWith(QStringLiteral("Cannot write \"%1\": ").arg(folder.File("no/such/a.kavjob"))));
}

TEST_F(JobFolder, APlanOpensAsWrittenOrIsRefusedForItsFirmwareModeAndList) {
  numbering::SerialPlan plan;
  plan.address = 0x7F00;
  plan.format = numbering::SerialFormat::Decimal;
  plan.digits = 6;
  plan.prefix = QStringLiteral("SN");
  plan.start = 1000;
  plan.pool = QStringLiteral("boards");
  plan.blockSize = 20;
  plan.giveUpOnFail = false;
  made.serial = plan;
  ASSERT_EQ(job::WriteJob(made, jobPath), QString());
  const QJsonObject good = QJsonDocument::fromJson(folder.Read(QStringLiteral("line 3/a.kavjob"))).object();
  ASSERT_EQ(good["schema"].toInt(), 2);
  folder.Write(QStringLiteral("line 3/list.txt"), "A-1\nhex:0102\n");
  folder.Write(QStringLiteral("line 3/twice.txt"), "A-1\nA-1\n");
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), folder.File(QStringLiteral("line 3/null.txt"))));
  using Edit = std::function<void(QJsonObject &)>;
  const auto planSet = [](const char *key, const QJsonValue &value) -> Edit {
    return [=](QJsonObject &o) {
      QJsonObject p = o["serial_numbers"].toObject();
      p[QLatin1String(key)] = value;
      o["serial_numbers"] = p;
    };
  };
  const struct Case {
    const char *name;
    Edit edit;
    QString refusal;
  } cases[] = {
      {"as written", [](QJsonObject &) {}, {}},
      {"over the firmware", planSet("address", "0000"),
       QStringLiteral("the serial number at 0000-0007 would overwrite the firmware's bytes at 0000-0001; allow it "
                      "with --serial-overwrite if that is meant")},
      {"offline, many chips",
       [](QJsonObject &o) {
         o["mode"] = "offline";
         o["count"] = "3";
       },
       QStringLiteral("per-unit data needs a load that programs one chip: in offline mode with a count of 3 the box "
                      "would burn the same image, and so the same number, into every chip")},
      {"unknown plan key", planSet("colour", "red"), QStringLiteral("unknown key \"serial_numbers.colour\"")},
      {"format", planSet("format", "dec:11"),
       QStringLiteral("\"serial_numbers.format\": expects le32, be32, dec:N (N 1..10) or hex:N (N 1..8), got "
                      "\"dec:11\"")},
      {"flag as text", planSet("overwrite", "yes"),
       QStringLiteral("\"serial_numbers.overwrite\": expects true or false, got \"yes\"")},
      {"start past its digits", planSet("start", 1000000),
       QStringLiteral("\"serial_numbers\": the number 1000000 does not fit 6 decimal digits")},
      {"a list that is not there", planSet("list", "gone.txt"),
       QStringLiteral("cannot read the serial-number list \"%1\": No such file or directory")
           .arg(folder.File(QStringLiteral("line 3/gone.txt")))},
      {"a list that is a device", planSet("list", "null.txt"),
       QStringLiteral("cannot read the serial-number list \"%1\": it is not a regular file")
           .arg(folder.File(QStringLiteral("line 3/null.txt")))},
      {"a list giving a value twice", planSet("list", "twice.txt"),
       QStringLiteral("the serial-number list \"%1\": line 2: \"A-1\" is given twice and would go into two boards")
           .arg(folder.File(QStringLiteral("line 3/twice.txt")))},
      {"a list changed since the job was made",
       [&](QJsonObject &o) {
         planSet("list", "list.txt")(o);
         planSet("list_sha256", QString(64, u'0'))(o);
       },
       QStringLiteral("the serial-number list \"%1\" is not the job's: its SHA-256 is %2, the job's is %3")
           .arg(folder.File(QStringLiteral("line 3/list.txt")),
                QString::fromLatin1(QCryptographicHash::hash("A-1\nhex:0102\n", QCryptographicHash::Sha256).toHex()),
                QString(64, u'0'))},
      {"a list's hash without a list", planSet("list_sha256", QString(64, u'0')),
       QStringLiteral("\"serial_numbers.list_sha256\": only with \"serial_numbers.list\"")},
      {"a list value over the firmware",
       [&](QJsonObject &o) {
         planSet("list", "list.txt")(o);
         planSet("address", "0001")(o);
       },
       QStringLiteral("the list's value \"A-1\": the serial number at 0001-0003 would overwrite the firmware's "
                      "bytes at 0001-0001; allow it with --serial-overwrite if that is meant")},
  };
  for (const Case &c : cases) {
    QJsonObject object = good;
    c.edit(object);
    folder.Write(QStringLiteral("line 3/a.kavjob"), QJsonDocument(object).toJson());
    const job::OpenedJob opened = job::OpenJob(jobPath, {});
    EXPECT_EQ(opened.refusal, c.refusal) << c.name;
    if (opened.job) {
      EXPECT_EQ(*opened.job, made) << c.name;
    }
  }
  // A job without a plan stays readable by stations that know only schema 1.
  made.serial.reset();
  EXPECT_TRUE(job::JobText(made).contains("\"schema\": 1,"));
}

TEST_F(JobFolder, OnceAKeyIsTrustedOnlyAJobItsSignatureReleasesAsSignedOpens) {
  ASSERT_EQ(job::WriteJob(made, jobPath), QString());
  const QByteArray text = folder.Read(QStringLiteral("line 3/a.kavjob"));
  // As the install gives it, with its '/'.
  const QString keys = folder.File(QStringLiteral("keys/"));
  // Keys the test writes are writable by their owner alone, whatever the umask it was started with.
  const mode_t umask = ::umask(022);
  const QString signature = QLatin1Char('"') + jobPath + QStringLiteral(".minisig\"");
  const TestSigner engineer;
  // Its id has leading zeros, which minisign does not show.
  const TestSigner other(QByteArray::fromHex("efcdab8967452300"));
  const QByteArray comment = "released by Li Wei\tfor lot 7";
  using Sign = std::function<std::optional<QByteArray>()>;
  const Sign byEngineer = [&] { return engineer.SignatureFile(text, comment); };
  // Line by line, each line's end kept.
  const auto lineOf = [&](int n) { return byEngineer()->split('\n').at(n) + '\n'; };
  const QString about = QStringLiteral(" (key %1, trusted comment \"released by Li Wei for lot 7\")");
  // The signature's or key's first line of base64 with another algorithm named.
  const auto flagged = [](const QByteArray &file, int line, const char *algorithm) {
    QList<QByteArray> lines = file.split('\n');
    lines[line] = (algorithm + QByteArray::fromBase64(lines[line]).mid(2)).toBase64();
    return lines.join('\n');
  };
  const QString key9 = QLatin1Char('"') + keys + QStringLiteral("key9.pub\"");
  const auto keyIs = [&](const std::function<bool(const QByteArray &)> &make) {
    return [&, make] { ASSERT_TRUE(make(QFile::encodeName(keys + QStringLiteral("key9.pub")))); };
  };
  const auto keysAre = [&](const std::function<bool(const QByteArray &)> &make) {
    return [&, make] {
      ASSERT_TRUE(QDir(keys).removeRecursively());
      ASSERT_TRUE(make(QFile::encodeName(folder.File(QStringLiteral("keys")))));
    };
  };
  const auto writableByOthers = [](const QString &path) {
    return [path] { ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0775), 0); };
  };
  const QString notSigned =
      QStringLiteral("not signed: there is no signature file %1, and with a trusted key installed in \"%2\" every job "
                     "must be signed by one; ask the engineer for the job's .minisig signature file and copy it "
                     "beside the job")
          .arg(signature, keys);
  folder.Write(QStringLiteral("other.hex"), kOtherHex);
  const struct Case {
    const char *name;
    std::vector<const TestSigner *> trusted;
    Sign signature;                     // the .minisig beside the job; nullopt: none
    std::function<void()> afterSigning; // null: nothing changes
    QString refusal;                    // empty: opens
    QString released;                   // ReleaseText once the signature is good; empty: not checked
  } cases[] = {
      {"no trusted key, no signature", {}, [] { return std::nullopt; }, {}, {}, {}},
      {"no trusted key, changed after signing",
       {},
       byEngineer,
       [&] {
         folder.Write(QStringLiteral("line 3/a.kavjob"), QByteArray(text).replace("\"retries\": 2", "\"retries\": 5"));
       },
       {},
       {}},
      {"good prehashed",
       {&engineer},
       byEngineer,
       {},
       {},
       QStringLiteral("released by Li Wei for lot 7 (key %1)").arg(engineer.KeyIdText())},
      {"good legacy, by the second of two keys",
       {&engineer, &other},
       [&] { return other.SignatureFile(text, "legacy", false); },
       {},
       {},
       QStringLiteral("legacy (key %1)").arg(other.KeyIdText())},
      {"good, its comment holding a format character and a control character",
       {&engineer},
       [&] { return engineer.SignatureFile(text, "released by \xE2\x80\xAEiL ieW\x1B[2J"); },
       {},
       {},
       QStringLiteral("released by \\x202EiL ieW\\x1B[2J (key %1)").arg(engineer.KeyIdText())},
      {"a byte changed after signing",
       {&engineer},
       byEngineer,
       [&] {
         folder.Write(QStringLiteral("line 3/a.kavjob"), QByteArray(text).replace("\"retries\": 2", "\"retries\": 5"));
       },
       QStringLiteral("the job file was changed after it was signed: its signature does not match it") +
           about.arg(engineer.KeyIdText()),
       {}},
      {"a key that is not trusted",
       {&engineer},
       [&] { return other.SignatureFile(text, comment); },
       {},
       QStringLiteral("signed by key 23456789ABCDEF, which is not a trusted key (trusted comment \"released by Li Wei "
                      "for lot 7\")"),
       {}},
      {"no signature", {&engineer}, [] { return std::nullopt; }, {}, notSigned, {}},
      {"a signature file cut short",
       {&engineer},
       [&] { return lineOf(0) + lineOf(1) + lineOf(2); },
       {},
       QStringLiteral("the signature file %1 is not a minisign signature: it ends after line 3 of 4").arg(signature),
       {}},
      {"a signature that is not base64",
       {&engineer},
       [&] { return lineOf(0) + lineOf(1).replace(10, 1, "*") + lineOf(2) + lineOf(3); },
       {},
       QStringLiteral("the signature file %1 is not a minisign signature: line 2 is not the base64 of a 74-byte "
                      "signature")
           .arg(signature),
       {}},
      {"the trusted comment changed",
       {&engineer},
       [&] { return lineOf(0) + lineOf(1) + "trusted comment: released by Li Wei for lot 8\n" + lineOf(3); },
       {},
       QStringLiteral("the signature's trusted comment was changed after it was signed (key %1, trusted comment "
                      "\"released by Li Wei for lot 8\")")
           .arg(engineer.KeyIdText()),
       {}},
      {"signed, then its firmware changed",
       {&engineer},
       byEngineer,
       [&] { folder.Write(QStringLiteral("fw.hex"), kOtherHex); },
       QStringLiteral("the firmware file %1 is not the job's: its SHA-256 is %2, the job's is %3 (released: "
                      "released by Li Wei for lot 7 (key %4))")
           .arg(Firmware("fw.hex"), image::ReadFirmware(folder.File("other.hex")).sha256, made.firmwareSha256,
                engineer.KeyIdText()),
       QStringLiteral("released by Li Wei for lot 7 (key %1)").arg(engineer.KeyIdText())},
      {"a signature file that goes on after its fourth line",
       {&engineer},
       [&] { return *byEngineer() + "\n"; },
       {},
       QStringLiteral("the signature file %1 is not a minisign signature: it goes on after line 4").arg(signature),
       {}},
      {"a signature of the hash that says it signs the bytes",
       {&engineer},
       [&] { return flagged(*byEngineer(), 1, "Ed"); },
       {},
       QStringLiteral("the job file was changed after it was signed: its signature does not match it") +
           about.arg(engineer.KeyIdText()),
       {}},
      {"a trusted key of an algorithm that is no key's",
       {&engineer},
       byEngineer,
       [&] { folder.Write(QStringLiteral("keys/key9.pub"), flagged(engineer.PublicKeyFile(), 1, "ED")); },
       QStringLiteral("the trusted key %1 is not a minisign public key: unknown key algorithm \"ED\"").arg(key9),
       {}},
      // No key can be read, and none is passed over: every job is refused naming the entry.
      {"a trusted key that is a dangling link",
       {},
       [] { return std::nullopt; },
       keyIs([&](const QByteArray &path) { return ::symlink("gone.pub", path.constData()) == 0; }),
       QStringLiteral("cannot read the trusted key %1: No such file or directory").arg(key9),
       {}},
      // Root enters any folder; a path through a file cannot be entered by anyone.
      {"a trusted key that is a link that cannot be followed",
       {},
       [] { return std::nullopt; },
       keyIs([&](const QByteArray &path) {
         return ::symlink(QFile::encodeName(folder.File(QStringLiteral("fw.hex/key.pub"))).constData(),
                          path.constData()) == 0;
       }),
       QStringLiteral("cannot read the trusted key %1: Not a directory").arg(key9),
       {}},
      {"a trusted key that is a pipe",
       {},
       [] { return std::nullopt; },
       keyIs([](const QByteArray &path) { return ::mkfifo(path.constData(), 0644) == 0; }),
       QStringLiteral("cannot read the trusted key %1: it is not a regular file").arg(key9),
       {}},
      {"a trusted key that is a folder",
       {},
       [] { return std::nullopt; },
       keyIs([](const QByteArray &path) { return ::mkdir(path.constData(), 0755) == 0; }),
       QStringLiteral("cannot read the trusted key %1: it is a folder").arg(key9),
       {}},
      {"a trusted-keys folder that is a file",
       {},
       [] { return std::nullopt; },
       keysAre([](const QByteArray &path) { return ::mknod(path.constData(), S_IFREG | 0644, 0) == 0; }),
       QStringLiteral("the trusted-keys folder \"%1\" is not a folder").arg(keys),
       {}},
      {"a trusted-keys folder that is a dangling link",
       {},
       [] { return std::nullopt; },
       keysAre([](const QByteArray &path) { return ::symlink("gone", path.constData()) == 0; }),
       QStringLiteral("cannot read the trusted-keys folder \"%1\": No such file or directory").arg(keys),
       {}},
      {"a trusted-keys folder others may write",
       {&engineer},
       byEngineer,
       writableByOthers(keys),
       QStringLiteral("the trusted-keys folder \"%1\" may be written by others than its owner (permissions 0775): "
                      "only the administrator may add a key")
           .arg(keys),
       {}},
      {"a trusted key others may write",
       {&engineer},
       byEngineer,
       writableByOthers(keys + QStringLiteral("key0.pub")),
       QStringLiteral("the trusted key \"%1key0.pub\" may be written by others than its owner (permissions 0775): "
                      "only the administrator may change a key")
           .arg(keys),
       {}},
      {"a trusted key file that is no key",
       {&engineer, nullptr},
       byEngineer,
       {},
       QStringLiteral("the trusted key \"%1\" is not a minisign public key: line 2 is not the base64 of a 42-byte key")
           .arg(keys + QStringLiteral("key1.pub")),
       {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(folder.File(QStringLiteral("keys")));
    QDir(keys).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(keys));
    ASSERT_EQ(::chmod(QFile::encodeName(keys).constData(), 0755), 0);
    // Another file in the folder is no key.
    folder.Write(QStringLiteral("keys/README"), "not a key");
    for (size_t n = 0; n < c.trusted.size(); ++n)
      folder.Write(QStringLiteral("keys/key%1.pub").arg(n),
                   c.trusted[n] ? c.trusted[n]->PublicKeyFile() : QByteArray("untrusted comment: x\nRWQ=\n"));
    folder.Write(QStringLiteral("line 3/a.kavjob"), text);
    folder.Write(QStringLiteral("fw.hex"), kHex);
    QFile::remove(jobPath + job::kSignatureSuffix);
    if (const std::optional<QByteArray> bytes = c.signature())
      folder.Write(QStringLiteral("line 3/a.kavjob.minisig"), *bytes);
    if (c.afterSigning)
      c.afterSigning();

    const job::OpenedJob opened = job::OpenJob(jobPath, keys);
    EXPECT_EQ(opened.refusal, c.refusal);
    EXPECT_EQ(opened.job.has_value(), c.refusal.isEmpty());
    EXPECT_EQ(opened.release.checked, !c.released.isEmpty());
    if (opened.release.checked) {
      EXPECT_EQ(job::ReleaseText(opened.release), c.released);
    }
  }
  ::umask(umask);
}
