#include "settings/fileAccess.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
std::int64_t fileTimeTicks(const FILETIME& time) {
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}
#endif

#ifndef _WIN32
FileIdentity identityOf(const struct stat& info) {
    return {true, static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            static_cast<std::int64_t>(info.st_size), static_cast<std::uint64_t>(info.st_ino)};
}
#endif

// The identity of an open file: what it was when the caller opened it, whatever the path holds later.
FileIdentity identityOfOpenFile(std::FILE* file) {
    FileIdentity identity;
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &info)) {
        identity.exists = true;
        identity.writeTime = fileTimeTicks(info.ftLastWriteTime);
        identity.size = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    }
#else
    struct stat info;
    if (::fstat(fileno(file), &info) == 0) identity = identityOf(info);
#endif
    return identity;
}

}  // namespace

FileRead readWholeFile(const std::string& path, std::string& content, bool binary) {
    FileRead result;
    content.clear();
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), binary ? "rb" : "r");
    if (file == nullptr) {
        result.notFound = errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG;
        return result;
    }
    result.opened = true;
    // Before the first byte: a save that lands during the read then shows as a change later.
    result.identity = identityOfOpenFile(file);
    // Straight into the string, sized from the file: no big buffer on the script fibre's stack.
    const std::int64_t size = result.identity.size;
    content.resize(result.identity.exists && size >= 0 && size < (std::int64_t{1} << 31) ? static_cast<std::size_t>(size) + 1
                                                                                         : 4096);
    std::size_t used = 0;
    for (;;) {
        used += std::fread(content.data() + used, 1, content.size() - used, file);
        if (used < content.size()) break;  // the end, or an error
        content.resize(content.size() * 2);
    }
    content.resize(used);
    result.readError = std::ferror(file) != 0;
    std::fclose(file);
    return result;
}

bool isEmptyFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && fs::file_size(path, error) == 0 && !error;
}

namespace {

// The file a chain of symbolic links ends at; the path itself when it is no link.
fs::path linkTarget(const std::string& path) {
    fs::path target = path;
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(target, error)) || error) break;
        fs::path next = fs::read_symlink(target, error);
        if (error) break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target;
}

bool writeAll(std::FILE* file, std::string_view content) {
    bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    return std::fflush(file) == 0 && ok;
}

#ifdef _WIN32

struct OldFile {
    FileIdentity identity;
};

OldFile inspect(const std::string& target) {
    OldFile old;
    queryFileIdentity(target.c_str(), old.identity);
    return old;
}

bool syncAndStamp(std::FILE* file, const OldFile& old) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    std::uint64_t stamp = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    const auto was = static_cast<std::uint64_t>(old.identity.writeTime);
    if (old.identity.exists && stamp <= was) stamp = was + 1;
    FILETIME written{static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
    SetFileTime(handle, nullptr, nullptr, &written);
    return FlushFileBuffers(handle) != 0;
}

