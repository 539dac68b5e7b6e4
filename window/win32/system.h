#pragma once

#include <windows.h>

namespace sormio {

// A function of a system DLL that the program needs only at times (audio, the finer timer,
// accessibility), loaded from the system folder on first use rather than with the program:
// a game at its start screen loads no more than a bare window does. Null where the system
// lacks it.
template <typename Function>
Function systemFunction(const wchar_t* dll, const char* name) {
    HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        module = LoadLibraryW(dll);  // systems without the search flag
    }
    return module != nullptr
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

}  // namespace sormio
