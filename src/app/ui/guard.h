#pragma once
// Runs a handler so that an error it does not catch ends it and is shown in the
// error box; the program goes on with whatever the handler changed before.

#include "base/exception.h"
#include "app/ui/dialogs.h"

#include <exception>
#include <utility>

namespace app {

template <typename F> void RunGuarded(Dialogs &dialogs, QWidget *parent, F &&handler) {
  try {
    std::forward<F>(handler)();
  } catch (const base::Exception &e) {
    dialogs.ShowError(parent, e.Message());
  } catch (const std::exception &e) {
    dialogs.ShowError(parent, QString::fromLocal8Bit(e.what()));
  }
}

} // namespace app