bool moveOver(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

#else

struct OldFile {
    FileIdentity identity;
    mode_t mode = 0;
};

OldFile inspect(const std::string& target) {
    OldFile old;
    struct stat info;
    if (::stat(target.c_str(), &info) == 0) {
        old.identity = identityOf(info);
        old.mode = info.st_mode;
    }
    return old;
}

bool syncAndStamp(std::FILE* file, const OldFile& old) {
    int fd = fileno(file);
    timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    clock_gettime(CLOCK_REALTIME, &times[1]);
    const std::int64_t now = static_cast<std::int64_t>(times[1].tv_sec) * 1000000000 + times[1].tv_nsec;
    if (old.identity.exists && now <= old.identity.writeTime) {
        const std::int64_t later = old.identity.writeTime + 1;
        times[1].tv_sec = static_cast<time_t>(later / 1000000000);
        times[1].tv_nsec = static_cast<long>(later % 1000000000);
    }
    futimens(fd, times);
    return ::fdatasync(fd) == 0;  // the content and its size; enough for the rename to publish whole data
}

bool moveOver(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

#endif

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
    const timespec grace{0, 100000};
    nanosleep(&grace, nullptr);
    FileIdentity old;
    queryFileIdentity(temporary.c_str(), old);
    if (old == expected) {
        std::remove(temporary.c_str());
        return Swap::done;
    }
    // The player's save back in place, ours removed; should the swap back fail, the save stays
    // beside the file under the temporary's name rather than be deleted. A save that went into
    // our new file meanwhile is newer still: it stays, and the older one goes.
    FileIdentity ours;
    queryFileIdentity(target.c_str(), ours);
    if (ours != made || renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0)
        std::remove(temporary.c_str());
    return Swap::changed;
#else
    (void)temporary, (void)target, (void)expected, (void)made;
    return Swap::unsupported;
#endif
}

// The old file must be one we could rewrite in place; a rename would otherwise replace a file
// that the user or the system has made read-only, or one held without write sharing.
bool mayReplace(const std::string& target, const OldFile& old) {
    if (!old.identity.exists) return true;
#ifdef _WIN32
    std::error_code error;
    if (!fs::is_regular_file(target, error)) return false;
    std::FILE* probe = std::fopen(target.c_str(), "r+b");
    if (probe == nullptr) return false;
    std::fclose(probe);
    return true;
#else
    return S_ISREG(old.mode) && ::access(target.c_str(), W_OK) == 0;
#endif
}

// Still what the caller based its decision on? No expectation: always.
bool stillAsExpected(const std::string& target, const FileIdentity* expected) {
    if (expected == nullptr) return true;
    FileIdentity now;
    queryFileIdentity(target.c_str(), now);
    return now == *expected;
}

ReplaceOutcome rewriteInPlace(const std::string& target, std::string_view content, bool binary, const OldFile& old,
                              const FileIdentity* expected, FileIdentity* written) {
    if (!stillAsExpected(target, expected)) return ReplaceOutcome::changedMeanwhile;
    std::FILE* file = std::fopen(target.c_str(), binary ? "wb" : "w");
    if (file == nullptr) return ReplaceOutcome::failed;
    bool ok = writeAll(file, content);
    syncAndStamp(file, old);
    if (written != nullptr) *written = identityOfOpenFile(file);
    return std::fclose(file) == 0 && ok ? ReplaceOutcome::written : ReplaceOutcome::failed;
}

ReplaceOutcome replace(const std::string& path, std::string_view content, bool binary, const FileIdentity* expected,
                       FileIdentity* written) {
    const std::string target = linkTarget(path).string();
    const OldFile old = inspect(target);
    if (expected != nullptr && old.identity != *expected) return ReplaceOutcome::changedMeanwhile;
    if (!mayReplace(target, old)) return ReplaceOutcome::failed;

    const std::string temporary = target + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), binary ? "wb" : "w");
    if (file == nullptr) return rewriteInPlace(target, content, binary, old, expected, written);
#ifndef _WIN32
    if (old.identity.exists) fchmod(fileno(file), old.mode & 07777);
#endif
    bool ok = writeAll(file, content);
    ok = syncAndStamp(file, old) && ok;
    const FileIdentity made = identityOfOpenFile(file);
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        // A short write (a full disk, say) must not cost the old content.
        std::remove(temporary.c_str());
        return ReplaceOutcome::failed;
    }
    if (expected != nullptr) {
        // A save made while the temporary was written and flushed.
        if (!stillAsExpected(target, expected)) {
            std::remove(temporary.c_str());
            return ReplaceOutcome::changedMeanwhile;
        }
        // One made in the moment between that check and the rename.
        const Swap swap = swapInto(temporary, target, *expected, made);
        if (swap == Swap::changed) return ReplaceOutcome::changedMeanwhile;
        if (swap == Swap::done) {
            if (written != nullptr) *written = made;
            return ReplaceOutcome::written;
        }
    }
    if (moveOver(temporary, target)) {
        if (written != nullptr) *written = made;
        return ReplaceOutcome::written;
    }
    std::remove(temporary.c_str());
    return rewriteInPlace(target, content, binary, old, expected, written);
}

}  // namespace

bool replaceFileContent(const std::string& path, std::string_view content, bool binary) {
    return replace(path, content, binary, nullptr, nullptr) == ReplaceOutcome::written;
}

ReplaceOutcome replaceFileContentIf(const std::string& path, std::string_view content, bool binary,
                                    const FileIdentity& expected, FileIdentity* written) {
    return replace(path, content, binary, &expected, written);
}

bool queryFileIdentity(const char* path, FileIdentity& identity) noexcept {
    identity = FileIdentity{};
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    identity.writeTime = fileTimeTicks(data.ftLastWriteTime);
    identity.size = static_cast<std::int64_t>((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
#else
    struct stat info;
    if (::stat(path, &info) != 0) return false;
    identity = identityOf(info);
#endif
    identity.exists = true;
    return true;
}

bool queryWriteTime(const char* path, std::int64_t& writeTime) noexcept {
    FileIdentity identity;
    if (!queryFileIdentity(path, identity)) return false;
    writeTime = identity.writeTime;
    return true;
}
