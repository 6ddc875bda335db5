#include "platform/Paths.h"

// windows.h before the headers that build on it.
#include "platform/win32/Win32Support.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cwchar>
#include <optional>
#include <system_error>

namespace platform {
namespace fs = std::filesystem;
using win32::ToUtf8;

namespace {
std::optional<std::string> g_testDir;

// A known folder, else what the environment says it is.
fs::path KnownFolder(REFKNOWNFOLDERID id, const wchar_t* var) {
    PWSTR path = nullptr;
    fs::path result;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &path))) result = path;
    ::CoTaskMemFree(path);
    if (result.empty() && var) {
        if (const wchar_t* v = ::_wgetenv(var); v && *v) result = v;
    }
    return result;
}

// `path` as an absolute text with one trailing separator, for comparing prefixes.
std::wstring Comparable(const fs::path& path) {
    std::error_code ec;
    fs::path abs = fs::absolute(path, ec);
    std::wstring s = (ec ? path : abs).lexically_normal().make_preferred().native();
    if (s.empty() || s.back() != L'\\') s += L'\\';
    return s;
}

// Whether `dir` is `folder` or inside it; names compare as the file system does, ignoring case.
bool IsInside(const fs::path& dir, const fs::path& folder) {
    if (folder.empty()) return false;
    const std::wstring d = Comparable(dir), f = Comparable(folder);
    return d.size() >= f.size() &&
           ::CompareStringOrdinal(d.c_str(), static_cast<int>(f.size()), f.c_str(),
                                  static_cast<int>(f.size()), TRUE) == CSTR_EQUAL;
}

// Whether a file can be made in `dir`: one that is gone again when its handle closes, so that
// not even a crash leaves it behind.
bool CanCreateFileIn(const fs::path& dir) {
    static LONG counter = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        wchar_t name[64];
        std::swprintf(name, 64, L".penrika-probe-%lu-%lu-%ld", ::GetCurrentProcessId(),
                      ::GetTickCount(), ::InterlockedIncrement(&counter));
        HANDLE h = ::CreateFileW(
            (dir / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
            return true;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}
}  // namespace

std::string ExecutableDir() {
    if (g_testDir) return *g_testDir;
    std::wstring exe(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
        if (n == 0) {
            std::error_code ec;
            return ToUtf8(fs::current_path(ec).native());
        }
        if (n < exe.size()) {
            exe.resize(n);
            break;
        }
        exe.resize(exe.size() * 2);  // cut short: a long path
    }
    std::wstring dir = exe.substr(0, exe.find_last_of(L"\\/"));
    // "C:" alone would mean that drive's current folder.
    if (!dir.empty() && dir.back() == L':') dir += L'\\';
    return ToUtf8(dir);
}

void SetExecutableDirForTesting(const std::string& dir) {
    g_testDir = dir;
}

fs::path ConfigHome() {
    return KnownFolder(FOLDERID_RoamingAppData, L"APPDATA");
}

fs::path DataHome() {
    return KnownFolder(FOLDERID_RoamingAppData, L"APPDATA");
}

fs::path CacheHome() {
    return KnownFolder(FOLDERID_LocalAppData, L"LOCALAPPDATA");
}

bool IsPortableDir(const fs::path& dir) {
    // An installed copy never writes beside itself, even when run as an administrator: a later
    // run as the user would not find what it wrote.
    for (const KNOWNFOLDERID* system :
         {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86, &FOLDERID_Windows}) {
        if (IsInside(dir, KnownFolder(*system, nullptr))) return false;
    }
    return CanCreateFileIn(dir);
}

}  // namespace platform

std::string AppDir() {
    std::string dir = platform::ExecutableDir();
    if (dir.empty() || (dir.back() != '\\' && dir.back() != '/')) dir += '\\';
    return dir;
}
