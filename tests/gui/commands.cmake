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

# The program as a user runs it, driven: a backup, then a request to end
# the program while it runs.
add_executable(backup_then_end_driver ${CMAKE_CURRENT_LIST_DIR}/BackupThenEndDriver.cpp)
target_link_libraries(backup_then_end_driver PRIVATE slv_qtviews slv_warnings)

# Stopping commands on the real window and in the running program.
slv_add_gtest(commands_gui_cancel_tests
  RESOURCE_LOCK suite_programs
  LABELS gui integration
  TIMEOUT 900
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/GuiTestMain.cpp
          ${CMAKE_CURRENT_LIST_DIR}/commands_cancel_gui_test.cpp
  LIBS slv_qtviews slv_testsupport Qt6::Test)
add_dependencies(commands_gui_cancel_tests backup_then_end_driver)
target_compile_definitions(commands_gui_cancel_tests PRIVATE
  BACKUP_THEN_END_DRIVER="$<TARGET_FILE:backup_then_end_driver>")
