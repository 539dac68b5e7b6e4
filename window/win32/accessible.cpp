#include <initguid.h>
// initguid.h first: this file defines the property identifiers it uses.
#include "accessible.h"

#include <oleacc.h>

#include "system.h"

namespace sormio {

bool Annotations::active() {
    BOOL reader = FALSE;
    if (!SystemParametersInfoW(SPI_GETSCREENREADER, 0, &reader, 0) || !reader) {
        return false;
    }
    if (!loaded_) {
        loaded_ = true;
        // COM, from ole32, only now that a screen reader runs.
        const auto initialize =
            systemFunction<decltype(&CoInitializeEx)>(L"ole32.dll", "CoInitializeEx");
        const auto create =
            systemFunction<decltype(&CoCreateInstance)>(L"ole32.dll", "CoCreateInstance");
        void* services = nullptr;
        if (initialize != nullptr && create != nullptr &&
            SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED)) &&
            SUCCEEDED(create(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IAccPropServices, &services))) {
            services_ = static_cast<IAccPropServices*>(services);
        }
    }
    return true;
}

Annotations::~Annotations() {
    if (services_ != nullptr) {
        services_->Release();
    }
}

void Annotations::describe(HWND control, const std::wstring& description) {
    if (!active()) {
        return;
    }
    if (services_ != nullptr) {
        services_->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                  PROPID_ACC_DESCRIPTION, description.c_str());
    }
    NotifyWinEvent(EVENT_OBJECT_DESCRIPTIONCHANGE, control, OBJID_CLIENT, CHILDID_SELF);
}

void Annotations::markAsProgressBar(HWND control) {
    if (active() && services_ != nullptr) {
        VARIANT role{};
        role.vt = VT_I4;
        role.lVal = ROLE_SYSTEM_PROGRESSBAR;
        services_->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                               PROPID_ACC_ROLE, role);
    }
}

}  // namespace sormio
