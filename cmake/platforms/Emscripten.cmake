# The web, built with emscripten (emcmake cmake ...): the rules and the shared window layer,
# compiled to WebAssembly for a page to drive.
