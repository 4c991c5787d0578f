// The Wine tests start like the program: COM entered, the class registered,
// the instance kept.
#include <gtest/gtest.h>

#include "win32/main_window.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const win32::ComApartment apartment;
  win32::gInstance = GetModuleHandleA(nullptr);
  win32::RegisterMainClass(win32::gInstance);
  return RUN_ALL_TESTS();
}
