// The one-step replace on POSIX: fsync, then an exchange of the two names with a second look at
// the old file, so a save that slips in between the check and the swap is swapped back.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "fileAccess/fileAccessPlatform.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t nanosecondsPerSecond = 1000000000;

// Linux gives up on a path after 40 symbolic links (ELOOP); a chain we follow by hand stops there
// too, so a loop of links ends.
constexpr int maxLinkHops = 40;

FileIdentity identityOf(const struct stat& info) {
    return {true, static_cast<std::int64_t>(info.st_mtim.tv_sec) * nanosecondsPerSecond + info.st_mtim.tv_nsec,
            static_cast<std::int64_t>(info.st_size), static_cast<std::uint64_t>(info.st_ino)};
}

// The file a chain of symbolic links ends at; the path itself when it is no link.
std::string linkTarget(const std::string& path) {
    fs::path target = path;
    for (int hop = 0; hop < maxLinkHops; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(target, error)) || error) break;
        fs::path next = fs::read_symlink(target, error);
        if (error) break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target.string();
}

// Still what the caller based its decision on? No expectation: always.
bool stillAsExpected(const std::string& target, const FileIdentity* expected) {
    if (expected == nullptr) return true;
    FileIdentity now;
    queryFileIdentity(target.c_str(), now);
    return sameFile(now, *expected);
}

enum class Swap { done, changed, unsupported };

// Puts the temporary in place while the old file is still what the caller expected. A check and
// a rename leave a window between them -- the rename may wait for the journal -- in which an
// editor's save goes into the file about to be replaced. Swapping the two instead keeps the old
// file (under the temporary's name) until it is checked once more; a save that slipped in is
// swapped back into place, not lost.
Swap swapInto(const std::string& temporary, const std::string& target, const FileIdentity& expected,
              const FileIdentity& made) {
#ifdef RENAME_EXCHANGE
    if (!expected.exists) {
        if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return Swap::done;
        if (errno != EEXIST) return Swap::unsupported;
        std::remove(temporary.c_str());  // the player made the file meanwhile
        return Swap::changed;
    }
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) != 0) {
        if (errno != ENOENT) return Swap::unsupported;
        std::remove(temporary.c_str());  // the file is gone meanwhile
        return Swap::changed;
    }
    // An editor that opened the old file just before the swap truncates it microseconds later:
    // give it that long to show, once per rewrite.
    const timespec grace{0, 100000};  // 100 µs
    nanosleep(&grace, nullptr);
    FileIdentity old;
    queryFileIdentity(temporary.c_str(), old);
    if (sameFile(old, expected)) {
        std::remove(temporary.c_str());
        return Swap::done;
    }
    // The player's save back in place, ours removed; should the swap back fail, the save stays
    // beside the file under the temporary's name rather than be deleted. A save that went into
    // our new file meanwhile is newer still: it stays, and the older one goes.
    FileIdentity ours;
    queryFileIdentity(target.c_str(), ours);
    if (!sameFile(ours, made) ||
        renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0)
        std::remove(temporary.c_str());
    return Swap::changed;
#else
    (void)temporary, (void)target, (void)expected, (void)made;
    return Swap::unsupported;  // no exchange here (emscripten, older C libraries): check, then rename
#endif
}

}  // namespace

FileIdentity identityOfOpenFile(std::FILE* file) {
    struct stat info;
    return ::fstat(fileno(file), &info) == 0 ? identityOf(info) : FileIdentity{};
}

bool queryFileIdentity(const char* path, FileIdentity& identity) noexcept {
    struct stat info;
    if (::stat(path, &info) != 0) {
        identity = FileIdentity{};
        return false;
    }
    identity = identityOf(info);
    return true;
}

std::string diskBytes(std::string_view content, bool) { return std::string(content); }

