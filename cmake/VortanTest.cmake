# vortan_add_test(<name> SOURCES <files...> LIBS <targets...>)
# One QtTest executable registered with CTest, run offscreen and in a locale-neutral environment
# unless the test sets its own locale.
function(vortan_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VORTAN_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
    TIMEOUT 300)
endfunction()
