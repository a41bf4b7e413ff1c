// Runs the reporter's GUI tests inside the program's application object, on the offscreen
// platform, with the user's settings and state folders in a temporary directory.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/Application.h"
#include "tests/support/TestHost.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  pairsweep::testing::TTempDir home;
  setenv("XDG_CONFIG_HOME", (home.Path() / "config").c_str(), 1);
  setenv("XDG_STATE_HOME", (home.Path() / "state").c_str(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  pairsweep::app::TPairsweepApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
