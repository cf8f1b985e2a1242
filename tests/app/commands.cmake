# Tests of the window's three commands: helpers without a server (app), the
# commands against the real server on the headless window (app;integration)
# and on the Qt window under the offscreen platform (gui;integration).
slv_add_gtest(commands_tests
  LABELS app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/commands_helpers_test.cpp
  LIBS slv_appcore)

slv_add_gtest(commands_server_tests
  RESOURCE_LOCK suite_programs
  LABELS app integration
  TIMEOUT 900
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/commands_backup_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/commands_restore_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/commands_server_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/commands_inuse_test.cpp
  LIBS slv_appcore slv_testsupport)
# The make-server tests run the stand-ins of the suite's programs.
add_dependencies(commands_server_tests standin_solvane standin_slvserver)
target_compile_definitions(commands_server_tests PRIVATE
  STANDIN_DIR="$<TARGET_FILE_DIR:standin_solvane>")

# The fault matrix: the commands under the faults users meet (full disks,
# another user's files and programs, a server that never answers, clicks
# while a command runs), each checked for nothing lost. Root-only rows skip
# elsewhere.
slv_add_gtest(commands_fault_tests
  RESOURCE_LOCK suite_programs
  LABELS app integration faults
  TIMEOUT 900
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/commands_faults_test.cpp
  LIBS slv_appcore slv_testsupport)
add_dependencies(commands_fault_tests standin_solvane standin_slvserver)
target_compile_definitions(commands_fault_tests PRIVATE
  STANDIN_DIR="$<TARGET_FILE_DIR:standin_solvane>")
# The server killed in the middle of make-server's restore, on a private
# server in its own namespaces (root only; skipped elsewhere).
add_test(NAME MakeServerFault.ServerKilledMidRestoreOnAPrivateServer
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/server_killed_test.sh
          $<TARGET_FILE:commands_fault_tests>)
set_tests_properties(MakeServerFault.ServerKilledMidRestoreOnAPrivateServer PROPERTIES
  LABELS "app;integration;faults" SKIP_RETURN_CODE 77 RESOURCE_LOCK suite_programs
  TIMEOUT 600)
