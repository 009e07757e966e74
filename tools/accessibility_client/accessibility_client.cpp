// An accessibility client in a process of its own, as a screen reader is: it reads a running window
// through the platform's accessibility objects and records the live-region announcements the window
// raises, so that the end-to-end test hears the launcher from outside (tests/e2e/end_to_end.sh).
//
//   accessibility_client read TITLE
//       Finds the visible top-level window titled exactly TITLE and prints, in UTF-8,
//         window<TAB>NAME                              its window object's name (or its client's)
//         ID<TAB>ROLE<TAB>NAME<TAB>STATE<TAB>VALUE     one line for each control's client object
//       with the role as a number and the state in hex; a control whose accessible object cannot be
//       had prints ID<TAB><error 0xHRESULT>. Exits 1 when there is no such window.
//   accessibility_client listen TITLE OUTFILE [SECONDS]
//       Hooks live-region events of every process out of context at once, then creates OUTFILE (so a
//       caller can wait for it before starting the program), and appends one line ID<TAB>NAME for each
//       event raised on a control of the window titled TITLE, in the order the events came, the name
//       read through the event's accessible object when the event arrives (<gone> when it cannot be
//       read, as after the window closed). Exits 0 once the window has been shown and is gone, 1 when
//       the hook cannot be set or SECONDS (300) pass first.
#include "foundation/unique_handle.h"
#include "foundation/text.h"

