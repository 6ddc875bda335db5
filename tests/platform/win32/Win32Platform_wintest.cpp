// The Windows implementations of the settings store, the atomic file and the paths, against
// the real registry and file system. The registry is the test's own: HKEY_CURRENT_USER is
// pointed at a scratch key for each test, so a real user's settings are never touched.
#include "platform/win32/Win32Support.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/Settings.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"

namespace fs = std::filesystem;

namespace {

const wchar_t kSettingPath[] = L"Software\\Tamsel\\Penrika\\Setting";

std::wstring Unique(const wchar_t* prefix) {
    static int counter = 0;
    return prefix + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

// A security descriptor from its text form, applied with `apply`.
template <typename Apply>
bool WithSecurity(const wchar_t* sddl, Apply apply) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd,
                                                                nullptr))
        return false;
    const bool ok = apply(sd);
    ::LocalFree(sd);
    return ok;
}

// HKEY_CURRENT_USER, for this process, is a fresh key below the real one.
class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, scratch_.c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &root_, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, root_), ERROR_SUCCESS);
    }
    void TearDown() override {
        ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (!denied_.empty()) SetKeySecurity(denied_, L"D:P(A;;KA;;;WD)");
        ::RegCloseKey(root_);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, scratch_.c_str());
    }

    // Reads a value straight from the registry: the type and the UTF-16 text as stored.
    std::wstring Raw(const wchar_t* key, const wchar_t* name, DWORD* type = nullptr) {
        wchar_t buf[512] = {};
        DWORD bytes = sizeof buf, t = 0;
        if (::RegGetValueW(root_, key, name, RRF_RT_ANY | RRF_NOEXPAND, &t, buf, &bytes) !=
            ERROR_SUCCESS)
            return L"<missing>";
        if (type) *type = t;
        return std::wstring(buf, bytes / sizeof(wchar_t));
    }
    void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
        ASSERT_EQ(::RegSetKeyValueW(root_, kSettingPath, name, type, data, bytes), ERROR_SUCCESS);
    }
    bool SetKeySecurity(const std::wstring& key, const wchar_t* sddl) {
        HKEY k = nullptr;
        if (::RegOpenKeyExW(root_, key.c_str(), 0, WRITE_DAC, &k) != ERROR_SUCCESS) return false;
        const bool ok = WithSecurity(sddl, [&](PSECURITY_DESCRIPTOR sd) {
            return ::RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
        });
        ::RegCloseKey(k);
        return ok;
    }

    const std::wstring scratch_ = L"Software\\" + Unique(L"PenrikaTest-");
    HKEY root_ = nullptr;
    std::wstring denied_;
};

// A fresh folder in the temporary folder, removed afterwards.
class Files : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void Write(const fs::path& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary) << bytes;
    }
    std::vector<std::wstring> Names() const {
        std::vector<std::wstring> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    const fs::path dir_ = fs::temp_directory_path() / Unique(L"penrika-test-フォルダ-");
};

}  // namespace

TEST_F(Registry, EachValueIsAStringUnderTheUsersKeyAndReadsBackExactly) {
    const struct {
        const char* key;
        const char* name;
        std::string text;
        std::wstring stored;
    } values[] = {
        {SettingKey, "Set_6", "120", L"120"},
        {SettingKey, "Set_7", "1234", L"1234"},
        {SettingKey, "Set_8", "0", L"0"},
        {SettingKey, "Set_9", "9999", L"9999"},
        {SettingKey, "Set_6_Pending", "3 120-9f86d081", L"3 120-9f86d081"},
        {OptionKey, "Op_1", "True", L"True"},
        {OptionKey, "Op_2", "False", L"False"},
        {SettingKey, "Japanese", "日本語のテキスト〜", L"日本語のテキスト〜"},
        {SettingKey, "Blanks", "  at both ends\t ", L"  at both ends\t "},
        {SettingKey, "Empty", "", L""},
        {SettingKey, "Nul", std::string("12\0 34", 6), std::wstring(L"12\0 34", 6)},
    };
    for (const auto& v : values) {
        ASSERT_EQ(platform::StoreValue(v.key, v.name, v.text), 0) << v.name;
    }
    ASSERT_EQ(platform::StoreValue(SettingKey, "Set_6", "4"), 0);  // replaces, does not add
    for (const auto& v : values) {
        const std::string expected = std::string(v.name) == "Set_6" ? "4" : v.text;
        EXPECT_EQ(platform::FetchValue(v.key, v.name), expected) << v.name;
        DWORD type = 0;
        const std::wstring key = platform::win32::ToWide(v.key),
                           name = platform::win32::ToWide(v.name);
        const std::wstring raw = Raw(key.c_str(), name.c_str(), &type);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << v.name;
        if (expected == v.text) {
            EXPECT_EQ(raw, v.stored + L'\0') << v.name << ": one terminator";
        }
    }
    EXPECT_EQ(platform::FetchValue(SettingKey, "Op_1"), std::nullopt) << "keys are separate";
}

