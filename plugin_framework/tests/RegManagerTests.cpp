#include "plugin_framework/TRegManager.h"

#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <string>

// Kept apart from the other preference tests: the registry's error words and the kernel's, which the host
// headers bring, are declared with different types.
namespace {

std::wstring Wide(const TString& text) {
    return std::wstring(static_cast<const wchar_t*>(text));
}

class PlatformRegistry : public ::testing::Test {
protected:
    kvtest::TempSystemRoot m_root;
    TRegManager m_registry;
};

TEST_F(PlatformRegistry, NumbersAndTextsRoundTripUnderKeysThatCreateMakes) {
    const wchar_t* key = L"Software\\Korvel\\Tests";
    EXPECT_EQ(m_registry.GetDword(HKEY_CURRENT_USER, key, L"count"), 0xFFFFFFFFu);
    EXPECT_NE(m_registry.SetDword(HKEY_CURRENT_USER, false, key, L"count", 3), 0) << "no key without create";
    ASSERT_EQ(m_registry.SetDword(HKEY_CURRENT_USER, true, key, L"count", 3), 0);
    EXPECT_EQ(m_registry.GetDword(HKEY_CURRENT_USER, key, L"count"), 3u);
    EXPECT_EQ(m_registry.GetDword(HKEY_CURRENT_USER, key, L"missing"), 0xFFFFFFFFu);

    ASSERT_EQ(m_registry.SetString(HKEY_CURRENT_USER, false, key, L"client", L"K\u00f6rvel Mail"), 0);
    TString text = L"untouched";
    ASSERT_TRUE(m_registry.GetString(HKEY_CURRENT_USER, key, text, L"client"));
    EXPECT_EQ(Wide(text), L"K\u00f6rvel Mail");
    text = L"untouched";
    EXPECT_FALSE(m_registry.GetString(HKEY_CURRENT_USER, key, text, L"count")) << "a number is no text";
    EXPECT_FALSE(m_registry.GetString(HKEY_CURRENT_USER, L"Software\\Nowhere", text, L"client"));
    EXPECT_EQ(Wide(text), L"untouched");
}

TEST_F(PlatformRegistry, ATextThatDoesNotFitTheBufferIsRefused) {
    const wchar_t* key = L"Software\\Korvel\\Long";
    const std::size_t fits = TRegManager::kTextBufferBytes - 1;
    for (std::size_t length : {fits, fits + 1}) {
        const std::wstring value(length, L'x');
        ASSERT_EQ(m_registry.SetString(HKEY_CURRENT_USER, true, key, L"v", value.c_str()), 0);
        TString text = L"untouched";
        EXPECT_EQ(m_registry.GetString(HKEY_CURRENT_USER, key, text, L"v"), length == fits) << length;
        EXPECT_EQ(Wide(text), length == fits ? value : L"untouched") << length;
    }
}

} // namespace
