// What a screen reader on Windows sees of the game, read from another process as one reads it:
// through MSAA (AccessibleObjectFromWindow, WinEvents) and, where the system has it, UI
// Automation. Run under Wine beside the game, in its prefix, by the end-to-end harness.
//
//     a11y_probe tree      the game's window and its children, once, as JSON
//     a11y_probe events    "ready", then one JSON line per event of the game's windows
//     a11y_probe uia       the window as UI Automation presents it, once, as JSON
#include <initguid.h>
// initguid.h first: the interface ids are defined here rather than taken from import thunks.
#include <oleacc.h>
#include <windows.h>

#include <cstdio>
#include <string>

// The UI Automation client interfaces, as far as the probe calls them (Debian 12's mingw-w64
// has no header for them): their methods in the order of the interfaces' IDL, the ones not
// called as placeholders. Outside the anonymous namespace: there GCC would see that nothing in
// the program implements them and optimise their calls away.
#define SLOT(n) virtual HRESULT STDMETHODCALLTYPE slot##n() = 0
struct UiaElementArray : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Length(int* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetElement(int index, struct UiaElement** element) = 0;
};
struct UiaElement : IUnknown {
    SLOT(1);  // SetFocus, GetRuntimeId, FindFirst
    SLOT(2);
    SLOT(3);
    virtual HRESULT STDMETHODCALLTYPE FindAll(int scope, IUnknown* condition,
                                              UiaElementArray** found) = 0;
    SLOT(5);  // FindFirstBuildCache, FindAllBuildCache, BuildUpdatedCache
    SLOT(6);
    SLOT(7);
    SLOT(8);  // GetCurrentPropertyValue, which Wine 10 leaves unimplemented
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValueEx(int property, BOOL ignoreDefault,
                                                                VARIANT* value) = 0;
};
struct Uia : IUnknown {
    SLOT(1);  // CompareElements, CompareRuntimeIds, GetRootElement
    SLOT(2);
    SLOT(3);
    virtual HRESULT STDMETHODCALLTYPE ElementFromHandle(HWND window, UiaElement** element) = 0;
    SLOT(5);  // ElementFromPoint, GetFocusedElement, ...
    SLOT(6);
    SLOT(7);
    SLOT(8);
    SLOT(9);
    SLOT(10);
    SLOT(11);
    SLOT(12);
    SLOT(13);
    SLOT(14);
    SLOT(15);
    SLOT(16);
    SLOT(17);
    SLOT(18);
    virtual HRESULT STDMETHODCALLTYPE CreateTrueCondition(IUnknown** condition) = 0;
};
#undef SLOT

namespace {

DEFINE_GUID(CLSID_UiaClient, 0xff48dba4, 0x60ef, 0x4201, 0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59,
            0x4e);
DEFINE_GUID(IID_Uia, 0x30cbe57d, 0xd9d0, 0x452a, 0xab, 0x13, 0x7a, 0xc5, 0xac, 0x48, 0x25, 0xee);
constexpr int kTreeScopeChildren = 2;
constexpr int kControlTypeProperty = 30003, kNameProperty = 30005, kFocusProperty = 30008;
constexpr int kProgressBar = 50012, kText = 50020, kPane = 50033, kWindow = 50032;

std::string utf8(const wchar_t* text) {
    if (text == nullptr || *text == 0) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

std::string take(BSTR text) {
    std::string out = utf8(text);
    SysFreeString(text);
    return out;
}

const char* roleName(long role) {
    switch (role) {
        case ROLE_SYSTEM_CLIENT:
            return "client";
        case ROLE_SYSTEM_PROGRESSBAR:
            return "progress bar";
        case ROLE_SYSTEM_STATICTEXT:
            return "static text";
        case ROLE_SYSTEM_GRAPHIC:
            return "graphic";
        case ROLE_SYSTEM_WINDOW:
            return "window";
        default:
            return "other";
    }
}

// One element as JSON: role, name, description, value and whether it is focused or hidden.
std::string element(IAccessible* object, long id) {
    VARIANT child;
    child.vt = VT_I4;
    child.lVal = id;
    BSTR name = nullptr, description = nullptr, value = nullptr;
    VARIANT role, state;
    VariantInit(&role);
    VariantInit(&state);
    object->get_accName(child, &name);
    object->get_accDescription(child, &description);
    object->get_accValue(child, &value);
    object->get_accRole(child, &role);
    object->get_accState(child, &state);
    const long s = state.vt == VT_I4 ? state.lVal : 0;
    return "{\"id\": " + std::to_string(id) +
           ", \"role\": " + quoted(role.vt == VT_I4 ? roleName(role.lVal) : "") +
           ", \"name\": " + quoted(take(name)) + ", \"description\": " + quoted(take(description)) +
           ", \"value\": " + quoted(take(value)) +
           ", \"focused\": " + ((s & STATE_SYSTEM_FOCUSED) != 0 ? "true" : "false") +
           ", \"hidden\": " + ((s & STATE_SYSTEM_INVISIBLE) != 0 ? "true" : "false") + "}";
}

HWND game() {
    return FindWindowW(L"Frmsormio", nullptr);
}

IAccessible* clientOf(HWND window, HRESULT* why = nullptr) {
    IAccessible* object = nullptr;
    const HRESULT result =
        window == nullptr
            ? E_HANDLE
            : AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                         reinterpret_cast<void**>(&object));
    if (why != nullptr) {
        *why = result;
    }
    return SUCCEEDED(result) ? object : nullptr;
}

int tree() {
    HRESULT why = S_OK;
    IAccessible* window = clientOf(game(), &why);
    if (window == nullptr) {
        // Said, so that a failing case tells a window not found from one that would not answer.
        std::fprintf(stderr, "%s: 0x%08lx\n",
                     game() == nullptr ? "no window of the game's" : "not answered",
                     static_cast<unsigned long>(why));
        std::puts("null");
        return 1;
    }
    long count = 0;
    window->get_accChildCount(&count);
    VARIANT focus;
    VariantInit(&focus);
    window->get_accFocus(&focus);
    std::string json = "{\"self\": " + element(window, CHILDID_SELF) +
                       ", \"focus\": " + (focus.vt == VT_I4 ? std::to_string(focus.lVal) : "null") +
                       ", \"children\": [";
    for (long id = 1; id <= count; ++id) {
        json += (id > 1 ? ", " : "") + element(window, id);
    }
    json += "]";
    // The bar, a window of its own, as a reader that follows the keyboard focus finds it.
    if (IAccessible* bar = clientOf(FindWindowExW(game(), nullptr, L"SormioBar", nullptr))) {
        json += ", \"bar\": " + element(bar, CHILDID_SELF);
        bar->Release();
    }
    std::printf("%s}\n", json.c_str());
    window->Release();
    return 0;
}

const char* eventName(DWORD event) {
    switch (event) {
        case EVENT_OBJECT_FOCUS:
            return "focus";
        case EVENT_OBJECT_NAMECHANGE:
            return "name";
        case EVENT_OBJECT_DESCRIPTIONCHANGE:
            return "description";
        case EVENT_OBJECT_VALUECHANGE:
            return "value";
        default:
            return nullptr;
    }
}

void CALLBACK onEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                      DWORD) {
    const HWND main = game();
    if (eventName(event) == nullptr || window == nullptr ||
        (window != main && GetParent(window) != main)) {
        return;
    }
    IAccessible* accessible = nullptr;
    VARIANT id;
    VariantInit(&id);
    if (FAILED(AccessibleObjectFromEvent(window, static_cast<DWORD>(object),
                                         static_cast<DWORD>(child), &accessible, &id)) ||
        accessible == nullptr) {
        return;
    }
    std::printf("{\"event\": \"%s\", \"window\": \"%s\", \"element\": %s}\n", eventName(event),
                window == main ? "game" : "bar", element(accessible, id.lVal).c_str());
    std::fflush(stdout);
    accessible->Release();
}