TEST_F(Registry, SeveralChangesSetBeforeTheyRemoveAndAFailedSetRemovesNothing) {
    ASSERT_EQ(platform::StoreValues(SettingKey, {{"Set_6", "3"}, {"Set_6_Pending", "4 x"}}), 0);
    ASSERT_EQ(platform::StoreValues(
                  SettingKey,
                  {{"Set_6_Pending", std::nullopt}, {"Set_6", "4"}, {"Absent", std::nullopt}}),
              0);
    EXPECT_EQ(platform::FetchValue(SettingKey, "Set_6"), "4");
    EXPECT_EQ(Raw(kSettingPath, L"Set_6_Pending"), L"<missing>");

    // A set that fails (a name longer than the registry allows) leaves the record in place:
    // without the new count beside it, removing it would tie the new file to the old count.
    ASSERT_EQ(platform::StoreValue(SettingKey, "Set_6_Pending", "5 y"), 0);
    EXPECT_NE(platform::StoreValues(
                  SettingKey, {{"Set_6_Pending", std::nullopt}, {std::string(20000, 'n'), "5"}}),
              0);
    EXPECT_EQ(platform::FetchValue(SettingKey, "Set_6_Pending"), "5 y");
}

TEST_F(Registry, AReadMakesTheMissingKeyAndOnlyStringsAreRead) {
    EXPECT_EQ(platform::FetchValue(SettingKey, "Set_6"), std::nullopt);
    HKEY k = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(root_, kSettingPath, 0, KEY_READ, &k), ERROR_SUCCESS)
        << "the read made the key, as the settings file's section is made";
    DWORD count = 99;
    ::RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                       nullptr, nullptr, nullptr);
    ::RegCloseKey(k);
    EXPECT_EQ(count, 0u) << "no value is written by reading";

    const DWORD number = 7;
    SetRaw(L"Set_6", REG_DWORD, &number, sizeof number);
    EXPECT_EQ(platform::FetchValue(SettingKey, "Set_6"), std::nullopt);
    const wchar_t binary[] = L"12";
    SetRaw(L"Set_7", REG_BINARY, binary, sizeof binary);
    EXPECT_EQ(platform::FetchValue(SettingKey, "Set_7"), std::nullopt);
    // Another program's strings: unexpanded, or stored without their terminator.
    const wchar_t expand[] = L"%TEMP%";
    SetRaw(L"Set_8", REG_EXPAND_SZ, expand, sizeof expand);
    EXPECT_EQ(platform::FetchValue(SettingKey, "Set_8"), "%TEMP%");
    SetRaw(L"Set_9", REG_SZ, L"120", 3 * sizeof(wchar_t));
    EXPECT_EQ(platform::FetchValue(SettingKey, "Set_9"), "120");
}

