#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "handle.h"
#include "utf16.h"

namespace {

using portula::from_handle;
using portula::to_handle;

std::vector<uint16_t> utf16(const wchar_t *s) {
    portula::Utf16 units(s);
    EXPECT_TRUE(static_cast<bool>(units));
    return std::vector<uint16_t>(units.data(), units.data() + units.size());
}

CHIDDevice *at(uintptr_t address) { return reinterpret_cast<CHIDDevice *>(address); }

TEST(Handle, RoundTripsAndZeroIsNone) {
    EXPECT_EQ(0, to_handle(static_cast<CHIDDevice *>(nullptr)));
    EXPECT_EQ(nullptr, from_handle(0));
    const uintptr_t address = 0x1000;
    EXPECT_EQ(at(address), from_handle(to_handle(at(address))));
}

TEST(Handle, WidthRulesOfThisBuild) {
    if constexpr (sizeof(void *) == 4) {
        // an address with bit 31 set reaches Java negative, and comes back
        const uintptr_t high = 0x80001230u;
        EXPECT_EQ(static_cast<jlong>(-0x7fffedd0LL), to_handle(at(high)));
        EXPECT_EQ(at(high), from_handle(to_handle(at(high))));
        EXPECT_EQ(at(0xfffffff0u), from_handle(-16));
        // only the low 32 bits are read
        EXPECT_EQ(nullptr, from_handle(static_cast<jlong>(0x1234567800000000LL)));
        EXPECT_EQ(at(0x10u), from_handle(static_cast<jlong>(0x7fffffff00000010LL)));
    } else {
        // all 64 bits count: high bits alone are a handle
        const jlong high = static_cast<jlong>(0x1234567800000000LL);
        EXPECT_NE(nullptr, from_handle(high));
        EXPECT_EQ(high, to_handle(from_handle(high)));
        EXPECT_EQ(-16, to_handle(at(static_cast<uintptr_t>(-16))));
    }
}

TEST(Utf16, BasicPlaneCharactersPassUnchanged) {
    EXPECT_EQ((std::vector<uint16_t>{}), utf16(L""));
    EXPECT_EQ((std::vector<uint16_t>{'A', 0xE9, 0x4E2D, 0xFFFD, 0xFFFF}), utf16(L"A\u00e9\u4e2d\ufffd\uffff"));
}

TEST(Utf16, SupplementaryCharactersBecomeSurrogatePairs) {
    const wchar_t text[] = {L'A', 0x1F600, 0x10000, 0x10FFFF, 0};
    EXPECT_EQ((std::vector<uint16_t>{'A', 0xD83D, 0xDE00, 0xD800, 0xDC00, 0xDBFF, 0xDFFF}), utf16(text));
}

TEST(Utf16, CodePointsUtf16CannotCarryAreReplaced) {
    const wchar_t text[] = {0xD800, 0xDFFF, 0x110000, static_cast<wchar_t>(-1), L'z', 0};
    EXPECT_EQ((std::vector<uint16_t>{0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 'z'}), utf16(text));
}

TEST(Utf16, LongStringsAreNotTruncated) {
    std::wstring name;
    for (int i = 0; i < 300; ++i) {
        name += static_cast<wchar_t>(0x1F600 + i % 16);
    }
    const auto units = utf16(name.c_str());
    ASSERT_EQ(600u, units.size());
    EXPECT_EQ(0xD83D, units[598]);
    EXPECT_EQ(0xDE0B, units[599]);  // 0x1F600 + 299 % 16
}

}  // namespace
