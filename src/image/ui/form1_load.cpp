// The load: announce, file choice, HEX reading, blocks and the start of the transfer.
#include "app/ui/form1.h"

void TForm1::Button2Click() {}
void TForm1::Edit3Click() {}
