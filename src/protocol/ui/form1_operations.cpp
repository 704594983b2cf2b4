// Operations on the box, the reply handler, the clocks and the read-out view.
#include "app/ui/form1.h"

void TForm1::Button8Click() {}
void TForm1::Button5Click() {}
void TForm1::Button7Click() {}
void TForm1::Button6Click() {}
void TForm1::Comm1ReceiveData(TComm *, const uint8_t *, uint16_t) {}
void TForm1::Timer1Timer() {}
void TForm1::Timer2Timer() {}
void TForm1::Label8Click() {}
void TForm1::StartClocks(int) {}
void TForm1::StopClocks() {}
void TForm1::ShowFullProgress() {}