TEST_F(Registry, AKeyThatDeniesReadingIsAnErrorAndAMissingOneIsAFirstStart) {
    EXPECT_EQ(platform::SettingsReadError(), 0) << "no key: a first start";
    ASSERT_EQ(platform::StoreValue(OptionKey, "Op_1", "True"), 0);
    ASSERT_EQ(platform::StoreValue(SettingKey, "Set_6", "2"), 0);
    EXPECT_EQ(platform::SettingsReadError(), 0);

    denied_ = kSettingPath;
    ASSERT_TRUE(SetKeySecurity(denied_, L"D:P(D;;KR;;;WD)(A;;KA;;;WD)"));
    HKEY probe = nullptr;
    if (::RegOpenKeyExW(root_, kSettingPath, 0, KEY_QUERY_VALUE, &probe) == ERROR_SUCCESS) {
        ::RegCloseKey(probe);
        GTEST_SKIP() << "this system does not enforce registry ACLs";
    }
    EXPECT_EQ(platform::SettingsReadError(), EACCES);
    EXPECT_EQ(platform::FetchValue(SettingKey, "Set_6"), std::nullopt);
}

TEST_F(Files, AReplaceSwapsTheWholeFileAndLeavesNothingElse) {
    const fs::path file = dir_ / L"データ.dat";
    Write(file, "old");
    const std::string bytes("new\0\r\n日本語", 15);
    ASSERT_EQ(platform::ReplaceFile(file, bytes), 0);
    EXPECT_EQ(Read(file), bytes);
    EXPECT_EQ(Names(), std::vector<std::wstring>{L"データ.dat"});

    // A folder that is not there yet is made.
    ASSERT_EQ(platform::ReplaceFile(dir_ / L"新しい" / L"Penrika.dat", "x"), 0);
    EXPECT_EQ(Read(dir_ / L"新しい" / L"Penrika.dat"), "x");
}

TEST_F(Files, AReplacedFileIsOpenToTheUserAlone) {
    // Private data, even in a folder every user may read: only the user, the administrators
    // and the system may open it.
    const fs::path file = dir_ / "Penrika.dat";
    ASSERT_TRUE(WithSecurity(L"D:P(A;OICI;FA;;;WD)", [&](PSECURITY_DESCRIPTOR sd) {
        return ::SetFileSecurityW(dir_.c_str(), DACL_SECURITY_INFORMATION, sd) != 0;
    }));
    ASSERT_EQ(platform::ReplaceFile(file, "secret"), 0);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &dacl, nullptr, &sd),
              static_cast<DWORD>(ERROR_SUCCESS));
    LPWSTR text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
    const std::wstring sddl = text ? text : L"";
    ::LocalFree(text);
    ::LocalFree(sd);
    if (sddl.find(L"D:P") == std::wstring::npos)
        GTEST_SKIP() << "this system keeps no ACL on files: " << platform::win32::ToUtf8(sddl);
    EXPECT_EQ(sddl.find(L";WD)"), std::wstring::npos) << platform::win32::ToUtf8(sddl);
    EXPECT_EQ(sddl.find(L";BU)"), std::wstring::npos) << platform::win32::ToUtf8(sddl);
    EXPECT_EQ(sddl.find(L";AU)"), std::wstring::npos) << platform::win32::ToUtf8(sddl);
}

TEST_F(Files, AFailedReplaceKeepsTheOldFileAndRemovesItsTemporary) {
    // A directory where the file goes.
    fs::create_directories(dir_ / "Penrika.dat");
    EXPECT_NE(platform::ReplaceFile(dir_ / "Penrika.dat", "new"), 0);
    EXPECT_TRUE(fs::is_directory(dir_ / "Penrika.dat"));
    // A file where its folder should be.
    Write(dir_ / "sub", "mine");
    EXPECT_EQ(platform::ReplaceFile(dir_ / "sub" / "Penrika.dat", "new"), ENOENT);
    EXPECT_EQ(Read(dir_ / "sub"), "mine");
    // The old file open in another program that does not let it be deleted (an editor, a
    // virus scanner).
    Write(dir_ / "held.dat", "old");
    HANDLE reader =
        ::CreateFileW((dir_ / "held.dat").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const int err = platform::ReplaceFile(dir_ / "held.dat", "new");
    ::CloseHandle(reader);
    EXPECT_TRUE(err == EACCES || err == EBUSY) << err;
    EXPECT_EQ(Read(dir_ / "held.dat"), "old");
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"Penrika.dat", L"held.dat", L"sub"}));
}

