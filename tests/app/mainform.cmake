# Tests of the maintenance window's logic on the headless widgets.
slv_add_gtest(mainform_tests
  LABELS app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mainform_test.cpp
  LIBS slv_appcore slv_windowtest)
