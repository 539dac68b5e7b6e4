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
# The programs through which the tests and the benchmarks look at the game from the outside.
if(BUILD_TESTING OR (SORMIO_WINDOW AND SORMIO_BENCH))
  add_subdirectory(tests/e2e)
endif()
if(BUILD_TESTING)
  add_subdirectory(tests)
endif()