std::optional<ReplaceOutcome> checkOldFile(const std::string& path, const FileIdentity* expected, OldFile& old) {
    old.target = linkTarget(path);
    struct stat info;
    if (::stat(old.target.c_str(), &info) == 0) {
        old.identity = identityOf(info);
        old.mode = static_cast<std::uint32_t>(info.st_mode);
    }
    if (expected != nullptr && !sameFile(old.identity, *expected)) return ReplaceOutcome::changedMeanwhile;
    // A rename must not replace what the user or the system made read-only, nor a folder.
    if (old.identity.exists && (!S_ISREG(static_cast<mode_t>(old.mode)) || ::access(old.target.c_str(), W_OK) != 0))
        return ReplaceOutcome::failed;
    return std::nullopt;
}

// Nothing to wait for here: no replace is ever busy, so no temporary outlives one.
bool reuseTemporary(OldFile&, const std::string&, FileIdentity&) { return false; }

std::FILE* openTemporary(OldFile& old) {
    std::FILE* file = std::fopen(temporaryPath(old.target).c_str(), "wb");
    old.temporaryMade = file != nullptr;
    return file;
}

void copyPermissions(std::FILE* temporary, const OldFile& old) {
    if (old.identity.exists) fchmod(fileno(temporary), static_cast<mode_t>(old.mode & 07777));  // not the type bits
}

bool stampAndFlush(std::FILE* temporary, const OldFile& old) {
    int fd = fileno(temporary);
    timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    clock_gettime(CLOCK_REALTIME, &times[1]);
    const std::int64_t now = static_cast<std::int64_t>(times[1].tv_sec) * nanosecondsPerSecond + times[1].tv_nsec;
    if (old.identity.exists && now <= old.identity.writeTime) {
        const std::int64_t later = old.identity.writeTime + 1;
        times[1].tv_sec = static_cast<time_t>(later / nanosecondsPerSecond);
        times[1].tv_nsec = static_cast<long>(later % nanosecondsPerSecond);
    }
    futimens(fd, times);
    return ::fdatasync(fd) == 0;  // the content and its size; enough for the rename to publish whole data
}

void abandonReplace(OldFile& old) {
    if (old.temporaryMade) std::remove(temporaryPath(old.target).c_str());
}

ReplaceOutcome putInPlace(OldFile& old, const FileIdentity* expected, const FileIdentity& made, FileIdentity* written) {
    const std::string temporary = temporaryPath(old.target);
    if (expected != nullptr) {
        // A save made while the temporary was written and flushed.
        if (!stillAsExpected(old.target, expected)) {
            std::remove(temporary.c_str());
            return ReplaceOutcome::changedMeanwhile;
        }
        // One made in the moment between that check and the rename.
        const Swap swap = swapInto(temporary, old.target, *expected, made);
        if (swap == Swap::changed) return ReplaceOutcome::changedMeanwhile;
        if (swap == Swap::done) {
            if (written != nullptr) *written = made;
            return ReplaceOutcome::written;
        }
    }
    if (std::rename(temporary.c_str(), old.target.c_str()) == 0) {
        if (written != nullptr) *written = made;
        return ReplaceOutcome::written;
    }
    std::remove(temporary.c_str());
    return ReplaceOutcome::failed;
}

bool isLinkToNothing(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode) && ::stat(path.c_str(), &info) != 0;
}

ReplacePlace replacePlace(const std::string& path) {
    // The exchange of the replace leaves no gap here; a folder carried over from Windows, or a
    // Proton run of the Windows plug-in, may.
    const std::string target = linkTarget(path);
    return {target, target};
}

std::string platformName(const std::string& path) { return path; }

bool nameTaken(const std::string& name) {
    struct stat info;
    return ::lstat(name.c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

bool isPlainFile(const std::string& name) {
    struct stat info;
    return ::lstat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool moveToFreeName(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;  // else a file system without it: look, then rename
#endif
    return !nameTaken(to) && std::rename(from.c_str(), to.c_str()) == 0;
}

bool removeFile(const std::string& name) { return std::remove(name.c_str()) == 0; }
