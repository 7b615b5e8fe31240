#include <gtest/gtest.h>

#include "forms/drop_target.h"
#include "forms/forms.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  zt::win::drop_source_start();
  zt::win::Application().Initialize();
  zt::win::Application().Title = L"Zentropolium";
  return RUN_ALL_TESTS();
}
