#pragma once
// Text typed as a keyboard or a scanner types it: a key event per character
// into the widget. QTest::keyClicks maps only Latin-1 to keys; a character
// beyond it comes as an input method gives it, a key event carrying its text.

#include <QString>
#include <QTest>
#include <QWidget>

// A character beyond 16 bits (an emoji) is one event, as an input method sends it.
inline void TypeText(QWidget *widget, const QString &text) {
  for (const char32_t c : text.toUcs4()) {
    if (c < 0x80)
      QTest::keyClick(widget, char(c));
    else
      QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString::fromUcs4(&c, 1), Qt::NoModifier);
  }
}
