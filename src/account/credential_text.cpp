#include "account/credential_text.h"

#include <cstdint>

namespace launcher {
namespace {

constexpr int maxDepth = 64;

// The short escapes of JSON: each character followed by the letter that stands for it after "\".
constexpr std::string_view shortEscapes = "\"\"\\\\\bb\ff\nn\rr\tt";

// The letter of a character's short escape, or 0 if it has none.
char escapeLetter(char plain) {
    for (std::size_t i = 0; i < shortEscapes.size(); i += 2)
        if (shortEscapes[i] == plain) return shortEscapes[i + 1];
    return 0;
}

// The character a short escape's letter stands for, or 0 if the letter is none ("/" included).
char escapedCharacter(char letter) {
    if (letter == '/') return '/';
    for (std::size_t i = 0; i < shortEscapes.size(); i += 2)
        if (shortEscapes[i + 1] == letter) return shortEscapes[i];
    return 0;
}

void appendEscaped(std::string_view text, SecretText& out) {
    static constexpr char hex[] = "0123456789abcdef";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (const char letter = escapeLetter(c)) {
            out.get() += '\\';
            out.get() += letter;
        } else if (byte < 0x20) {
            out.get() += "\\u00";
            out.get() += hex[byte >> 4];
            out.get() += hex[byte & 0x0F];
        } else {
            out.get() += c;
        }
    }
}

void appendCodePoint(std::uint32_t code, SecretText& out) {
    auto put = [&out](std::uint32_t byte) { out.get() += static_cast<char>(byte); };
    if (code < 0x80) {
        put(code);
    } else if (code < 0x800) {
        put(0xC0 | code >> 6);
        put(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        put(0xE0 | code >> 12);
        put(0x80 | (code >> 6 & 0x3F));
        put(0x80 | (code & 0x3F));
    } else {
        put(0xF0 | code >> 18);
        put(0x80 | (code >> 12 & 0x3F));
        put(0x80 | (code >> 6 & 0x3F));
        put(0x80 | (code & 0x3F));
    }
}

// A strict JSON reader over the decrypted bytes. Strings it is asked to keep go straight into
// wiped buffers; everything else is only checked and skipped.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool document(SecretText& account, SecretText& password) {
        skipSpace();
        if (!consume('{')) return false;
        enum class Member { absent, text, other };
        Member accountKind = Member::absent;
        Member passwordKind = Member::absent;
        skipSpace();
        if (!consume('}')) {
            SecretText key;
            do {
                skipSpace();
                key.wipe();
                if (!string(&key)) return false;
                skipSpace();
                if (!consume(':')) return false;
                skipSpace();
                SecretText* target = nullptr;
                Member* kind = nullptr;
                if (key.view() == "username") {
                    target = &account;
                    kind = &accountKind;
                } else if (key.view() == "password") {
                    target = &password;
                    kind = &passwordKind;
                }
                if (target != nullptr && peek() == '"') {
                    target->wipe();
                    if (!string(target)) return false;
                    *kind = Member::text;
                } else {
                    if (!value(1)) return false;
                    if (kind != nullptr) *kind = Member::other;
                }
                skipSpace();
            } while (consume(','));
            if (!consume('}')) return false;
        }
        skipSpace();
        return at_ == text_.size() && accountKind != Member::other && passwordKind != Member::other;
    }

private:
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    bool consume(char expected) {
        if (at_ >= text_.size() || text_[at_] != expected) return false;
        ++at_;
        return true;
    }

    void skipSpace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    unsigned byteAt(std::size_t index) const {
        return index < text_.size() ? static_cast<unsigned char>(text_[index]) : 0x100;
    }

