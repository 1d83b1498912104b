// Entry of the Windows test programs: runs a child scenario when asked to (--zv-child=<name>),
// otherwise the GoogleTest cases.
#include <gtest/gtest.h>

#include "tests/support/WinTestSupport.h"

int main(int argc, char** argv) {
  if (zv::test::RunScenarioFromCommandLine(argc, argv)) return 0;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
