#pragma once
// A PostgreSQL server of a test's own: a cluster made in a temporary folder,
// listening on 127.0.0.1 on a free port with trust authentication, user
// "postgres". PostgreSQL refuses to run as root, so as root the cluster folder
// is given to the `postgres` user and the server tools run through runuser.
// Stop and Start keep the cluster and the port, so a test can take the server
// away and bring it back. Tests that need one call KAVRIN_NEED_POSTGRES()
// first: it skips when the server tools are missing, except under CI (the
// environment variable CI set), where that is a failure.

#include "support/spawn.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#define KAVRIN_NEED_POSTGRES()                                                                                         \
  do {                                                                                                                 \
    if (PostgresServer::BinDir().isEmpty()) {                                                                          \
      if (qEnvironmentVariableIsSet("CI"))                                                                             \
        FAIL() << "the PostgreSQL server tools (initdb, pg_ctl) are not installed";                                    \
      GTEST_SKIP() << "the PostgreSQL server tools (initdb, pg_ctl) are not installed";                                \
    }                                                                                                                  \
  } while (0)

class PostgresServer {
public:
  // The newest /usr/lib/postgresql/<version>/bin holding initdb and pg_ctl; empty when none.
  static QString BinDir() {
    QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &v : versions) {
      const QString bin = root.filePath(v + QStringLiteral("/bin"));
      if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
        return bin;
    }
    return QString();
  }

  // `durable`: the server syncs its disk as in production (for benchmarks).
  explicit PostgresServer(bool durable = false) : durable_(durable) {}
  ~PostgresServer() { Stop(); }

  int Port() const { return port_; }
  QString Url(const QString &database) const {
    return QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2").arg(port_).arg(database);
  }

  // Makes the cluster on the first call, then starts the server and waits until it takes connections.
  bool Start(QString *error) {
    if (running_)
      return true;
    if (!dir_.isValid())
      return Fail(error, QStringLiteral("no temporary folder"));
    if (!initialised_) {
      if (geteuid() == 0) {
        const passwd *pw = getpwnam("postgres");
        if (!pw || chown(QFile::encodeName(dir_.path()).constData(), pw->pw_uid, pw->pw_gid) != 0)
          return Fail(error, QStringLiteral("cannot give the cluster folder to the postgres user"));
      }
      if (!Tool(QStringLiteral("initdb"),
                {QStringLiteral("-D"), Data(), QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-A"),
                 QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
                 QStringLiteral("--no-sync")},
                error))
        return false;
      port_ = FreePort();
      initialised_ = true;
    }
    // The tests check what reaches the server, not its disk: no fsync.
    QString options =
        QStringLiteral("-c listen_addresses=127.0.0.1 -p %1 -k %2 -c max_connections=60").arg(port_).arg(dir_.path());
    if (!durable_)
      options += QStringLiteral(" -c fsync=off -c synchronous_commit=off -c full_page_writes=off");
    if (!Tool(QStringLiteral("pg_ctl"),
              {QStringLiteral("-D"), Data(), QStringLiteral("-l"), dir_.filePath(QStringLiteral("server.log")),
               QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-o"), options,
               QStringLiteral("start")},
              error))
      return false;
    running_ = true;
    return true;
  }

  bool Stop(QString *error = nullptr) {
    if (!running_)
      return true;
    running_ = false;
    return Tool(QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), Data(), QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"),
                 QStringLiteral("stop")},
                error);
  }

  // Runs SQL through psql on `database`; the output, unaligned and without headers.
  bool Psql(const QString &database, const QString &sql, QString *error, QString *output = nullptr) {
    const SpawnResult r = Spawn(BinDir() + QStringLiteral("/psql"),
                                {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                 QString::number(port_), QStringLiteral("-U"), QStringLiteral("postgres"),
                                 QStringLiteral("-d"), database, QStringLiteral("-XAtq"), QStringLiteral("-v"),
                                 QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"), sql});
    if (!r.Ok())
      return Fail(error, QString::fromUtf8(r.output));
    if (output)
      *output = QString::fromUtf8(r.output).trimmed();
    return true;
  }

  bool CreateDatabase(const QString &name, QString *error) {
    return Psql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE \"%1\"").arg(name), error);
  }

private:
  static bool Fail(QString *error, const QString &text) {
    if (error)
      *error = text;
    return false;
  }

  static int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &length) == 0)
      port = ntohs(a.sin_port);
    close(s);
    return port;
  }

  QString Data() const { return dir_.filePath(QStringLiteral("data")); }

  bool Tool(const QString &name, const QStringList &args, QString *error) {
    QString program = BinDir() + QLatin1Char('/') + name;
    QStringList all = args;
    if (geteuid() == 0) {
      all = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program} + args;
      program = QStringLiteral("runuser");
    }
    const SpawnResult r = Spawn(program, all, dir_.path());
    if (!r.Ok())
      return Fail(error, name + QStringLiteral(" failed: ") + QString::fromUtf8(r.output));
    return true;
  }

  const bool durable_;
  // Named without the application's name, which may hold a space the server's
  // options would split at.
  QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/kavrin-postgres-XXXXXX")};
  int port_ = 0;
  bool initialised_ = false;
  bool running_ = false;
};