    // The length of the well-formed UTF-8 sequence at `at_` (overlong forms, surrogates and code
    // points past U+10FFFF are not), or 0.
    std::size_t utf8Length() const {
        const unsigned first = byteAt(at_);
        unsigned low = 0x80, high = 0xBF;
        std::size_t length = 0;
        if (first < 0x80) return 1;
        if (first >= 0xC2 && first <= 0xDF) {
            length = 2;
        } else if (first >= 0xE0 && first <= 0xEF) {
            length = 3;
            if (first == 0xE0) low = 0xA0;
            if (first == 0xED) high = 0x9F;
        } else if (first >= 0xF0 && first <= 0xF4) {
            length = 4;
            if (first == 0xF0) low = 0x90;
            if (first == 0xF4) high = 0x8F;
        } else {
            return 0;
        }
        const unsigned second = byteAt(at_ + 1);
        if (second < low || second > high) return 0;
        for (std::size_t i = 2; i < length; ++i)
            if ((byteAt(at_ + i) & 0xC0) != 0x80) return 0;
        return length;
    }

    bool hexQuad(std::uint32_t& value) {
        if (text_.size() - at_ < 4) return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value |= static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value |= static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }

    bool escape(SecretText* out) {
        const char c = peek();
        ++at_;
        if (c == 'u') {
            std::uint32_t code = 0;
            if (!hexQuad(code) || (code >= 0xDC00 && code <= 0xDFFF)) return false;
            if (code >= 0xD800 && code <= 0xDBFF) {
                std::uint32_t low = 0;
                if (!consume('\\') || !consume('u') || !hexQuad(low) || low < 0xDC00 || low > 0xDFFF)
                    return false;
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            }
            if (out != nullptr) appendCodePoint(code, *out);
            return true;
        }
        const char plain = escapedCharacter(c);
        if (plain == 0) return false;
        if (out != nullptr) out->get() += plain;
        return true;
    }

    bool string(SecretText* out) {
        if (!consume('"')) return false;
        for (;;) {
            const unsigned byte = byteAt(at_);
            if (byte == '"') {
                ++at_;
                return true;
            }
            if (byte == '\\') {
                ++at_;
                if (!escape(out)) return false;
                continue;
            }
            if (byte < 0x20 || byte > 0xFF) return false; // raw control character or end of text
            const std::size_t length = utf8Length();
            if (length == 0) return false;
            if (out != nullptr) out->get().append(text_.substr(at_, length));
            at_ += length;
        }
    }

    bool digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            ++at_;
        return at_ > start;
    }

    bool number() {
        consume('-');
        if (!consume('0') && (peek() < '1' || peek() > '9' || !digits())) return false;
        if (consume('.') && !digits()) return false;
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (!consume('+')) consume('-');
            if (!digits()) return false;
        }
        return true;
    }

    bool word(std::string_view expected) {
        if (text_.substr(at_, expected.size()) != expected) return false;
        at_ += expected.size();
        return true;
    }

    // Checks and skips one value of any kind.
    bool value(int depth) {
        if (depth > maxDepth) return false;
        const char c = peek();
        if (c == '"') return string(nullptr);
        if (c == 't') return word("true");
        if (c == 'f') return word("false");
        if (c == 'n') return word("null");
        if (c == '-' || (c >= '0' && c <= '9')) return number();
        if (c != '[' && c != '{') return false;
        const char close = c == '[' ? ']' : '}';
        ++at_;
        skipSpace();
        if (consume(close)) return true;
        do {
            skipSpace();
            if (close == '}') {
                if (!string(nullptr)) return false;
                skipSpace();
                if (!consume(':')) return false;
                skipSpace();
            }
            if (!value(depth + 1)) return false;
            skipSpace();
        } while (consume(','));
        return consume(close);
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace

SecretText serializeCredentialText(std::string_view accountUtf8, std::string_view passwordUtf8) {
    SecretText text;
    // Sized once, so the buffer never moves while it is filled (the worst case is six bytes a byte).
    text.get().reserve(32 + 6 * (accountUtf8.size() + passwordUtf8.size()));
    text.get() += "{\"password\":\"";
    appendEscaped(passwordUtf8, text);
    text.get() += "\",\"username\":\"";
    appendEscaped(accountUtf8, text);
    text.get() += "\"}";
    return text;
}

bool parseCredentialText(std::string_view text, SecretText& accountUtf8, SecretText& passwordUtf8) {
    accountUtf8.wipe();
    passwordUtf8.wipe();
    if (Reader(text).document(accountUtf8, passwordUtf8)) return true;
    accountUtf8.wipe();
    passwordUtf8.wipe();
    return false;
}

} // namespace launcher
