#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace platform {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTempInfix = ".tmp-";

// mkstemp's six random characters.
bool IsTempSuffix(std::string_view s) {
    if (s.size() != 6) return false;
    for (char c : s) {
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum) return false;
    }
    return true;
}

// "Penrika.dat.tmp-AbC123": only names ReplaceFile makes. (Older copies named the settings'
// temporaries "Penrika.ini.AbC123", which cannot be told from a user's own "Penrika.ini.backup":
// those are left alone.)
bool IsTemporaryOf(const std::string& name, const std::string& base) {
    const std::string prefix = base + std::string(kTempInfix);
    return name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
           IsTempSuffix(std::string_view(name).substr(prefix.size()));
}

int WriteAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Creates the temporary file and locks it, so that RemoveLeftoverTemporaries in another
// process knows a live writer holds it. Returns the descriptor, or -errno.
int CreateLockedTemporary(std::string& name, const fs::path& file) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        name = file.string() + std::string(kTempInfix) + "XXXXXX";
        int fd = ::mkstemp(name.data());
        if (fd < 0) return -errno;
        ::flock(fd, LOCK_EX);
        // A cleaner may have taken it for a leftover in the instant before the lock.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_nlink > 0) return fd;
        ::close(fd);
    }
    return -EAGAIN;
}

}  // namespace

int ReplaceFile(const fs::path& file, std::string_view bytes) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::string tmp;
    int fd = CreateLockedTemporary(tmp, file);
    if (fd < 0) return -fd;
    ::fchmod(fd, 0600);
    int err = WriteAll(fd, bytes);
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    // Renamed while still locked: a cleaner never sees an unlocked, unfinished file.
    if (err == 0 && ::rename(tmp.c_str(), file.c_str()) != 0) err = errno;
    if (err != 0) ::unlink(tmp.c_str());
    ::close(fd);
    if (err != 0) return err;
    // Make the rename itself durable.
    int dir = ::open(file.parent_path().empty() ? "." : file.parent_path().c_str(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

void RemoveLeftoverTemporaries(const fs::path& file) {
    const std::string base = file.filename().string();
    std::error_code ec;
    for (fs::directory_iterator it(file.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path p = it->path();
        if (!IsTemporaryOf(p.filename().string(), base)) continue;
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        // A writer that is alive holds the lock; a killed one's lock went with it.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(p.c_str());
        ::close(fd);
    }
}

}  // namespace platform
