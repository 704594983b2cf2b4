#include "app/ui/form3.h"

namespace app {

TForm3::TForm3() : TDumpWindow(QStringLiteral("Form3"), kCaption, kClientHeight, 32, 409) { move(518, 221); }

} // namespace app
