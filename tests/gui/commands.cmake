# The commands on the real Qt window against the real server.
slv_add_gtest(commands_gui_tests
  RESOURCE_LOCK suite_programs
  LABELS gui integration
  TIMEOUT 900
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/GuiTestMain.cpp ${CMAKE_CURRENT_LIST_DIR}/commands_gui_test.cpp
  LIBS slv_qtviews slv_testsupport Qt6::Test)

# Clicks given while a command runs, on the real window: part of the fault
# matrix.
slv_add_gtest(commands_gui_fault_tests
  RESOURCE_LOCK suite_programs
  LABELS gui integration faults
  TIMEOUT 900
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/GuiTestMain.cpp
          ${CMAKE_CURRENT_LIST_DIR}/commands_faults_gui_test.cpp
  LIBS slv_qtviews slv_testsupport Qt6::Test)
