#include "ui/accessibility.h"

#include <initguid.h>

namespace launcher {
namespace {

// Declared by the SDK's headers and libraries for oleacc and UI Automation, which the launcher does
// not link: defined here with their documented values.
DEFINE_GUID(accPropServicesClass, 0xb5f8350b, 0x0548, 0x48b1, 0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7);
DEFINE_GUID(accPropServicesInterface, 0x6e26e776, 0x04f0, 0x495d, 0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31,
            0x69);
DEFINE_GUID(nameProperty, 0x608d3df8, 0x8128, 0x4aa7, 0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91);
DEFINE_GUID(liveSettingProperty, 0xc12bcd8e, 0x2a8e, 0x4950, 0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb);

constexpr long livePolite = 1;
constexpr long liveAssertive = 2;
constexpr DWORD liveRegionChanged = 0x8019; // EVENT_OBJECT_LIVEREGIONCHANGED

} // namespace

AccessibleWindow::AccessibleWindow() {
    IAccPropServices* services = nullptr;
    if (SUCCEEDED(::CoCreateInstance(accPropServicesClass, nullptr, CLSCTX_INPROC_SERVER,
                                     accPropServicesInterface, reinterpret_cast<void**>(&services))))
        services_.reset(services);
}

AccessibleWindow::~AccessibleWindow() = default;

void AccessibleWindow::name(HWND control, const std::wstring& text) {
    names_[control] = text;
    if (services_)
        services_.get()->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, nameProperty,
                                        text.c_str());
}

void AccessibleWindow::announce(HWND control, const std::wstring& text, Politeness politeness) {
    if (services_) {
        VARIANT live{}; // VT_EMPTY, as VariantInit leaves it, without linking oleaut32 for it
        live.vt = VT_I4;
        live.lVal = politeness == Politeness::assertive ? liveAssertive : livePolite;
        services_.get()->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                     liveSettingProperty, live);
        name(control, text);
    }
    ::NotifyWinEvent(liveRegionChanged, control, OBJID_CLIENT, CHILDID_SELF);
}

std::wstring AccessibleWindow::nameGivenForTesting(HWND control) const {
    const auto found = names_.find(control);
    return found == names_.end() ? std::wstring() : found->second;
}

void AccessibleWindow::forget(HWND control) noexcept {
    names_.erase(control);
    if (!services_) return;
    MSAAPROPID properties[] = {nameProperty, liveSettingProperty};
    services_.get()->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, properties,
                                    static_cast<int>(std::size(properties)));
}

} // namespace launcher
