// The application-wide busy cursor for the span of one scope: set when the
// object is made, the normal cursor back when it goes, on every path
// (an exception included).
#pragma once

#include <QCursor>
#include <QGuiApplication>

class TBusyCursor {
 public:
  TBusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QGuiApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};
