// The tests' main: every test program starts from the same environment, the
// build tree's data folder and the C.UTF-8 locale, whoever launches it (ctest,
// a debugger, a shell). A value already set by the caller is kept.

#include <cstdlib>

#include <gtest/gtest.h>

#ifndef TESS_TEST_DATA_DIR
#error "TESS_TEST_DATA_DIR must name the build tree's data folder"
#endif

int main(int argc, char** argv) {
  ::setenv("TESSELLARIUM_DATA_DIR", TESS_TEST_DATA_DIR, 0);
  ::setenv("LC_ALL", "C.UTF-8", 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
