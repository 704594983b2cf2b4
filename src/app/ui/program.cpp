#include "app/ui/program.h"

#include "app/settings_file.h"
#include "app/ui/form1.h"
#include "app/ui/form2.h"
#include "app/ui/form3.h"
#include "app/ui/form4.h"
#include "base/install_paths.h"
#include "base/language.h"
#include "records/recorder.h"
#include "serial/serial_layer.h"
#include "session/attempt_records.h"
#include "session/box_session.h"
#include "session/operator_name.h"

#include <QCoreApplication>
#include <QDir>

namespace app {

Program::Program(Dialogs &dialogs, std::shared_ptr<serial::SerialLayer> serialLayer, const base::InstallPaths &paths,
                 base::Clock &clock) {
  // The windows are made in the operator's language: the one chosen in the
  // menu before, else the system locale's.
  const QString chosen = SettingsFile(paths.SettingsFile).ReadString(kUiSection, kLanguageKey, QString());
  base::UseLanguage(base::ParseLanguage(chosen).value_or(base::SystemLanguage()));

  QString storeError;
  const std::optional<records::StoreLocation> store = records::ParseStoreUrl(
      SettingsFile(paths.SettingsFile).ReadString(kRecordsSection, kRecordsKey, QString()), &storeError);
  if (store && store->kind != records::StoreLocation::Kind::Off)
    Recorder = std::make_unique<records::Recorder>(*store);
  // The designed operations ask no one's name: they are the account's.
  Attempts = std::make_unique<session::AttemptRecords>(Recorder.get(), QStringLiteral("window"), session::LoginName());

  Form1 = std::make_unique<TForm1>(State, dialogs, std::move(serialLayer), paths, clock);
  Form2 = std::make_unique<TForm2>();
  Form3 = std::make_unique<TForm3>();
  Form4 = std::make_unique<TForm4>();
  Form1->AttachForms(Form2.get(), Form3.get(), Form4.get());

  TForm1 *form1 = Form1.get();
  form1->RecordAttemptsIn(Attempts.get());
  form1->RecordUnitsIn(Recorder.get());
  if (!store) {
    form1->RecordsWarning(storeError);
  } else if (Recorder) {
    form1->SetRecordsStore(*store);
    QObject::connect(Recorder.get(), &records::Recorder::Warning, form1,
                     [form1](const QString &text) { form1->RecordsWarning(text); });
    QObject::connect(Recorder.get(), &records::Recorder::Recovered, form1, [form1] { form1->RecordsRecovered(); });
  }
}

Program::Program(Dialogs &dialogs, std::shared_ptr<serial::SerialLayer> serialLayer, const QString &appDir,
                 base::Clock &clock)
    : Program(dialogs, std::move(serialLayer), base::PortableInstallPaths(appDir), clock) {}

Program::~Program() {
  // An operation still under way when the program ends is recorded as interrupted.
  Form1->Session().Stop(session::Outcome::Interrupted);
}

QString ExecutableFolder() {
  QString dir = QCoreApplication::applicationDirPath();
  if (!dir.endsWith(QLatin1Char('/')))
    dir += QLatin1Char('/');
  return dir;
}

} // namespace app
