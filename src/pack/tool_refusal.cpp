#include "pack/tool_refusal.h"

#include <cstdio>
#include <exception>
#include <system_error>

namespace launcher {
namespace {

const char* subjectLabel(RefusalSubject kind) {
    switch (kind) {
    case RefusalSubject::file:
        return "file";
    case RefusalSubject::entry:
        return "entry";
    case RefusalSubject::address:
        return "address";
    case RefusalSubject::option:
        return "option";
    case RefusalSubject::none:
        break;
    }
    return "";
}

// "  label:    value\n", values aligned after the longest label, "expected:".
std::string line(std::string_view label, const std::string& value) {
    std::string text = "  " + std::string(label) + ":";
    text.append(label.size() < 9 ? 9 - label.size() : 1, ' ');
    return text + value + "\n";
}

void appendUtf8(std::string& text, std::uint32_t point) {
    if (point < 0x80) {
        text += static_cast<char>(point);
    } else if (point < 0x800) {
        text += static_cast<char>(0xC0 | (point >> 6));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        text += static_cast<char>(0xE0 | (point >> 12));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (point >> 18));
        text += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// The library's message without its "[json.exception.parse_error.101] " prefix: the rest says
// where and what ("parse error at line 3, column 5: syntax error ...").
std::string jsonReason(const nlohmann::json::exception& error) {
    const std::string_view text = error.what();
    const std::size_t end = text.starts_with('[') ? text.find("] ") : std::string_view::npos;
    return std::string(end == std::string_view::npos ? text : text.substr(end + 2));
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

ToolRefusal::ToolRefusal(const std::string& sentence, RefusalDetails details)
    : Error(sentence), details(std::move(details)) {}

ToolRefusal::ToolRefusal(const std::string& sentence, std::string rule)
    : ToolRefusal(sentence, RefusalDetails{.rule = std::move(rule),
                                           .kind = RefusalSubject::none,
                                           .subject = {},
                                           .expected = {},
                                           .actual = {}}) {}

std::string refusalText(const ToolRefusal& refusal) {
    const RefusalDetails& details = refusal.details;
    std::string text = std::string("gatehouse-pack: ") + refusal.what() + "\n";
    if (!details.rule.empty()) text += line("rule", details.rule);
    if (details.kind != RefusalSubject::none) text += line(subjectLabel(details.kind), details.subject);
    if (!details.expected.empty()) text += line("expected", details.expected);
    if (!details.actual.empty()) text += line("actual", details.actual);
    return text;
}

nlohmann::json refusalJson(const ToolRefusal& refusal) {
    const RefusalDetails& details = refusal.details;
    return {{"rule", details.rule},       {"subjectKind", subjectLabel(details.kind)},
            {"subject", details.subject}, {"expected", details.expected},
            {"actual", details.actual},   {"message", refusal.what()}};
}

std::string shownText(std::wstring_view utf16) {
    std::string text;
    text.reserve(utf16.size());
    for (std::size_t index = 0; index < utf16.size(); ++index) {
        const std::uint32_t unit = static_cast<std::uint16_t>(utf16[index]);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const std::uint32_t next =
            index + 1 < utf16.size() ? static_cast<std::uint16_t>(utf16[index + 1]) : 0;
        if (high && next >= 0xDC00 && next <= 0xDFFF) {
            appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
            ++index;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            text += escaped;
        } else {
            appendUtf8(text, unit);
        }
    }
    return text;
}

std::string shownPath(const std::filesystem::path& path) {
    return shownText(path.native());
}

std::string systemReason(int code) {
    return trimmed(std::system_category().message(code));
}

std::string byteCount(std::uint64_t bytes) {
    const std::string digits = std::to_string(bytes);
    std::string grouped;
    for (std::size_t index = 0; index < digits.size(); ++index) {
        if (index != 0 && (digits.size() - index) % 3 == 0) grouped += ',';
        grouped += digits[index];
    }
    return grouped + (bytes == 1 ? " byte" : " bytes");
}

void rethrowNamingFile(const std::filesystem::path& file, const std::string& rule,
                       const std::string& sentence, const std::string& expected) {
    std::string reason;
    try {
        throw;
    } catch (const ToolRefusal&) {
        throw;
    } catch (const Canceled&) {
        throw;
    } catch (const nlohmann::json::exception& error) {
        reason = jsonReason(error);
    } catch (const std::filesystem::filesystem_error& error) {
        reason = trimmed(error.code().message());
    } catch (const std::exception& error) {
        reason = error.what();
    }
    throw ToolRefusal(sentence, {.rule = rule,
                                 .kind = RefusalSubject::file,
                                 .subject = shownPath(file),
                                 .expected = expected,
                                 .actual = std::move(reason)});
}

RefusalDetails aboutFile(const std::filesystem::path& file, std::string rule, std::string expected,
                         std::string actual) {
    return {.rule = std::move(rule),
            .kind = RefusalSubject::file,
            .subject = shownPath(file),
            .expected = std::move(expected),
            .actual = std::move(actual)};
}

} // namespace launcher
