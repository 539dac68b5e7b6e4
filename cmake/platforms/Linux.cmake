# Linux: the Qt 6 Widgets window, the desktop's files, the benchmarks and every test.
option(SORMIO_WINDOW "Build the Qt window and program" ON)
if(SORMIO_WINDOW)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets Test)
  qt_standard_project_setup()
  add_subdirectory(window/qt)
  add_subdirectory(desktop)
endif()

option(SORMIO_BENCH "Build the benchmarks" ON)
if(SORMIO_WINDOW AND SORMIO_BENCH)
  find_package(X11 REQUIRED)
  add_subdirectory(bench)
endif()

include(CTest)
option(SORMIO_DISPLAY_FREE_TESTS "Only the tests that need no display, sound server or browser" OFF)
# The window's layout as JSON, written from the description, for whatever plays the game from
# the outside (the end-to-end harness, the benchmarks): window.json in the build tree.
if(BUILD_TESTING OR (SORMIO_WINDOW AND SORMIO_BENCH))
  add_executable(describe_window tests/e2e/describe.cpp)
  target_link_libraries(describe_window PRIVATE sormio_window)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/window.json
    COMMAND describe_window ${PROJECT_BINARY_DIR}/window.json
    DEPENDS describe_window COMMENT "Writing the window's layout as JSON" VERBATIM)
  add_custom_target(window_json ALL DEPENDS ${PROJECT_BINARY_DIR}/window.json)
endif()
if(BUILD_TESTING)
  add_subdirectory(tests)
endif()
