#include <initguid.h>
// initguid.h first: IID_IAccessible is defined here, not taken from liboleacc's import thunk,
// which would hand LresultFromObject a garbage interface id.
#include "accessible.h"

#include <oleacc.h>

#include <string>

#include "description.h"
#include "key_table.h"
#include "reader.h"
#include "system.h"
#include "win32_window.h"

namespace sormio {

namespace {

// oleacc and oleaut32, loaded when a client first asks, never with the program.
struct Oleacc {
    decltype(&LresultFromObject) lresultFromObject =
        systemFunction<decltype(&LresultFromObject)>(L"oleacc.dll", "LresultFromObject");
    decltype(&CreateStdAccessibleObject) createStd =
        systemFunction<decltype(&CreateStdAccessibleObject)>(L"oleacc.dll",
                                                             "CreateStdAccessibleObject");
    decltype(&SysAllocString) allocString =
        systemFunction<decltype(&SysAllocString)>(L"oleaut32.dll", "SysAllocString");
};

const Oleacc& oleacc() {
    static const Oleacc functions;
    return functions;
}

HRESULT text(const std::wstring& value, BSTR* out) {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    *out = nullptr;
    if (value.empty()) {
        return S_FALSE;
    }
    *out = oleacc().allocString(value.c_str());
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// One element of the window as a screen reader sees it: the window itself (CHILDID_SELF of the
// window's object), one of its 40 children, or the bar (CHILDID_SELF of the bar's object).
class Element final : public IAccessible {
  public:
    Element(const Win32Window& window, bool isBar) : window_(window), isBar_(isBar) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, IID_IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // IDispatch: clients of IAccessible call it directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count != nullptr) {
            *count = 0;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (parent == nullptr) {
            return E_INVALIDARG;
        }
        *parent = nullptr;
        // The standard object of this window's frame, as for any other window's client area.
        return oleacc().createStd(isBar_ ? window_.barHwnd() : window_.hwnd(), OBJID_WINDOW,
                                  IID_IDispatch, reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (count == nullptr) {
            return E_INVALIDARG;
        }
        *count = isBar_ ? 0 : Accessibility::kChildren;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (out == nullptr) {
            return E_INVALIDARG;
        }
        *out = nullptr;
        return valid(child) ? S_FALSE : E_INVALIDARG;  // every child is a simple element
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
        return valid(child) ? text(name(which(child)), out) : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override {
        if (!valid(child)) {
            return E_INVALIDARG;
        }
        // The bar's width left, the countdown's state.
        return text(which(child) == Accessibility::kBar
                        ? std::to_wstring(window_.frmsormio().view().barWidth)
                        : std::wstring(),
                    out);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
        return valid(child) ? text(description(which(child)), out) : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!valid(child) || role == nullptr) {
            return E_INVALIDARG;
        }
        const long id = which(child);
        role->vt = VT_I4;
        role->lVal = id == CHILDID_SELF          ? ROLE_SYSTEM_CLIENT
                     : id == Accessibility::kBar ? ROLE_SYSTEM_PROGRESSBAR
                                                 : ROLE_SYSTEM_STATICTEXT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (!valid(child) || state == nullptr) {
            return E_INVALIDARG;
        }
        const long id = which(child);
        const View& view = window_.frmsormio().view();
        long s = STATE_SYSTEM_READONLY;
        if (id == CHILDID_SELF) {
            s = STATE_SYSTEM_FOCUSABLE | (GetFocus() == window_.hwnd() ? STATE_SYSTEM_FOCUSED : 0);
        } else if (id == Accessibility::kEnding) {
            s |= STATE_SYSTEM_FOCUSABLE | (focusOnWindow() == id ? STATE_SYSTEM_FOCUSED : 0) |
                 (window_.frmsormio().telling().ending.empty() ? STATE_SYSTEM_INVISIBLE : 0);
        } else if (id == Accessibility::kBar) {
            s |= STATE_SYSTEM_FOCUSABLE |
                 (GetFocus() == window_.barHwnd() ? STATE_SYSTEM_FOCUSED : 0) |
                 (view.barShown ? 0 : STATE_SYSTEM_INVISIBLE) |
                 (view.barEnabled ? 0 : STATE_SYSTEM_UNAVAILABLE);
        } else if (id == Accessibility::kScore && !view.scoreShown) {
            s |= STATE_SYSTEM_INVISIBLE;
        }
        state->vt = VT_I4;
        state->lVal = s;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* out) override { return text({}, out); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (file != nullptr) {
            *file = nullptr;
        }
        if (topic != nullptr) {
            *topic = 0;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* out) override {
        return text({}, out);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (focus == nullptr) {
            return E_INVALIDARG;
        }
        const HWND now = GetFocus();
        if (isBar_ ? now == window_.barHwnd() : now == window_.hwnd()) {
            focus->vt = VT_I4;
            focus->lVal = isBar_ ? CHILDID_SELF : focusOnWindow();
        } else if (!isBar_ && now == window_.barHwnd()) {
            focus->vt = VT_I4;
            focus->lVal = Accessibility::kBar;
        } else {
            focus->vt = VT_EMPTY;
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (selection != nullptr) {
            selection->vt = VT_EMPTY;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT, BSTR* out) override {
        return text({}, out);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT) override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        if (!valid(child) || left == nullptr || top == nullptr || width == nullptr ||
            height == nullptr) {
            return E_INVALIDARG;
        }
        const RECT r = window_.screenRect(rectOf(which(child)));
        *left = r.left;
        *top = r.top;
        *width = r.right - r.left;
        *height = r.bottom - r.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        if (!valid(start) || end == nullptr) {
            return E_INVALIDARG;
        }
        end->vt = VT_EMPTY;
        const long from = which(start);
        long to = 0;
        if (isBar_) {
            return S_FALSE;
        }
        switch (direction) {
            case NAVDIR_FIRSTCHILD:
                to = from == CHILDID_SELF ? 1 : 0;
                break;
            case NAVDIR_LASTCHILD:
                to = from == CHILDID_SELF ? Accessibility::kChildren : 0;
                break;
            case NAVDIR_NEXT:
                to = from != CHILDID_SELF && from < Accessibility::kChildren ? from + 1 : 0;
                break;
            case NAVDIR_PREVIOUS:
                to = from > 1 ? from - 1 : 0;
                break;
            default:
                return E_NOTIMPL;
        }
        if (to == 0) {
            return S_FALSE;
        }
        end->vt = VT_I4;
        end->lVal = to;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* at) override {
        if (at == nullptr) {
            return E_INVALIDARG;
        }
        at->vt = VT_EMPTY;
        const POINT p{x, y};
        for (long id = isBar_ ? 0 : Accessibility::kChildren; id >= 1; --id) {
            const RECT r = window_.screenRect(rectOf(id));
            if (PtInRect(&r, p)) {
                at->vt = VT_I4;
                at->lVal = id;
                return S_OK;
            }
        }
        const RECT self = window_.screenRect(rectOf(CHILDID_SELF));
        if (!PtInRect(&self, p)) {
            return S_FALSE;
        }
        at->vt = VT_I4;
        at->lVal = CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT) override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  private:
    ~Element() = default;

    bool valid(const VARIANT& child) const {
        return child.vt == VT_I4 && child.lVal >= 0 &&
               child.lVal <= (isBar_ ? 0 : Accessibility::kChildren);
    }
    // The element a child id names: the bar's own object is the bar.
    long which(const VARIANT& child) const { return isBar_ ? Accessibility::kBar : child.lVal; }

    // Which of the window's own elements has the focus while the window holds it: how the last
    // game ended, where it is told.
    long focusOnWindow() const {
        if (GetFocus() != window_.hwnd()) {
            return -1;
        }
        return window_.frmsormio().telling().ending.empty() ? CHILDID_SELF : Accessibility::kEnding;
    }

    // The control a child names: how a game ended lies over the score.
    static const Control& controlOf(long id) {
        const WindowDescription& d = windowDescription();
        switch (id) {
            case Accessibility::kBar:
                return d.control("Picture1");
            case Accessibility::kScore:
            case Accessibility::kEnding:
                return d.control("Lblpisteet");
            case Accessibility::kTitle:
                return d.control("Lblotsikko");
            case Accessibility::kCredit:
                return d.control("Label1");
            default:
                return d.tile(static_cast<int>(id - 1));
        }
    }

    std::wstring name(long id) const {
        const Frmsormio& frmsormio = window_.frmsormio();
        if (id == CHILDID_SELF || id == Accessibility::kEnding) {
            return wide(id == CHILDID_SELF ? windowDescription().caption
                                           : frmsormio.telling().ending);
        }
        return wide(reader::nameOf(controlOf(id), frmsormio.view(), frmsormio.telling()));
    }

    std::wstring description(long id) const {
        return id == CHILDID_SELF || id == Accessibility::kEnding
                   ? std::wstring()
                   : wide(reader::descriptionOf(controlOf(id), window_.frmsormio().view()));
    }

    Rect rectOf(long id) const {
        const WindowDescription& d = windowDescription();
        if (id == CHILDID_SELF) {
            return {0, 0, d.clientWidth, d.clientHeight};
        }
        Rect r = controlOf(id).geometry;
        if (id == Accessibility::kBar) {
            r.width = window_.frmsormio().view().barWidth;
        }
        return r;
    }

    const Win32Window& window_;
    const bool isBar_;
    LONG references_ = 1;
};

}  // namespace

Accessibility::~Accessibility() {
    for (IAccessible* object : {windowObject_, barObject_}) {
        if (object != nullptr) {
            object->Release();
        }
    }
}

LRESULT Accessibility::answer(HWND to, WPARAM flags, LPARAM object) {
    if (static_cast<DWORD>(object) != static_cast<DWORD>(OBJID_CLIENT) ||
        oleacc().lresultFromObject == nullptr || oleacc().allocString == nullptr ||
        (to != window_.hwnd() && to != window_.barHwnd())) {
        return 0;
    }
    if (!comStarted_) {
        // LresultFromObject hands the object over through COM, on this thread.
        static const auto initialize =
            systemFunction<decltype(&CoInitializeEx)>(L"ole32.dll", "CoInitializeEx");
        comStarted_ =
            initialize != nullptr && SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED));
    }
    IAccessible*& element = to == window_.barHwnd() ? barObject_ : windowObject_;
    if (element == nullptr) {
        element = new Element(window_, to == window_.barHwnd());
    }
    return oleacc().lresultFromObject(IID_IAccessible, flags, element);
}

void Accessibility::tellTile(int tile) const {
    NotifyWinEvent(EVENT_OBJECT_DESCRIPTIONCHANGE, window_.hwnd(), OBJID_CLIENT, tile + 1);
}

void Accessibility::tellTurn(bool tellFocus) const {
    // The bar holds the focus and its name is the key: told as a new focus, also when the key
    // and the focus stay as they were, and as a new name and value.
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window_.barHwnd(), OBJID_CLIENT, CHILDID_SELF);
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, window_.barHwnd(), OBJID_CLIENT, CHILDID_SELF);
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window_.hwnd(), OBJID_CLIENT, kBar);
    if (tellFocus && GetFocus() == window_.barHwnd()) {
        NotifyWinEvent(EVENT_OBJECT_FOCUS, window_.barHwnd(), OBJID_CLIENT, CHILDID_SELF);
    }
}

void Accessibility::tellScore() const {
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window_.hwnd(), OBJID_CLIENT, kScore);
}

void Accessibility::tellEnding() const {
    if (GetFocus() == window_.hwnd() && !window_.frmsormio().telling().ending.empty()) {
        NotifyWinEvent(EVENT_OBJECT_FOCUS, window_.hwnd(), OBJID_CLIENT, kEnding);
    }
}

}  // namespace sormio
