// Locale-independent conversion of hidapi's wide strings (UTF-32 wchar_t on
// Linux) to the UTF-16 that Java strings hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace portula {

constexpr char32_t kReplacement = 0xFFFD;

// Code points that UTF-16 cannot carry (surrogates, above U+10FFFF) become U+FFFD.
inline char32_t valid_code_point(wchar_t c) {
    const auto cp = static_cast<char32_t>(static_cast<uint32_t>(c));
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        return kReplacement;
    }
    return cp;
}

// UTF-16 code units needed for the zero-terminated string s.
inline size_t utf16_length(const wchar_t *s) {
    size_t units = 0;
    for (; *s != 0; ++s) {
        units += valid_code_point(*s) > 0xFFFF ? 2 : 1;
    }
    return units;
}

// Writes utf16_length(s) units of s to out.
inline void to_utf16(const wchar_t *s, uint16_t *out) {
    for (; *s != 0; ++s) {
        const char32_t cp = valid_code_point(*s);
        if (cp > 0xFFFF) {
            const char32_t v = cp - 0x10000;
            *out++ = static_cast<uint16_t>(0xD800 + (v >> 10));
            *out++ = static_cast<uint16_t>(0xDC00 + (v & 0x3FF));
        } else {
            *out++ = static_cast<uint16_t>(cp);
        }
    }
}

// The UTF-16 form of a wide string; short strings stay on the stack.
// Test for success with operator bool: a long string's allocation may fail.
class Utf16 {
public:
    explicit Utf16(const wchar_t *s) : size_(utf16_length(s)) {
        if (size_ > kInline) {
            heap_ = new (std::nothrow) uint16_t[size_];
            if (heap_ == nullptr) {
                return;
            }
        }
        to_utf16(s, data());
    }
    ~Utf16() { delete[] heap_; }
    Utf16(const Utf16 &) = delete;
    Utf16 &operator=(const Utf16 &) = delete;

    explicit operator bool() const { return size_ <= kInline || heap_ != nullptr; }
    uint16_t *data() { return heap_ != nullptr ? heap_ : inline_; }
    size_t size() const { return size_; }

private:
    static constexpr size_t kInline = 256;
    size_t size_;
    uint16_t *heap_ = nullptr;
    uint16_t inline_[kInline];
};

}  // namespace portula
