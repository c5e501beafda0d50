# vortan_add_test(<name> SOURCES <files...> LIBS <targets...>)
# One QtTest executable registered with CTest, run offscreen on a 1920x1080 desktop screen (Qt's
# offscreen default, 800x800, would make the main window scroll) and in a locale-neutral
# environment unless the test sets its own locale.
function(vortan_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen:configfile=${PROJECT_SOURCE_DIR}/tests/support/desktop-screen.json;VORTAN_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
    TIMEOUT 300)
endfunction()
