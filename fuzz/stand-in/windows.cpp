#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Wide text in the native build holds UTF-16 code units, one per wchar_t, as it does on Windows.
// The UTF-8 conversions behave as Windows' strict ones: any ill-formed input converts to nothing.

namespace {

[[noreturn]] void unavailable(const char* function) {
    std::fprintf(stderr, "%s is not available in the native fuzz build\n", function);
    std::abort();
}

// Returns the output length, or 0 when the text is ill-formed or `room` (when non-zero) too small.
template <typename Out>
int finish(const std::basic_string<Out>& out, Out* buffer, int room) {
    if (out.empty()) return 0;
    if (room == 0) return static_cast<int>(out.size());
    if (static_cast<std::size_t>(room) < out.size()) return 0;
    for (std::size_t i = 0; i < out.size(); ++i)
        buffer[i] = out[i];
    return static_cast<int>(out.size());
}

} // namespace

int WideCharToMultiByte(unsigned codePage, DWORD, const wchar_t* text, int length, char* bytes, int room,
                        const char*, int*) {
    if (codePage != CP_UTF8 || length < 0) unavailable("WideCharToMultiByte");
    std::string out;
    for (int i = 0; i < length; ++i) {
        std::uint32_t unit = static_cast<std::uint32_t>(text[i]);
        if (unit > 0xFFFF) std::abort(); // not a UTF-16 unit: a fault in the target
        std::uint32_t point = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == length) return 0;
            const std::uint32_t low = static_cast<std::uint32_t>(text[i + 1]);
            if (low < 0xDC00 || low > 0xDFFF) return 0;
            point = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return 0;
        }
        if (point < 0x80) {
            out += static_cast<char>(point);
        } else if (point < 0x800) {
            out += static_cast<char>(0xC0 | point >> 6);
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            out += static_cast<char>(0xE0 | point >> 12);
            out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | point >> 18);
            out += static_cast<char>(0x80 | (point >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
    return finish(out, bytes, room);
}

int MultiByteToWideChar(unsigned codePage, DWORD, const char* bytes, int length, wchar_t* text, int room) {
    if (codePage != CP_UTF8 || length < 0) unavailable("MultiByteToWideChar");
    std::wstring out;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    for (int i = 0; i < length;) {
        const unsigned lead = in[i];
        const int trail = lead < 0x80                    ? 0
                          : lead >= 0xC2 && lead <= 0xDF ? 1
                          : lead >= 0xE0 && lead <= 0xEF ? 2
                          : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                         : -1;
        if (trail < 0 || i + trail >= length) return 0;
        std::uint32_t point = trail == 0 ? lead : lead & (0x3F >> trail);
        for (int k = 1; k <= trail; ++k) {
            if ((in[i + k] & 0xC0) != 0x80) return 0;
            point = point << 6 | (in[i + k] & 0x3F);
        }
        const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (point < least[trail] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
        if (point >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((point - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(point);
        }
        i += trail + 1;
    }
    return finish(out, text, room);
}

void* SecureZeroMemory(void* bytes, std::size_t count) {
    auto* volatile out = static_cast<volatile unsigned char*>(bytes);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = 0;
    return bytes;
}

// ASCII only: the targets look for memory faults, and case mapping never changes a length.
DWORD CharLowerBuffW(wchar_t* text, DWORD length) {
    for (DWORD i = 0; i < length; ++i)
        if (text[i] >= L'A' && text[i] <= L'Z') text[i] = static_cast<wchar_t>(text[i] - L'A' + L'a');
    return length;
}
