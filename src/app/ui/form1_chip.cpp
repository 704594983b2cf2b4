// Chip configuration handlers of the main window: the chip type list, the
// dataflash use and the sector boxes. The rules live in chip/chip_list.h; these
// handlers show what a choice means in the controls.
#include "app/ui/controls.h"
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "app/ui/form2.h"
#include "base/exception.h"
#include "chip/chip_list.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace app {

namespace {

chip::ChipChoice ReadChipChoice(const TForm1 &form) {
  return {form.Edit1->text(), form.Edit2->text(), form.RadioGroup3->isEnabled(), form.Button2->isEnabled()};
}

void ShowChipChoice(TForm1 &form, const chip::ChipChoice &choice) {
  if (form.Edit1->text() != choice.name)
    form.Edit1->setText(choice.name);
  if (form.Edit2->text() != choice.range)
    form.Edit2->setText(choice.range);
  form.RadioGroup3->setEnabled(choice.dataflashChoice);
  form.Button2->setEnabled(choice.loadReady);
}

// Runs a chip step and shows what it did, also when it stops half-way.
template <typename Step> void RunChipStep(TForm1 &form, Step &&step) {
  chip::ChipChoice choice = ReadChipChoice(form);
  try {
    step(choice);
  } catch (...) {
    ShowChipChoice(form, choice);
    throw;
  }
  ShowChipChoice(form, choice);
}

} // namespace

void TForm1::Button1Click() {
  TForm2 *chipWindow = Form2();
  const QScreen *screen = QGuiApplication::primaryScreen();
  const QSize screenSize = screen ? screen->geometry().size() : QSize();
  const QSize outer = chipWindow->frameGeometry().size();
  chipWindow->move(screenSize.width() / 2 - outer.width() / 2, screenSize.height() / 2 - outer.height() / 2);

  const chip::ChipListText list = chip::ReadChipListFile(ChipListPath());
  if (!list.error.isEmpty())
    throw base::EFOpenError(list.error);
  chipWindow->Memo1->setPlainText(list.text);

  DialogsRef().ShowModal(chipWindow);
}

void TForm1::ChipLineChosen(const QString &line) {
  RunChipStep(*this, [&](chip::ChipChoice &choice) {
    chip::ChooseChip(line, ChosenDataflashUse(), state_, state_.ImageSize, choice);
  });
}

void TForm1::RadioGroup3Click() {
  RunChipStep(*this, [this](chip::ChipChoice &choice) {
    if (const std::optional<chip::DataflashUse> use = ChosenDataflashUse())
      chip::ChangeDataflashUse(*use, state_, state_.ImageSize, choice);
  });
}

std::optional<chip::DataflashUse> TForm1::ChosenDataflashUse() const {
  switch (RadioGroup3->ItemIndex()) {
  case 0:
    return chip::DataflashUse::Code;
  case 1:
    return chip::DataflashUse::Eeprom;
  default:
    return std::nullopt;
  }
}

void TForm1::Button3Click() {
  for (int n = 1; n <= 32; ++n)
    CheckBox(n)->setChecked(true);
}

void TForm1::Button4Click() {
  for (int n = 1; n <= 32; ++n)
    CheckBox(n)->setChecked(false);
}

} // namespace app
