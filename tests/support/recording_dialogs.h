#pragma once
// Dialogs for tests: records every modal interaction instead of blocking.
// File choices (open and save) are answered from queues (an empty queue cancels); ShowModal
// runs an optional hook while the window "is shown", then hides it.

#include "app/ui/dialogs.h"

#include <QStringList>
#include <QWidget>
#include <algorithm>
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
  std::optional<QString> GetJobFileName(QWidget *) override { return Next(jobFileAnswers); }
  // Answered from the save queue, as any save dialog.
  std::optional<QString> GetJobSaveName(QWidget *parent, const QString &suggested) override {
    return GetSaveFileName(parent, suggested);
  }
  std::optional<app::JobDetails> AskJobDetails(QWidget *, const app::JobDetails &suggested) override {
    jobDetailsSuggested.push_back(suggested);
    return Next(jobDetailsAnswers);
  }
  std::optional<QByteArray> AskPin(QWidget *, const QString &prompt, base::Clock &clock, int64_t tryAtMs) override {
    pinPrompts << prompt;
    pinWaitsMs.push_back(std::max<int64_t>(0, tryAtMs - clock.NowMs()));
    return Next(pinAnswers);
  }

  QStringList Messages() const { return Texts(Box::Message); }
  QStringList Errors() const { return Texts(Box::Error); }
  QStringList Texts(Box::Kind kind) const {
    QStringList out;
    for (const auto &b : boxes)
      if (b.kind == kind)
        out << b.text;
    return out;
  }

  template <typename T> static std::optional<T> Next(std::deque<std::optional<T>> &answers) {
    if (answers.empty())
      return std::nullopt;
    const bool given = answers.front().has_value();
    T value = given ? *answers.front() : T();
    answers.pop_front();
    if (!given)
      return std::nullopt;
    return value;
  }

  std::vector<Box> boxes;
  std::deque<std::optional<QString>> jobFileAnswers;            // nullopt = cancel
  std::deque<std::optional<app::JobDetails>> jobDetailsAnswers; // nullopt = cancel
  std::vector<app::JobDetails> jobDetailsSuggested;
  std::deque<std::optional<QByteArray>> pinAnswers; // nullopt = cancel
  std::vector<int64_t> pinWaitsMs;                  // the countdown each PIN dialog began with
  QStringList pinPrompts;
  std::deque<std::optional<app::ChosenFile>> fileAnswers; // nullopt = cancel
  int fileDialogs = 0;
  std::deque<std::optional<QString>> saveAnswers; // nullopt = cancel
  QStringList saveSuggestions;
  std::vector<QWidget *> modalWindows;
  std::function<void(QWidget *)> onShowModal;
  int beeps = 0;
};
