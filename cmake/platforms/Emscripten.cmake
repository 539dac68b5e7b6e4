# The web, built with emscripten (emcmake cmake ...): the rules and the shared window layer
# compiled to WebAssembly, and the static page in window/web that drives them.
# emscripten's optimising link runs Node.js modules that Debian installs where Debian's own
# Node.js does not look.
if(EXISTS /usr/share/nodejs)
  set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
endif()
add_subdirectory(window/web)
