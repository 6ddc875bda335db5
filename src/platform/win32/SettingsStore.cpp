#include "platform/SettingsStore.h"

#include "platform/win32/Win32Support.h"

namespace platform {
using win32::ErrnoFromWin32;
using win32::ToUtf8;
using win32::ToWide;

namespace {

// Core's keys are below HKEY_CURRENT_USER, all under this one.
constexpr wchar_t kRootKey[] = L"Software\\Tamsel\\Penrika";

class Key {
  public:
    Key() = default;
    ~Key() {
        if (h_) ::RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

  private:
    HKEY h_ = nullptr;
};

// Opens the key, making it and the keys above it when they are missing.
LSTATUS CreateKey(const std::string& keyPath, REGSAM access, Key& key) {
    return ::RegCreateKeyExW(HKEY_CURRENT_USER, ToWide(keyPath).c_str(), 0, nullptr,
                             REG_OPTION_NON_VOLATILE, access, nullptr, key.out(), nullptr);
}

LSTATUS SetText(HKEY key, const std::wstring& name, const std::string& value) {
    const std::wstring text = ToWide(value);
    // The terminating NUL is part of a REG_SZ's data.
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()), bytes);
}

}  // namespace

std::string SettingsPlaceText() {
    return "レジストリーの設定 HKEY_CURRENT_USER\\" + ToUtf8(kRootKey);
}

std::string SectionOfKey(const std::string& keyPath) {
    size_t slash = keyPath.find_last_of('\\');
    return slash == std::string::npos ? keyPath : keyPath.substr(slash + 1);
}

int StoreValues(const std::string& keyPath, const std::vector<ValueChange>& changes) {
    Key key;
    if (LSTATUS s = CreateKey(keyPath, KEY_SET_VALUE, key)) return ErrnoFromWin32(s);
    // The registry has no transaction over several values. Sets go first, removals after, and
    // a failure stops the rest: a crash between them leaves e.g. Set_6 new beside a pending
    // record that says the same, never the record gone with the count still old.
    for (const ValueChange& c : changes) {
        if (!c.value) continue;
        if (LSTATUS s = SetText(key.get(), ToWide(c.name), *c.value)) return ErrnoFromWin32(s);
    }
    for (const ValueChange& c : changes) {
        if (c.value) continue;
        LSTATUS s = ::RegDeleteValueW(key.get(), ToWide(c.name).c_str());
        if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) return ErrnoFromWin32(s);
    }
    // The hive is written back lazily; the data file that a save replaces next must not reach
    // the disk before the record that tells which count goes with it.
    ::RegFlushKey(key.get());
    return 0;
}

int StoreValue(const std::string& keyPath, const std::string& name, const std::string& value) {
    return StoreValues(keyPath, {{name, value}});
}

int SettingsReadError() {
    Key root;
    LSTATUS s = ::RegOpenKeyExW(HKEY_CURRENT_USER, kRootKey, 0, KEY_READ, root.out());
    if (s == ERROR_FILE_NOT_FOUND) return 0;
    if (s != ERROR_SUCCESS) return ErrnoFromWin32(s);
    // A subkey can deny reading on its own: then its values would read as missing.
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];  // a key name's limit is 255 characters
        DWORD len = sizeof name / sizeof name[0];
        s = ::RegEnumKeyExW(root.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (s == ERROR_NO_MORE_ITEMS) return 0;
        if (s != ERROR_SUCCESS) return ErrnoFromWin32(s);
        Key sub;
        s = ::RegOpenKeyExW(root.get(), name, 0, KEY_QUERY_VALUE, sub.out());
        // One removed since the listing is no error.
        if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) return ErrnoFromWin32(s);
    }
}

std::optional<std::string> FetchValue(const std::string& keyPath, const std::string& name) {
    Key key;
    if (CreateKey(keyPath, KEY_QUERY_VALUE, key) != ERROR_SUCCESS) return std::nullopt;
    const std::wstring wname = ToWide(name);
    std::wstring text;
    DWORD type = 0, bytes = 0;
    LSTATUS s = ::RegQueryValueExW(key.get(), wname.c_str(), nullptr, &type, nullptr, &bytes);
    // Another program may change the value between asking its size and reading it.
    while (s == ERROR_SUCCESS || s == ERROR_MORE_DATA) {
        text.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        s = ::RegQueryValueExW(key.get(), wname.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(text.data()), &bytes);
        if (s == ERROR_SUCCESS) {
            if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
            text.resize(bytes / sizeof(wchar_t));
            // Other programs may have stored the text with or without its terminator.
            if (!text.empty() && text.back() == L'\0') text.pop_back();
            return ToUtf8(text);
        }
    }
    return std::nullopt;
}

}  // namespace platform
