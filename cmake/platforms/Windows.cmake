# Windows, cross-built on Debian with mingw-w64 (cmake --toolchain cmake/toolchain-mingw.cmake):
# the rules and the shared window layer, statically linked, as the Win32 window needs them.
add_link_options(-static)
