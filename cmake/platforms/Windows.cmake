# Windows, cross-built on Debian with mingw-w64 (cmake --toolchain cmake/toolchain-mingw.cmake):
# the Win32 window in window/win32, one statically linked sormio.exe.
enable_language(RC)
add_subdirectory(window/win32)
option(SORMIO_BENCH "Build the benchmarks" OFF)
if(SORMIO_BENCH)
  add_subdirectory(bench/win32)
endif()
# What the end-to-end harness reads the window with under Wine, as a screen reader reads it
# from another process (built when asked for: it is no part of what players get).
add_executable(a11y_probe EXCLUDE_FROM_ALL tests/e2e/a11y_probe_win32.cpp)
target_compile_definitions(a11y_probe PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(a11y_probe PRIVATE oleacc ole32 oleaut32 uuid)
target_link_options(a11y_probe PRIVATE -static)
