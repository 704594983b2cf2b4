#include "image/ui/form4.h"

TForm4::TForm4() : TDumpWindow(QStringLiteral("Form4"), kInitialCaption, kClientHeight, 24, 441) {}
