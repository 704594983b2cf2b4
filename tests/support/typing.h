#pragma once
// Text typed as a keyboard or a scanner types it: a key event per character
// into the widget. QTest::keyClicks maps only Latin-1 to keys; a character
// beyond it comes as an input method gives it, a key event carrying its text.

#include <QString>
#include <QTest>
#include <QWidget>

inline void TypeText(QWidget *widget, const QString &text) {
  for (const QChar c : text) {
    if (c.unicode() < 0x80)
      QTest::keyClick(widget, char(c.unicode()));
    else
      QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}