#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {
namespace {

constexpr DWORD liveRegionChanged = 0x8019; // EVENT_OBJECT_LIVEREGIONCHANGED
constexpr UINT pollMilliseconds = 100;

// IAccessible's interface id, spelt out: the import libraries of oleacc and uuid both define it.
constexpr IID accessibleInterface = {
    0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// The entry points a client needs, found in oleacc at run time, as the launcher's tests find them.
struct Oleacc {
    UniqueModule module{::LoadLibraryW(L"oleacc.dll")};
    decltype(&::AccessibleObjectFromWindow) fromWindow = nullptr;
    decltype(&::AccessibleObjectFromEvent) fromEvent = nullptr;

    Oleacc() {
        if (!module) return;
        fromWindow = reinterpret_cast<decltype(fromWindow)>(
            reinterpret_cast<void*>(::GetProcAddress(module.get(), "AccessibleObjectFromWindow")));
        fromEvent = reinterpret_cast<decltype(fromEvent)>(
            reinterpret_cast<void*>(::GetProcAddress(module.get(), "AccessibleObjectFromEvent")));
    }
    bool usable() const { return fromWindow != nullptr && fromEvent != nullptr; }
};

struct ComApartment {
    ComApartment() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { ::CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

std::wstring windowTitle(HWND window) {
    std::wstring title(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    title.resize(
        static_cast<std::size_t>(::GetWindowTextW(window, title.data(), static_cast<int>(title.size()))));
    return title;
}

struct Search {
    std::wstring_view title;
    HWND found = nullptr;
};

BOOL CALLBACK considerWindow(HWND window, LPARAM context) noexcept {
    auto& search = *reinterpret_cast<Search*>(context);
    try {
        if (!::IsWindowVisible(window) || windowTitle(window) != search.title) return TRUE;
    } catch (...) {
        return TRUE;
    }
    search.found = window;
    return FALSE;
}

HWND findWindow(std::wstring_view title) {
    Search search{.title = title};
    ::EnumWindows(considerWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// One line of the output in UTF-8, its fields apart by tabs: tabs and line breaks inside a field
// would break the columns.
std::string lineOf(std::vector<std::wstring> fields) {
    std::wstring line;
    for (std::size_t index = 0; index < fields.size(); ++index) {
        for (wchar_t& unit : fields[index])
            if (unit == L'\t' || unit == L'\r' || unit == L'\n') unit = L' ';
        line += (index == 0 ? L"" : L"\t") + fields[index];
    }
    try {
        return utf16ToUtf8(line) + "\n";
    } catch (...) {
        return "<not UTF-16>\n";
    }
}

std::wstring hex(unsigned long value) {
    wchar_t digits[16] = {};
    std::swprintf(digits, std::size(digits), L"0x%lx", value);
    return digits;
}

std::wstring errorText(HRESULT result) {
    return L"<error " + hex(static_cast<unsigned long>(result)) + L">";
}

VARIANT self() {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = CHILDID_SELF;
    return child;
}

std::wstring nameOf(IAccessible& accessible, VARIANT child) {
    BSTR name = nullptr;
    if (FAILED(accessible.get_accName(child, &name))) return L"<no name>";
    const UniqueBstr owner(name);
    return name ? name : L"";
}

// The line of a control: its id, and its accessible object's role, name, state and value.
std::vector<std::wstring> describe(const std::wstring& id, IAccessible& accessible) {
    VARIANT role{};
    std::wstring roleText = L"?";
    if (SUCCEEDED(accessible.get_accRole(self(), &role))) {
        if (role.vt == VT_I4) roleText = std::to_wstring(role.lVal);
        if (role.vt == VT_BSTR) {
            const UniqueBstr owner(role.bstrVal);
            roleText = role.bstrVal ? role.bstrVal : L"";
        }
    }
    VARIANT state{};
    std::wstring stateText = L"?";
    if (SUCCEEDED(accessible.get_accState(self(), &state)) && state.vt == VT_I4)
        stateText = hex(static_cast<unsigned long>(state.lVal));
    BSTR value = nullptr;
    std::wstring valueText;
    if (SUCCEEDED(accessible.get_accValue(self(), &value)) && value) {
        const UniqueBstr owner(value);
        valueText = value;
    }
    return {id, roleText, nameOf(accessible, self()), stateText, valueText};
}

UniqueComReference<IAccessible> accessibleOf(const Oleacc& oleacc, HWND window, LONG object,
                                             HRESULT& result) {
    IAccessible* accessible = nullptr;
    result = oleacc.fromWindow(window, static_cast<DWORD>(object), accessibleInterface,
                               reinterpret_cast<void**>(&accessible));
    return UniqueComReference<IAccessible>(SUCCEEDED(result) ? accessible : nullptr);
}

struct Reading {
    const Oleacc* oleacc;
    std::string lines;
};

BOOL CALLBACK readControl(HWND control, LPARAM context) noexcept {
    auto& reading = *reinterpret_cast<Reading*>(context);
    try {
        HRESULT result = S_OK;
        const auto accessible = accessibleOf(*reading.oleacc, control, OBJID_CLIENT, result);
        const std::wstring id = std::to_wstring(::GetDlgCtrlID(control));
        reading.lines += lineOf(accessible ? describe(id, *accessible.get())
                                           : std::vector<std::wstring>{id, errorText(result)});
    } catch (...) {
        return FALSE;
    }
    return TRUE;
}

// The window's name from its window object or, where that gives none (Wine's), its client object.
std::wstring windowName(const Oleacc& oleacc, HWND window) {
    std::wstring name = L"<no name>";
    for (const LONG object : {OBJID_WINDOW, OBJID_CLIENT}) {
        HRESULT result = S_OK;
        const auto accessible = accessibleOf(oleacc, window, object, result);
        name = accessible ? nameOf(*accessible.get(), self()) : errorText(result);
        if (accessible && name != L"<no name>") break;
    }
    return name;
}

bool writeAll(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

int readWindow(std::wstring_view title) {
    const HWND window = findWindow(title);
    if (window == nullptr) {
        std::fputs("accessibility_client: no visible window with that title\n", stderr);
        return 1;
    }
    const ComApartment com;
    const Oleacc oleacc;
    if (!oleacc.usable()) {
        std::fputs("accessibility_client: oleacc.dll cannot be loaded\n", stderr);
        return 1;
    }
    Reading reading{.oleacc = &oleacc, .lines = lineOf({L"window", windowName(oleacc, window)})};
    ::EnumChildWindows(window, readControl, reinterpret_cast<LPARAM>(&reading));
    // Written as bytes: the C runtime's text mode would end each line with a carriage return.
    return writeAll(::GetStdHandle(STD_OUTPUT_HANDLE), reading.lines) ? 0 : 1;
}

// One event on a control of the window listened to, waiting for its name to be read.
struct Heard {
    int id;
    HWND control;
    LONG object;
    LONG child;
};

// What the listener knows between the platform's calls into it, which carry no context.
struct Listener {
    std::wstring title;
    const Oleacc* oleacc = nullptr;
    UniqueFile out;
    HWND window = nullptr;        // the window titled `title`, once it has been seen
    std::map<HWND, int> controls; // the ids of its controls, still known once they are gone
    ULONGLONG deadline = 0;
    std::deque<Heard> pending;
    bool reading = false;
};
Listener* listener = nullptr;

BOOL CALLBACK learnControl(HWND control, LPARAM) noexcept {
    try {
        listener->controls.emplace(control, ::GetDlgCtrlID(control));
    } catch (...) {
        return FALSE;
    }
    return TRUE;
}

// The id of `control` when it belongs to the window listened to; 0 when it does not.
int controlIdOf(HWND control) {
    if (const auto known = listener->controls.find(control); known != listener->controls.end())
        return known->second;
    const HWND root = ::GetAncestor(control, GA_ROOT);
    if (root == nullptr || root == control || windowTitle(root) != listener->title) return 0;
    return listener->controls[control] = ::GetDlgCtrlID(control);
}

// The name a client reads for the event's object now; the platform hands the event over later than
// it was raised, so a control that has gone since cannot be read.
std::wstring nameAtEvent(HWND control, LONG object, LONG child) {
    IAccessible* accessible = nullptr;
    VARIANT which{};
    if (!::IsWindow(control) ||
        FAILED(listener->oleacc->fromEvent(control, static_cast<DWORD>(object), static_cast<DWORD>(child),
                                           &accessible, &which)) ||
        accessible == nullptr)
        return L"<gone>";
    const UniqueComReference<IAccessible> owner(accessible);
    std::wstring name = nameOf(*accessible, which);
    // A window destroyed while it was read answers with no text at all.
    return ::IsWindow(control) ? name : L"<gone>";
}

void CALLBACK onEvent(HWINEVENTHOOK, DWORD event, HWND control, LONG object, LONG child, DWORD,
                      DWORD) noexcept {
    try {
        if (event != liveRegionChanged || control == nullptr) return;
        const int id = controlIdOf(control);
        if (id == 0) return;
        listener->pending.push_back({id, control, object, child});
        // Reading a name waits for the other process, and meanwhile the platform delivers the next
        // events here: they wait their turn, so that the lines keep the order the events came in.
        if (listener->reading) return;
        listener->reading = true;
        const ScopeExit doneReading([] { listener->reading = false; });
        while (!listener->pending.empty()) {
            const Heard heard = listener->pending.front();
            listener->pending.pop_front();
            writeAll(listener->out.get(), lineOf({std::to_wstring(heard.id),
                                                  nameAtEvent(heard.control, heard.object, heard.child)}));
        }
    } catch (...) {
    }
}

void CALLBACK onTimer(HWND, UINT, UINT_PTR, DWORD) noexcept {
    try {
        if (listener->window == nullptr) {
            listener->window = findWindow(listener->title);
            if (listener->window != nullptr) ::EnumChildWindows(listener->window, learnControl, 0);
        } else if (!::IsWindow(listener->window)) {
            // The quit waits behind the events already queued, which are delivered first.
            ::PostQuitMessage(0);
            return;
        }
        if (::GetTickCount64() > listener->deadline) ::PostQuitMessage(1);
    } catch (...) {
    }
}

int listen(std::wstring_view title, const wchar_t* outFile, int seconds) {
    const ComApartment com;
    const Oleacc oleacc;
    if (!oleacc.usable()) {
        std::fputs("accessibility_client: oleacc.dll cannot be loaded\n", stderr);
        return 1;
    }
    Listener state;
    state.title = title;
    state.oleacc = &oleacc;
    state.deadline = ::GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    listener = &state;
    // Every process's events, as a screen reader hooks them: the program may announce before its
    // window can be found, and the callback keeps only the controls of the window titled `title`.
    const UniqueWinEventHook hook(::SetWinEventHook(liveRegionChanged, liveRegionChanged, nullptr, onEvent, 0,
                                                    0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS));
    if (!hook) {
        std::fputs("accessibility_client: SetWinEventHook failed\n", stderr);
        return 1;
    }
    state.out.reset(::CreateFileW(outFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!state.out) {
        std::fputs("accessibility_client: cannot create the output file\n", stderr);
        return 1;
    }
    const UINT_PTR timer = ::SetTimer(nullptr, 0, pollMilliseconds, onTimer);
    MSG message{};
    BOOL got = FALSE;
    while ((got = ::GetMessageW(&message, nullptr, 0, 0)) > 0)
        ::DispatchMessageW(&message);
    ::KillTimer(nullptr, timer);
    listener = nullptr;
    return got == 0 ? static_cast<int>(message.wParam) : 1;
}

} // namespace
} // namespace launcher

int wmain(int argc, wchar_t** argv) {
    const std::wstring_view command = argc > 1 ? argv[1] : L"";
    if (command == L"read" && argc == 3) return launcher::readWindow(argv[2]);
    if (command == L"listen" && (argc == 4 || argc == 5))
        return launcher::listen(argv[2], argv[3], argc == 5 ? _wtoi(argv[4]) : 300);
    std::fputs("usage: accessibility_client read TITLE | listen TITLE OUTFILE [SECONDS]\n", stderr);
    return 2;
}