int events() {
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_VALUECHANGE, nullptr,
                                         onEvent, 0, 0, WINEVENT_OUTOFCONTEXT);
    if (hook == nullptr) {
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    UnhookWinEvent(hook);
    return 0;
}

std::string uiaElement(UiaElement* e) {
    VARIANT name, type, focused;
    VariantInit(&name);
    VariantInit(&type);
    VariantInit(&focused);
    e->GetCurrentPropertyValueEx(kNameProperty, FALSE, &name);
    e->GetCurrentPropertyValueEx(kControlTypeProperty, FALSE, &type);
    e->GetCurrentPropertyValueEx(kFocusProperty, FALSE, &focused);
    const long t = type.vt == VT_I4 ? type.lVal : 0;
    const char* kind = t == kProgressBar ? "progress bar"
                       : t == kText      ? "text"
                       : t == kPane      ? "pane"
                       : t == kWindow    ? "window"
                                         : "other";
    const std::string text = name.vt == VT_BSTR ? utf8(name.bstrVal) : "";
    VariantClear(&name);
    return "{\"name\": " + quoted(text) + ", \"type\": " + quoted(kind) + ", \"focused\": " +
           (focused.vt == VT_BOOL && focused.boolVal != VARIANT_FALSE ? "true" : "false") + "}";
}

int uia() {
    Uia* automation = nullptr;
    if (FAILED(CoCreateInstance(CLSID_UiaClient, nullptr, CLSCTX_INPROC_SERVER, IID_Uia,
                                reinterpret_cast<void**>(&automation)))) {
        std::puts("null");
        return 2;  // no UI Automation here
    }
    UiaElement* window = nullptr;
    IUnknown* all = nullptr;
    UiaElementArray* children = nullptr;
    if (FAILED(automation->ElementFromHandle(game(), &window)) || window == nullptr ||
        FAILED(automation->CreateTrueCondition(&all)) ||
        FAILED(window->FindAll(kTreeScopeChildren, all, &children)) || children == nullptr) {
        std::puts("null");
        return 1;
    }
    int count = 0;
    children->get_Length(&count);
    std::string json = "{\"self\": " + uiaElement(window) + ", \"children\": [";
    for (int i = 0; i < count; ++i) {
        UiaElement* child = nullptr;
        if (SUCCEEDED(children->GetElement(i, &child)) && child != nullptr) {
            json += (i > 0 ? ", " : "") + uiaElement(child);
            child->Release();
        }
    }
    json += "]";
    std::printf("%s}\n", json.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: a11y_probe tree|events|uia\n", stderr);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::string command = argv[1];
    return command == "tree" ? tree() : command == "events" ? events() : uia();
}
