// Test entry of the Qt test programs: one QApplication for all cases, offscreen unless told otherwise.
#include <gtest/gtest.h>
#include <QApplication>
#include <cstdlib>

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

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
