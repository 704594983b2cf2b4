// kavrin-programmer: start-up. Title, main window (its creation handler opens
// the port), the three hidden windows, then the message loop until the main
// window closes.
#include "app/settings_file.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "app/ui/line_window.h"
#include "app/ui/program.h"
#include "base/install_paths.h"
#include "base/message_log.h"
#include "base/version.h"
#include "serial/serial_layer.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <fcntl.h>
#include <unistd.h>
#include <optional>
#include <string_view>

namespace {

const char kUsage[] = R"(Usage: kavrin-programmer [--help | --version] [--job FILE [--port PORT ...]] [Qt options]
       kavrin-programmer --line [--records URL] [Qt options]

Opens the window that drives the PAC52XX programmer box over a serial line
(38400 baud, 8N1). The port choice is kept in sysset.ini and the chip list is
read from MCUtype.txt: both beside the executable when MCUtype.txt is there,
otherwise sysset.ini in $XDG_CONFIG_HOME/kavrin-programmer/ (by default
~/.config/kavrin-programmer/) and MCUtype.txt from that folder if present, else
from the installed data folder.

Production records go where sysset.ini's [records] url= names (see the manual
page). Leave a PostgreSQL password out of that url: libpq reads it from
~/.pgpass (or the file PGPASSFILE names), or from a service of its service file
(PGSERVICEFILE) named as url=postgresql://user@host/db?service=NAME.

With --job, the production job FILE (*.kavjob) opens in the production view,
one tile per box, on the ports given with --port (each its own box, 1 to 16)
or else on the job's own ports. Space starts every ready box (another key can
be named in sysset.ini: [production] start_key=F13), 1-9 start boxes 1 to 9
and F1-F16 boxes 1 to 16. A job that cannot be opened is shown with its
reason and the main window opens instead. Once a trusted key is installed (a
minisign public key, *.pub, in /etc/kavrin-programmer/trusted-keys/, or in
trusted-keys/ beside the executable when MCUtype.txt is there), a job opens
only when FILE.minisig, a trusted key's signature of it, releases it as it is
(an engineer signs with: minisign -Sm FILE -t "released by ..."; a key is
retired by removing its file; see 'kavrin-cli job show --help').

With --line, the line at a glance opens alone, with no box and no port: every
station that wrote a unit to the store today, live. Its store is the one
sysset.ini names, or URL. A station's row turns amber once it stands idle for
[line] amber_minutes of sysset.ini (default 10).

  --help          show this text
  --version       show the version
  --job FILE      open the production job FILE
  --port PORT     a box's serial port for the job (repeat for each box)
  --line          open the line at a glance alone
  --records URL   the store the line view reads (sqlite:PATH or postgresql://...)
)";

// SIGTERM (a PC shutting down, a service manager) and SIGHUP (the session
// ending) end the message loop as closing the window does, so that what the
// program holds goes back in order: a production view's stopped units are
// written and the serial numbers it reserved return to the pool. The handler
// only writes a byte into a pipe, which the loop reads.
class OrderlyEnd {
public:
  OrderlyEnd() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
      return; // the default action stays: the process ends at once
    read_ = fds[0];
    write_ = fds[1];
    notifier_ = std::make_unique<QSocketNotifier>(read_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
      char bytes[16];
      while (read(read_, bytes, sizeof bytes) > 0) {
      }
      // A second signal during the teardown ends the process as it always did.
      signal(SIGTERM, SIG_DFL);
      signal(SIGHUP, SIG_DFL);
      ended_ = true;
      QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = [](int) {
      const int saved = errno;
      const char byte = 1;
      [[maybe_unused]] const ssize_t n = write(write_, &byte, 1);
      errno = saved;
    };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
  }
  // A signal taken before the message loop ran (in a start-up dialog's own
  // loop) ends the program as it starts.
  bool Ended() const { return ended_; }

private:
  static inline int write_ = -1;
  bool ended_ = false;
  int read_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
};

// The line at a glance alone: the store of --records or of the settings file.
int RunLine(const std::optional<QString> &recordsUrl) {
  const base::InstallPaths paths = base::ResolveInstallPaths(app::ExecutableFolder());
  const app::SettingsFile settings(paths.SettingsFile);
  base::UseLanguage(base::ParseLanguage(settings.ReadString(app::kUiSection, app::kLanguageKey, QString()))
                        .value_or(base::SystemLanguage()));
  QString error;
  const std::optional<records::StoreLocation> store = records::ParseStoreUrl(
      recordsUrl.value_or(settings.ReadString(app::kRecordsSection, app::kRecordsKey, QString())), &error);
  if (!store) {
    std::fprintf(stderr, "kavrin-programmer: --records: %s\n", qPrintable(error));
    return 2;
  }
  if (store->kind == records::StoreLocation::Kind::Off) {
    std::fprintf(stderr, "kavrin-programmer: --line: records are off, there is no line to show\n");
    return 2;
  }
  app::QtDialogs dialogs;
  app::LineWindow window(*store, dialogs, app::LineWindow::AmberMinutes(paths.SettingsFile));
  window.show();
  return QApplication::exec();
}

} // namespace

int main(int argc, char **argv) {
  // Answered before the application object exists, so they need no display.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--version") {
      std::printf("%s\n", base::VersionLine("kavrin-programmer").c_str());
      return 0;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }

  QApplication app(argc, argv);
  // Beside the default records store: what Qt and its drivers say is kept there, off the console.
  base::KeepQtMessagesInLog(QFileInfo(records::DefaultSqlitePath()).absolutePath() + QStringLiteral("/kavrin.log"));
  // The application name titles message boxes; no display name is set, since
  // that would be appended to every window caption on X11.
  QApplication::setApplicationName(app::kApplicationTitle);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  // Ties the windows to the installed desktop entry and its icon (both absent when portable).
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.kavrin.programmer"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("io.github.kavrin.programmer")));
  QString jobPath;
  QStringList ports;
  bool line = false;
  std::optional<QString> recordsUrl;
  const QStringList args = QCoreApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == QStringLiteral("--job") && hasValue) {
      jobPath = args[++i];
    } else if (args[i] == QStringLiteral("--port") && hasValue) {
      ports << args[++i];
    } else if (args[i] == QStringLiteral("--line")) {
      line = true;
    } else if (args[i] == QStringLiteral("--records") && hasValue) {
      recordsUrl = args[++i];
    } else {
      std::fprintf(stderr, "kavrin-programmer: unknown option or missing value: %s\n%s", qPrintable(args[i]), kUsage);
      return 2;
    }
  }
  if (!ports.isEmpty() && jobPath.isEmpty()) {
    std::fprintf(stderr, "kavrin-programmer: --port is for a job: give --job FILE\n");
    return 2;
  }
  if (line && !jobPath.isEmpty()) {
    std::fprintf(stderr, "kavrin-programmer: --line opens the line view alone: leave --job out\n");
    return 2;
  }
  if (recordsUrl && !line) {
    std::fprintf(stderr, "kavrin-programmer: --records is for the line view: give --line\n");
    return 2;
  }
  OrderlyEnd orderlyEnd;
  if (line)
    return RunLine(recordsUrl);

  app::QtDialogs dialogs;
  app::Program program(dialogs, serial::MakePlatformSerialLayer(), base::ResolveInstallPaths(app::ExecutableFolder()));
  if (jobPath.isEmpty() || !program.Form1->OpenJob(jobPath, ports))
    program.Form1->show();
  return orderlyEnd.Ended() ? 0 : app.exec();
}
