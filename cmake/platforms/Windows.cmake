# Windows, cross-built on Debian with mingw-w64 (cmake --toolchain cmake/toolchain-mingw.cmake):
# the Win32 window in window/win32, one statically linked sormio.exe.
enable_language(RC)
add_subdirectory(window/win32)
option(SORMIO_BENCH "Build the benchmarks" OFF)
if(SORMIO_BENCH)
  add_subdirectory(bench/win32)
endif()
# The programs through which the tests look at the game from the outside.
add_subdirectory(tests/e2e)
