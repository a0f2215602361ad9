// The thread sanitizer's view of Qt, for the Qt programs built with it; include it in exactly one file
// of a program (the one with main).
#pragma once

#if defined(__SANITIZE_THREAD__)
// Qt is not built with the thread sanitizer, so its own locking (futexes) is invisible to it and the
// memory Qt's worker threads hand over (image conversion, its thread pool, their glib event loops) looks
// raced. What these libraries do through intercepted calls is ignored; our code and its locks stay checked.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so\n"
         "called_from_lib:libQt6Gui.so\n"
         "called_from_lib:libQt6Widgets.so\n"
         "called_from_lib:libglib-2.0.so\n";
}
#endif
