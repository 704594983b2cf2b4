#pragma once
// Dialogs for tests: records every modal interaction instead of blocking.
// File choices (open and save) are answered from queues (an empty queue cancels); ShowModal
// runs an optional hook while the window "is shown", then hides it.

#include "app/ui/dialogs.h"

#include <QStringList>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

class RecordingDialogs : public app::Dialogs {
public:
  struct Box {
    enum Kind { Message, Error, About } kind;
    QString text;
  };

  void ShowMessage(QWidget *, const QString &text) override { boxes.push_back({Box::Message, text}); }
  void ShowError(QWidget *, const QString &text) override { boxes.push_back({Box::Error, text}); }
  std::optional<app::ChosenFile> GetOpenFileName(QWidget *) override {
    ++fileDialogs;
    if (fileAnswers.empty())
      return std::nullopt;
    const std::optional<app::ChosenFile> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }
  std::optional<QString> GetSaveFileName(QWidget *, const QString &suggested) override {
    saveSuggestions << suggested;
    if (saveAnswers.empty())
      return std::nullopt;
    const std::optional<QString> answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
  }
  void ShowModal(QWidget *window) override {
    modalWindows.push_back(window);
    window->show();
    if (onShowModal)
      onShowModal(window);
    window->hide();
  }
  void Beep() override { ++beeps; }
  void ShowAbout(QWidget *, const QString &text) override { boxes.push_back({Box::About, text}); }

  QStringList Messages() const { return Texts(Box::Message); }
  QStringList Errors() const { return Texts(Box::Error); }
  QStringList Texts(Box::Kind kind) const {
    QStringList out;
    for (const auto &b : boxes)
      if (b.kind == kind)
        out << b.text;
    return out;
  }

  std::vector<Box> boxes;
  std::deque<std::optional<app::ChosenFile>> fileAnswers; // nullopt = cancel
  int fileDialogs = 0;
  std::deque<std::optional<QString>> saveAnswers; // nullopt = cancel
  QStringList saveSuggestions;
  std::vector<QWidget *> modalWindows;
  std::function<void(QWidget *)> onShowModal;
  int beeps = 0;
};
