// The one guard around every handler of the windows: an error that leaves
// a handler is shown in an error box with its message, and the window goes
// on with the state the failing step left. No exception ever leaves a slot.
#pragma once

#include <QString>
#include <exception>
#include <functional>

#include "ui/dialogs.h"

// The message shown for an error.
QString ErrorMessage(const std::exception_ptr& error);

// Runs `body`; an error that leaves it goes to an error box.
void RunGuarded(TDialogs& dialogs, QWidget* parent, const std::function<void()>& body) noexcept;

// A slot that runs `handler` of `form` inside the guard.
template <typename Form, typename... Args>
auto GuardedSlot(Form* form, TDialogs& dialogs, void (Form::*handler)(Args...)) {
  return [form, &dialogs, handler](Args... args) {
    RunGuarded(dialogs, form, [&] { (form->*handler)(args...); });
  };
}