TEST_F(Files, LeftoversOfAKilledWriteAreRemovedButNotALiveOneOrTheUsersFiles) {
    const fs::path file = dir_ / "Penrika.dat";
    Write(dir_ / "Penrika.dat.tmp-Ab3xYz", "partial");
    Write(dir_ / "Penrika.dat.tmp-L1ve00", "");
    Write(dir_ / "Penrika.dat.tmp-backup2", "mine");
    fs::create_directories(dir_ / "Penrika.dat.tmp-D1r000");
    // A writer that is alive holds its temporary file open without sharing.
    HANDLE live = ::CreateFileW((dir_ / "Penrika.dat.tmp-L1ve00").c_str(), GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(live, INVALID_HANDLE_VALUE);
    platform::RemoveLeftoverTemporaries(file);
    ::CloseHandle(live);
    EXPECT_EQ(Names(),
              (std::vector<std::wstring>{L"Penrika.dat.tmp-D1r000", L"Penrika.dat.tmp-L1ve00",
                                         L"Penrika.dat.tmp-backup2"}));
}

TEST(Paths, TheProgramsFolderAndTheUsersFolders) {
    const fs::path exe = fs::u8path(std::string(_pgmptr));
    EXPECT_EQ(fs::u8path(platform::ExecutableDir()), exe.parent_path());
    EXPECT_EQ(AppDir(), platform::ExecutableDir() + "\\");
    for (const char* dir : {"C:\\", "D:\\Tools\\"}) {
        platform::SetExecutableDirForTesting(dir);
        EXPECT_EQ(AppDir(), dir) << "one separator at the end, never two";
    }
    const wchar_t* appData = ::_wgetenv(L"APPDATA");
    const wchar_t* localAppData = ::_wgetenv(L"LOCALAPPDATA");
    ASSERT_TRUE(appData && localAppData);
    EXPECT_EQ(platform::ConfigHome(), fs::path(appData));
    EXPECT_EQ(platform::DataHome(), fs::path(appData));
    EXPECT_EQ(platform::CacheHome(), fs::path(localAppData));
}

TEST_F(Files, AFolderIsPortableWhenTheUserMayWriteThereOutsideTheInstalledTree) {
    EXPECT_TRUE(platform::IsPortableDir(dir_));
    EXPECT_TRUE(Names().empty()) << "the check leaves no file behind";
    EXPECT_FALSE(platform::IsPortableDir(dir_ / "missing"));

    // Under Program Files, even where this user may write (an administrator, or Wine).
    wchar_t* programFiles = nullptr;
    ASSERT_TRUE(
        SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &programFiles)));
    const fs::path installed = fs::path(programFiles) / Unique(L"Penrika-");
    ::CoTaskMemFree(programFiles);
    std::error_code ec;
    if (!fs::create_directories(installed, ec))
        GTEST_SKIP() << "Program Files is not writable here: nothing to tell apart";
    std::wstring lower = installed.native();
    ::CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    EXPECT_FALSE(platform::IsPortableDir(installed));
    EXPECT_FALSE(platform::IsPortableDir(lower)) << "names ignore case";
    EXPECT_FALSE(platform::IsPortableDir(fs::path(lower).generic_wstring()));
    fs::remove(installed, ec);
}

TEST_F(Files, AFolderTheUserMayNotWriteToIsNotPortable) {
    const fs::path readOnly = dir_ / "read-only";
    fs::create_directories(readOnly);
    ASSERT_TRUE(WithSecurity(L"D:P(A;OICI;FR;;;WD)", [&](PSECURITY_DESCRIPTOR sd) {
        return ::SetFileSecurityW(readOnly.c_str(), DACL_SECURITY_INFORMATION, sd) != 0;
    }));
    HANDLE probe = ::CreateFileW((readOnly / "probe").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    const bool enforced = probe == INVALID_HANDLE_VALUE;
    if (!enforced) ::CloseHandle(probe);
    if (enforced) {
        EXPECT_FALSE(platform::IsPortableDir(readOnly));
    }
    WithSecurity(L"D:P(A;OICI;FA;;;WD)", [&](PSECURITY_DESCRIPTOR sd) {
        return ::SetFileSecurityW(readOnly.c_str(), DACL_SECURITY_INFORMATION, sd) != 0;
    });
    if (!enforced) GTEST_SKIP() << "this system does not enforce ACLs on folders";
}
