# Warnings for our own targets; third-party headers come in as system includes. Clang (the fuzz
# build) has no -Wshadow=local.
function(vultari_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers
                                           $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>
                                           $<$<BOOL:${VULTARI_WERROR}>:-Werror>)
endfunction()

# A static library for one subsystem, its sources globbed from its folder.
function(vultari_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  vultari_warnings(${target})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
endfunction()

# A GoogleTest program registered with CTest. Tests run from the program folder, beside the data tree.
function(vultari_test target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  vultari_warnings(${target})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${target} WORKING_DIRECTORY ${VULTARI_BIN_DIR} DISCOVERY_TIMEOUT 60
                       PROPERTIES LABELS "${ARG_LABELS}")
endfunction()

