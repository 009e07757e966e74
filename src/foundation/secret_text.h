#pragma once

// Text that holds a password or other secret. Every buffer it ever used is overwritten before it
// goes back to the heap (growth included), and so is the object's own inline buffer, so no copy
// of the secret stays behind in freed memory.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace launcher {

// Overwrites `count` bytes in a way the compiler may not drop as a dead store.
void wipeBytes(void* bytes, std::size_t count) noexcept;

template <class T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) { return std::allocator<T>{}.allocate(count); }
    void deallocate(T* pointer, std::size_t count) noexcept {
        wipeBytes(pointer, count * sizeof(T));
        std::allocator<T>{}.deallocate(pointer, count);
    }
    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

class SecretText {
public:
    using String = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

    SecretText() = default;
    SecretText(SecretText&& other) noexcept : text_(std::move(other.text_)) {}
    SecretText& operator=(SecretText&& other) noexcept {
        wipe();
        text_ = std::move(other.text_);
        return *this;
    }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() { wipe(); }

    String& get() noexcept { return text_; }
    std::string_view view() const noexcept { return {text_.data(), text_.size()}; }

    // Empties the text, overwriting what it held (a short text lives inside the object itself).
    void wipe() noexcept {
        wipeBytes(text_.data(), text_.capacity());
        text_.clear();
    }

private:
    String text_;
};

// Overwrites and empties an ordinary string that held a secret on its way to or from a platform
// call (an edit control's text, a converted password).
void wipeText(std::wstring& text) noexcept;

// Strict UTF-16 to UTF-8 straight into a secret buffer. Throws Error("文本编码无效。").
SecretText secretUtf8(std::wstring_view text);

} // namespace launcher
