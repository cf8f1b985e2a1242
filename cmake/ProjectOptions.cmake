# Warnings, sanitizers and small helpers shared by every target.
add_library(slv_warnings INTERFACE)
target_compile_options(slv_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wformat=2
  $<$<BOOL:${SLV_WERROR}>:-Werror>)

if(SLV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# slv_add_gtest(<target> LABELS <labels...> SOURCES <files...> LIBS <libs...>
#               [TIMEOUT <seconds>] [RESOURCE_LOCK <names...>])
# Every test case becomes one CTest test carrying the given labels, so one
# layer can be run alone (ctest -L client). Tests sharing a RESOURCE_LOCK name
# never run at the same time (e.g. tests that start and end the suite's
# programs, which are found by name machine-wide).
function(slv_add_gtest target)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LABELS;SOURCES;LIBS;RESOURCE_LOCK" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main slv_warnings)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  # Parameterised cases are named by their index: their values may be raw
  # bytes that make unreadable test names.
  gtest_discover_tests(${target}
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  # A list of labels does not survive the discovery step's command line (only
  # the first label would stick), so the labels are set by a script that ctest
  # reads after the discovered tests.
  set(_slv_labels_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
  file(WRITE "${_slv_labels_file}"
    "foreach(_slv_test IN LISTS ${target}_TESTS)\n"
    "  set_tests_properties(\"\${_slv_test}\" PROPERTIES LABELS \"${ARG_LABELS}\")\n"
    "  if(NOT \"${ARG_RESOURCE_LOCK}\" STREQUAL \"\")\n"
    "    set_tests_properties(\"\${_slv_test}\" PROPERTIES RESOURCE_LOCK \"${ARG_RESOURCE_LOCK}\")\n"
    "  endif()\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${_slv_labels_file}")
endfunction()
