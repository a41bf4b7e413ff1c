// Runs GoogleTest inside the program's application object, on the offscreen platform.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/Application.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  pairsweep::app::TPairsweepApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
