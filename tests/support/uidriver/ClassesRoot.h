#pragma once
// The classes root of the test's prefix, written as a test needs it (Wine's shell and its
// classes root do not see per-user classes): a default value of any type and bytes, a key
// without one, and a whole tree removed. Header-only, for test programs.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace uidriver {

inline void SetClassesRootValue(const std::string& subKey, DWORD type, const std::string& bytes)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
    const LONG result = RegSetValueExA(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                       static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, result);
}

inline void SetClassesRootDefault(const std::string& subKey, const std::string& text, DWORD type = REG_SZ)
{
    SetClassesRootValue(subKey, type, text + '\0');
}

inline void CreateClassesRootKey(const std::string& subKey)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
    RegCloseKey(key);
}

inline void DeleteClassesRootTree(const std::string& subKey)
{
    const LONG result = RegDeleteTreeA(HKEY_CLASSES_ROOT, subKey.c_str());
    if (result == ERROR_SUCCESS)
        RegDeleteKeyA(HKEY_CLASSES_ROOT, subKey.c_str());
}

} // namespace uidriver
