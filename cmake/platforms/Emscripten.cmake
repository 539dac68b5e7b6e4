# The web, built with emscripten (emcmake cmake ...): the rules and the shared window layer
# compiled to WebAssembly, and the static page in window/web that drives them.
add_subdirectory(window/web)
