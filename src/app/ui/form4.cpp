#include "app/ui/form4.h"

#include <QPlainTextEdit>

namespace app {

TForm4::TForm4() : TDumpWindow(QStringLiteral("Form4"), kInitialCaption, kClientHeight, 24, 441) {}

void TForm4::ShowImage(const QString &baseName, const QStringList &lines) {
  Memo1->clear();
  SetPlainCaption(baseName);
  SetLines(lines);
}

} // namespace app
