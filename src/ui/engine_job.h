// The one way the window's commands and the live preview change an engine
// off the user-interface thread: the work runs on a copy of the engine
// (which shares its pixels, so the copy costs nothing), and the copy comes
// back on the user-interface thread when the work completes, to take the
// engine's place or to be kept for later. An error drops the copy, so the
// engine the window shows is never half changed.
#pragma once

#include <exception>
#include <functional>
#include <memory>

#include "engine/miniature_engine.h"
#include "ui/work_runner.h"

inline void RunOnEngineCopy(
    TWorkRunner& runner, const QString& what, const MiniatureEngine& engine,
    std::function<void(MiniatureEngine&)> work,
    std::function<void(std::shared_ptr<MiniatureEngine> next, std::exception_ptr error)> done) {
  auto next = std::make_shared<MiniatureEngine>(engine);
  runner.Run(
      what, [next, work = std::move(work)] { work(*next); },
      [next, done = std::move(done)](std::exception_ptr error) { done(error ? nullptr : next, error); });
}
