#include "platform/AtomicFile.h"

// windows.h before the headers that build on it.
#include "platform/win32/Win32Support.h"

#include <sddl.h>

#include <algorithm>
#include <string>

namespace platform {
namespace fs = std::filesystem;
using win32::ErrnoFromWin32;

namespace {

constexpr std::wstring_view kTempInfix = L".tmp-";
constexpr std::wstring_view kAlnum =
    L"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

bool IsTempSuffix(std::wstring_view s) {
    if (s.size() != 6) return false;
    for (wchar_t c : s) {
        if (kAlnum.find(c) == std::wstring_view::npos) return false;
    }
    return true;
}

// "Penrika.dat.tmp-AbC123": only names ReplaceFile makes.
bool IsTemporaryOf(const std::wstring& name, const std::wstring& base) {
    const std::wstring prefix = base + std::wstring(kTempInfix);
    return name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
           IsTempSuffix(std::wstring_view(name).substr(prefix.size()));
}

// Six characters that differ between processes and between calls; CREATE_NEW catches the rest.
std::wstring TempSuffix() {
    static LONG counter = 0;
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    unsigned long long x = static_cast<unsigned long long>(now.QuadPart) ^
                           (static_cast<unsigned long long>(::GetCurrentProcessId()) << 32) ^
                           static_cast<unsigned long long>(::InterlockedIncrement(&counter));
    // splitmix64, so that neighbouring inputs give unrelated names.
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    std::wstring s;
    for (int i = 0; i < 6; ++i, x /= kAlnum.size()) s += kAlnum[x % kAlnum.size()];
    return s;
}

// The posix version's mode 0600: the entries are private. Only the user, the administrators
// and the system, whatever the folder would hand down (a portable copy's folder may be open
// to every user). Empty when it cannot be made: the folder's own then applies.
std::wstring PrivateSddl() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    std::wstring sddl;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buf(size, '\0');
    LPWSTR sid = nullptr;
    if (size && ::GetTokenInformation(token, TokenUser, buf.data(), size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &sid)) {
        sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")(A;;FA;;;BA)(A;;FA;;;SY)";
        ::LocalFree(sid);
    }
    ::CloseHandle(token);
    return sddl;
}

// Creates the temporary file beside `file`, held open without sharing: no other process can
// open or delete it while it is filled. Returns the handle, or INVALID_HANDLE_VALUE with the
// Win32 error in `error`.
HANDLE CreateTemporary(const fs::path& file, std::wstring& name, DWORD& error) {
    static const std::wstring sddl = PrivateSddl();
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
    if (!sddl.empty()) {
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                               &sa.lpSecurityDescriptor, nullptr);
    }
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 10; ++attempt) {
        name = file.native() + std::wstring(kTempInfix) + TempSuffix();
        h = ::CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, 0, &sa, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    if (sa.lpSecurityDescriptor) ::LocalFree(sa.lpSecurityDescriptor);
    return h;
}

DWORD WriteAll(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(h, bytes.data(), chunk, &written, nullptr)) return ::GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        bytes.remove_prefix(written);
    }
    return ERROR_SUCCESS;
}

// Deletes through the handle itself: nobody else can open the file while it is held.
void DeleteOnClose(HANDLE h) {
    FILE_DISPOSITION_INFO info{TRUE};
    ::SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info);
}

}  // namespace

int ReplaceFile(const fs::path& file, std::string_view bytes) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::wstring tmp;
    DWORD error = ERROR_SUCCESS;
    HANDLE h = CreateTemporary(file, tmp, error);
    if (h == INVALID_HANDLE_VALUE) return ErrnoFromWin32(error);
    error = WriteAll(h, bytes);
    if (error == ERROR_SUCCESS && !::FlushFileBuffers(h)) error = ::GetLastError();
    if (error != ERROR_SUCCESS) {
        DeleteOnClose(h);
        ::CloseHandle(h);
        return ErrnoFromWin32(error);
    }
    ::CloseHandle(h);
    // Write-through: the call returns once the rename is on the disk, not in the cache.
    if (!::MoveFileExW(tmp.c_str(), file.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = ::GetLastError();
        ::DeleteFileW(tmp.c_str());
        return ErrnoFromWin32(error);
    }
    return 0;
}

void RemoveLeftoverTemporaries(const fs::path& file) {
    const std::wstring base = file.filename().native();
    std::error_code ec;
    for (fs::directory_iterator it(file.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path p = it->path();
        if (!IsTemporaryOf(p.filename().native(), base)) continue;
        // Opening it fails while a live writer holds it (without sharing), and the ACL keeps
        // another user's leftovers from us. A link goes, not what it points to; a folder
        // cannot be opened this way at all.
        HANDLE h = ::CreateFileW(p.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
}

}  // namespace platform
