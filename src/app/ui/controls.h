#pragma once
// Small controls the designed window needs and Qt lacks: a radio group with an
// item index (QGroupBox of radio buttons laid out in columns) and a status bar
// of fixed-width panels whose texts are always-present labels, so assistive
// technology can read them at any time.

#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QStringList>
#include <QValidator>
#include <QWidget>
#include <functional>
#include <vector>

class QRadioButton;

namespace app {

// A designed font by pixel size. The designed families are Chinese system
// fonts; the machine's CJK fonts stand in where they are missing. A dump font
// prefers fixed-pitch faces so that its columns line up.
enum class FontPitch { Any, Fixed };
QFont DesignFont(const QString &family, int pixels, bool bold = false, FontPitch pitch = FontPitch::Any);

// A label of a view's header (the production view's, the line's): the
// system's font at `pixels`, named `name` for tests and assistive technology,
// not selectable, so that a key meant for the view is never taken by it.
QLabel *HeaderLabel(QWidget *parent, const char *name, int pixels, bool bold = false);

// An editable combo box that says when its list is about to open, so the list
// can be brought up to date first.
class TPortComboBox : public QComboBox {
  Q_OBJECT
public:
  using QComboBox::QComboBox;
  std::function<void()> OnPopup;
  void showPopup() override {
    if (OnPopup)
      OnPopup();
    QComboBox::showPopup();
  }
};

class TRadioGroup : public QGroupBox {
  Q_OBJECT
public:
  TRadioGroup(QWidget *parent, const QString &caption, const QStringList &items, int columns);

  int ItemIndex() const; // -1 when none is selected
  void SetItemIndex(int index);
  int Count() const { return int(buttons_.size()); }
  QRadioButton *Button(int index) const { return buttons_.at(size_t(index)); }

  // Runs when the operator selects another item (not when SetItemIndex is
  // called, nor on a click of the item already selected).
  std::function<void()> OnClick;

private:
  std::vector<QRadioButton *> buttons_;
  bool selectionChanged_ = false;
};

// The panels hold designed texts and show them in the operator's language
// (session/operator_text.h), again whenever the language changes. A
// translation wider than what shows of its panel is elided, its whole text in
// the tooltip; a designed text is cut at the edge as designed.
class TStatusBar : public QWidget {
  Q_OBJECT
public:
  TStatusBar(QWidget *parent, const std::vector<int> &panelWidths);

  // The designed text; the panel's label shows it translated.
  QString PanelText(int index) const { return texts_.at(size_t(index)).text; }
  // `detail` (why, and what to do) becomes the panel's tooltip; the accessible
  // description is the text followed by the detail.
  void SetPanelText(int index, const QString &text, const QString &detail = {});
  int PanelWidth(int index) const { return panels_.at(size_t(index))->width(); }
  void SetPanelWidth(int index, int width);
  QLabel *Panel(int index) const { return panels_.at(size_t(index)); }

protected:
  void resizeEvent(QResizeEvent *event) override;
  void changeEvent(QEvent *event) override;

private:
  void Relayout();
  void ShowPanel(size_t index);
  struct PanelTexts {
    QString text, detail;
  };
  std::vector<QLabel *> panels_;
  std::vector<PanelTexts> texts_;
};

// Refuses an edit that would leave anything but decimal digits in a line
// edit (a paste, a drop), and tells `refused`: the rule typed characters meet
// in the key filter, for whatever does not come as a key.
class DigitsOnlyValidator : public QValidator {
public:
  DigitsOnlyValidator(QObject *parent, std::function<void()> refused);
  State validate(QString &input, int &pos) const override;

private:
  std::function<void()> refused_;
};

} // namespace app
