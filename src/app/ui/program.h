#pragma once
// The running program: the shared state, the production records and the four
// windows, created in the start-up order (main window first, its creation
// handler opening the port, then the chip list, the read-out view and the file
// buffer view, hidden). The record store is named in the settings file
// (section "records", key "url": absent for the default SQLite file of this
// user, "off" for none, "sqlite:PATH" or a PostgreSQL URL), and so is the
// language (section "ui", key "language"; else the system locale's).

#include "app/shared_state.h"
#include "base/clock.h"

#include <QString>
#include <memory>

namespace base {
struct InstallPaths;
}
namespace records {
class Recorder;
}
namespace serial {
class SerialLayer;
}
namespace session {
class AttemptRecords;
}

namespace app {

class Dialogs;
class TForm1;
class TForm2;
class TForm3;
class TForm4;

class Program {
public:
  // The box session takes its time from `clock`.
  Program(Dialogs &dialogs, std::shared_ptr<serial::SerialLayer> serialLayer, const base::InstallPaths &paths,
          base::Clock &clock = base::SystemClock());
  // A portable program in `appDir` (settings file and chip list beside it).
  Program(Dialogs &dialogs, std::shared_ptr<serial::SerialLayer> serialLayer, const QString &appDir,
          base::Clock &clock = base::SystemClock());
  ~Program(); // the port closes with the window's session

  SharedState State;
  std::unique_ptr<records::Recorder> Recorder; // null when records are off
  std::unique_ptr<session::AttemptRecords> Attempts;
  std::unique_ptr<TForm1> Form1;
  std::unique_ptr<TForm2> Form2;
  std::unique_ptr<TForm3> Form3;
  std::unique_ptr<TForm4> Form4;
};

// The folder of the running executable, ending in the path separator.
QString ExecutableFolder();

} // namespace app
