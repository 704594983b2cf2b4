// Chip configuration handlers of the main window: the chip type list, the
// dataflash use and the sector boxes.
#include "app/ui/form1.h"
#include "chip/ui/form2.h"

void TForm1::Button1Click() {}
void TForm1::RadioGroup3Click() {}
void TForm1::Button3Click() {}
void TForm1::Button4Click() {}
void TForm2::Memo1DblClick() {}
