#include "ui/accessibility.h"

#include <initguid.h>

#include <atomic>
#include <set>

namespace launcher {
namespace {

// Declared by the SDK's headers and libraries for oleacc and UI Automation, which the launcher does
// not link: defined here with their documented values.
DEFINE_GUID(accPropServicesClass, 0xb5f8350b, 0x0548, 0x48b1, 0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7);
DEFINE_GUID(accPropServicesInterface, 0x6e26e776, 0x04f0, 0x495d, 0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31,
            0x69);
DEFINE_GUID(nameProperty, 0x608d3df8, 0x8128, 0x4aa7, 0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91);
DEFINE_GUID(stateProperty, 0xa8d4d5b0, 0x0a21, 0x42d0, 0xa5, 0xc0, 0x51, 0x4e, 0x98, 0x4f, 0x45, 0x7b);
DEFINE_GUID(accPropServerInterface, 0x76c0dbbb, 0x15e0, 0x4e7b, 0xb6, 0x1b, 0x20, 0xee, 0xea, 0x20, 0x01,
            0xe0);
DEFINE_GUID(unknownInterface, 0x00000000, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(liveSettingProperty, 0xc12bcd8e, 0x2a8e, 0x4950, 0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb);

constexpr long livePolite = 1;
constexpr long liveAssertive = 2;
constexpr DWORD liveRegionChanged = 0x8019; // EVENT_OBJECT_LIVEREGIONCHANGED

} // namespace

// Answers when the state of a toggle button is asked, rather than once: a fixed state would hide
// the focus and availability the platform's proxy reports. Lives on the window thread; readers in
// other processes reach it through COM.
class AccessibleWindow::ToggleState final : public IAccPropServer {
public:
    explicit ToggleState(HWND control) : control_(control) {}
    ToggleState(const ToggleState&) = delete;
    ToggleState& operator=(const ToggleState&) = delete;

    bool pressed = false;

    long state() const {
        long state = STATE_SYSTEM_FOCUSABLE;
        GUITHREADINFO thread{};
        thread.cbSize = sizeof(thread);
        if (::GetGUIThreadInfo(::GetWindowThreadProcessId(control_, nullptr), &thread) &&
            thread.hwndFocus == control_)
            state |= STATE_SYSTEM_FOCUSED;
        if (!::IsWindowEnabled(control_)) state |= STATE_SYSTEM_UNAVAILABLE;
        if (!::IsWindowVisible(control_)) state |= STATE_SYSTEM_INVISIBLE;
        if (pressed) state |= STATE_SYSTEM_PRESSED;
        return state;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (!IsEqualIID(id, unknownInterface) && !IsEqualIID(id, accPropServerInterface)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IAccPropServer*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetPropValue(const BYTE*, DWORD, MSAAPROPID property, VARIANT* value,
                                           BOOL* given) override {
        if (value == nullptr || given == nullptr) return E_POINTER;
        value->vt = VT_EMPTY;
        *given = FALSE;
        if (!IsEqualGUID(property, stateProperty)) return S_OK;
        value->vt = VT_I4;
        value->lVal = state();
        *given = TRUE;
        return S_OK;
    }

private:
    HWND control_;
    std::atomic<ULONG> references_{1};
};

AccessibleWindow::AccessibleWindow() = default;
AccessibleWindow::~AccessibleWindow() = default;

void AccessibleWindow::connect() {
    if (services_) return;
    IAccPropServices* services = nullptr;
    if (FAILED(::CoCreateInstance(accPropServicesClass, nullptr, CLSCTX_INPROC_SERVER,
                                  accPropServicesInterface, reinterpret_cast<void**>(&services))))
        return;
    services_.reset(services);
    for (const auto& [control, politeness] : live_)
        applyLive(control, politeness);
    for (const auto& [control, text] : names_)
        applyName(control, text);
    for (const auto& [control, toggle] : toggles_)
        applyToggle(control, toggle.get());
}

void AccessibleWindow::applyName(HWND control, const std::wstring& text) {
    if (services_)
        services_.get()->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, nameProperty,
                                        text.c_str());
}

void AccessibleWindow::applyLive(HWND control, Politeness politeness) {
    if (!services_) return;
    VARIANT live{}; // VT_EMPTY, as VariantInit leaves it, without linking oleaut32 for it
    live.vt = VT_I4;
    live.lVal = politeness == Politeness::assertive ? liveAssertive : livePolite;
    services_.get()->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, liveSettingProperty,
                                 live);
}

void AccessibleWindow::applyToggle(HWND control, ToggleState* toggle) {
    if (!services_) return;
    const MSAAPROPID properties[] = {stateProperty};
    services_.get()->SetHwndPropServer(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, properties, 1,
                                       toggle, ANNO_THIS);
}

void AccessibleWindow::name(HWND control, const std::wstring& text) {
    names_[control] = text;
    applyName(control, text);
}

void AccessibleWindow::announce(HWND control, const std::wstring& text, Politeness politeness) {
    const auto [known, added] = live_.try_emplace(control, politeness);
    if (added || known->second != politeness) {
        known->second = politeness;
        applyLive(control, politeness);
    }
    name(control, text);
    ::NotifyWinEvent(liveRegionChanged, control, OBJID_CLIENT, CHILDID_SELF);
}

void AccessibleWindow::setPressed(HWND control, bool pressed) {
    auto found = toggles_.find(control);
    if (found == toggles_.end()) {
        found = toggles_.emplace(control, UniqueComReference<ToggleState>(new ToggleState(control))).first;
        applyToggle(control, found->second.get());
    }
    if (found->second.get()->pressed == pressed) return;
    found->second.get()->pressed = pressed;
    ::NotifyWinEvent(EVENT_OBJECT_STATECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
}

long AccessibleWindow::stateGivenForTesting(HWND control) const {
    const auto found = toggles_.find(control);
    return found == toggles_.end() ? 0 : found->second.get()->state();
}

std::wstring AccessibleWindow::nameGivenForTesting(HWND control) const {
    const auto found = names_.find(control);
    return found == names_.end() ? std::wstring() : found->second;
}

void AccessibleWindow::forgetAll() noexcept {
    std::set<HWND> controls;
    for (const auto& [control, text] : names_)
        controls.insert(control);
    for (const auto& [control, politeness] : live_)
        controls.insert(control);
    for (const auto& [control, toggle] : toggles_)
        controls.insert(control);
    if (services_) {
        MSAAPROPID properties[] = {nameProperty, liveSettingProperty, stateProperty};
        for (HWND control : controls)
            services_.get()->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                            properties, static_cast<int>(std::size(properties)));
    }
    names_.clear();
    live_.clear();
    toggles_.clear();
}

} // namespace launcher
