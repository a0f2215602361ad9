// Test entry of the Qt test programs: one QApplication for all cases, offscreen unless told otherwise.
#include <gtest/gtest.h>
#include <QApplication>
#include <cstdlib>

#include "support/qt/TsanQt.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
