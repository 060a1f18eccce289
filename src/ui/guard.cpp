#include "ui/guard.h"

#include <new>
#include <stdexcept>

QString ErrorMessage(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return QStringLiteral("Not enough memory for this operation.");
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return QStringLiteral("An unknown error occurred.");
  }
}

void RunGuarded(TDialogs& dialogs, QWidget* parent, const std::function<void()>& body) noexcept {
  try {
    body();
  } catch (...) {
    try {
      dialogs.ShowError(parent, ErrorMessage(std::current_exception()));
    } catch (...) {
      // Not even the box could be shown (no memory left): the window goes on.
    }
  }
}
