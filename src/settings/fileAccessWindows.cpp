// The one-step replace on Windows. From the final check to the replace, the old file is held
// with a handle that denies writers: an editor's save then fails with a sharing violation (the
// editor says so and keeps its text) instead of landing in a file about to be replaced. Three
// roads, the first the system allows:
//  1. POSIX rename of the temporary over the held file (FileRenameInfoEx; Windows 10 1709 and
//     later, NTFS): one step, no gap.
//  2. The held file renamed aside through its own handle, the temporary moved into the free name
//     (refused if an editor made a file there meanwhile, which then stays), the old file deleted.
//     A crash in the gap leaves the old content aside; restoreInterruptedReplace puts it back.
//  3. Where another program reads the file without delete sharing, no rename can replace it: it
//     is rewritten in place through a handle that denies writers, unbuffered.
// A file that cannot be held against writers at all is busy: nothing is written.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "settings/fileAccessPlatform.h"

namespace {

std::int64_t fileTimeTicks(const FILETIME& time) {
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

FileIdentity identityOfHandle(HANDLE handle) {
    FileIdentity identity;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info)) {
        identity.exists = true;
        identity.writeTime = fileTimeTicks(info.ftLastWriteTime);
        identity.size = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
        identity.fileId = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    }
    return identity;
}

HANDLE handleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

// A last-write time after the old file's, even when the clock gives the same tick; then the flush.
bool stampAndFlushHandle(HANDLE handle, const OldFile& old) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    std::uint64_t stamp = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    const auto was = static_cast<std::uint64_t>(old.identity.writeTime);
    if (old.identity.exists && stamp <= was) stamp = was + 1;
    FILETIME written{static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
    SetFileTime(handle, nullptr, nullptr, &written);
    return FlushFileBuffers(handle) != 0;
}

std::wstring wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, result.data(), length);
    result.resize(result.size() - 1);
    return result;
}

// The name part of a path: a rename by handle to a bare name stays in the file's folder.
std::string namePart(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string asideName(const std::string& target) { return target + ".old"; }

// Renames the open file (opened with DELETE access) to a bare name in its folder.
bool renameHandle(HANDLE handle, const std::string& name, bool replaceExisting, DWORD flagsEx = 0) {
    const std::wstring wideName = wide(name);
    const std::size_t bytes = sizeof(FILE_RENAME_INFO) + wideName.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(bytes, 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    FILE_INFO_BY_HANDLE_CLASS kind = FileRenameInfo;
    if (flagsEx != 0) {
        // FILE_RENAME_INFO's first member is a union of ReplaceIfExists and the Ex flags.
        std::memcpy(buffer.data(), &flagsEx, sizeof flagsEx);
        kind = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);  // FileRenameInfoEx
    } else {
        info->ReplaceIfExists = replaceExisting ? TRUE : FALSE;
    }
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(wideName.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, wideName.data(), info->FileNameLength);
    return SetFileInformationByHandle(handle, kind, info, static_cast<DWORD>(bytes)) != 0;
}

bool deleteOnClose(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Text mode's line ends, for bytes written past the C library.
std::string diskBytes(std::string_view content, bool binary) {
    std::string bytes;
    bytes.reserve(content.size() + content.size() / 16);
    for (char c : content) {
        if (c == '\n' && !binary) bytes += '\r';
        bytes += c;
    }
    return bytes;
}

constexpr DWORD fileRenameFlagReplaceIfExists = 0x1;
constexpr DWORD fileRenameFlagPosixSemantics = 0x2;

enum class Hold { renamable, writable, busy, gone, failed };

// Opens the old file so that nobody can write it while we hold it: with DELETE access for the
// renames where every other handle shares delete, else with write access for the in-place road.
Hold holdAgainstWriters(const std::string& target, HANDLE& handle) {
    handle = CreateFileA(target.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return Hold::renamable;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Hold::gone;
    handle = CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return Hold::writable;
    error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Hold::gone;
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Hold::busy : Hold::failed;
}

// The new content over the old through the held handle; nothing is buffered past the flush.
ReplaceOutcome writeThroughHandle(HANDLE handle, std::string_view content, bool binary, const OldFile& old,
                                  FileIdentity* written) {
    const std::string bytes = diskBytes(content, binary);
    DWORD done = 0;
    LARGE_INTEGER start{};
    bool ok = SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) &&
              WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) && done == bytes.size() &&
              SetEndOfFile(handle);
    ok = stampAndFlushHandle(handle, old) && ok;
    if (written != nullptr) *written = identityOfHandle(handle);
    CloseHandle(handle);
    return ok ? ReplaceOutcome::written : ReplaceOutcome::failed;
}

// Roads 1 and 2, on a handle that holds the old file with DELETE access.
ReplaceOutcome renameOver(HANDLE held, const std::string& temporary, const std::string& target, const FileIdentity& made,
                          FileIdentity* written) {
    HANDLE ours = CreateFileA(temporary.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ours != INVALID_HANDLE_VALUE) {
        const bool swapped =
            renameHandle(ours, namePart(target), true, fileRenameFlagReplaceIfExists | fileRenameFlagPosixSemantics);
        CloseHandle(ours);
        if (swapped) {
            CloseHandle(held);
            if (written != nullptr) *written = made;
            return ReplaceOutcome::written;
        }
    }
    const std::string aside = asideName(target);
    if (!renameHandle(held, namePart(aside), true)) {
        CloseHandle(held);
        DeleteFileA(temporary.c_str());
        return ReplaceOutcome::busy;
    }
    if (MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        deleteOnClose(held);
        CloseHandle(held);
        if (written != nullptr) *written = made;
        return ReplaceOutcome::written;
    }
    const DWORD error = GetLastError();
    DeleteFileA(temporary.c_str());
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        // The player saved a new file into the gap: theirs is the newest, the old one goes.
        deleteOnClose(held);
        CloseHandle(held);
        return ReplaceOutcome::changedMeanwhile;
    }
    renameHandle(held, namePart(target), false);  // the old file back where it was
    CloseHandle(held);
    return ReplaceOutcome::failed;
}

}  // namespace

FileIdentity identityOfOpenFile(std::FILE* file) { return identityOfHandle(handleOf(file)); }

bool queryFileIdentity(const char* path, FileIdentity& identity) noexcept {
    identity = FileIdentity{};
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    identity.exists = true;
    identity.writeTime = fileTimeTicks(data.ftLastWriteTime);
    identity.size = static_cast<std::int64_t>((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
    return true;  // no file index from a path query: sameFile compares it only where both have one
}

OldFile inspectOldFile(const std::string& target) {
    // A path query: an open costs half a millisecond under Wine, and the check that counts, file
    // index included, is made later through the handle that holds the file.
    OldFile old;
    queryFileIdentity(target.c_str(), old.identity);
    return old;
}

bool mayReplace(const std::string& target, const OldFile& old) {
    if (!old.identity.exists) return true;
    const DWORD attributes = GetFileAttributesA(target.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

void takePermissions(std::FILE*, const OldFile&) {}

bool stampAndFlush(std::FILE* temporary, const OldFile& old) { return stampAndFlushHandle(handleOf(temporary), old); }

ReplaceOutcome putInPlace(const std::string& temporary, const std::string& target, std::string_view content,
                          bool binary, const OldFile& old, const FileIdentity* expected, const FileIdentity& made,
                          FileIdentity* written) {
    HANDLE held = INVALID_HANDLE_VALUE;
    const Hold hold = old.identity.exists ? holdAgainstWriters(target, held) : Hold::gone;
    if (hold == Hold::gone && expected != nullptr && expected->exists) {
        DeleteFileA(temporary.c_str());  // deleted meanwhile: the player's doing, not ours to undo
        return ReplaceOutcome::changedMeanwhile;
    }
    if (hold == Hold::gone) {
        // Nothing to hold: a move that replaces nothing, so a file the player made meanwhile stays.
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (expected == nullptr ? MOVEFILE_REPLACE_EXISTING : 0);
        if (MoveFileExA(temporary.c_str(), target.c_str(), flags)) {
            if (written != nullptr) *written = made;
            return ReplaceOutcome::written;
        }
        const DWORD error = GetLastError();
        DeleteFileA(temporary.c_str());
        return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? ReplaceOutcome::changedMeanwhile
                                                                          : ReplaceOutcome::failed;
    }
    if (hold == Hold::busy || hold == Hold::failed) {
        DeleteFileA(temporary.c_str());
        return hold == Hold::busy ? ReplaceOutcome::busy : ReplaceOutcome::failed;
    }
    // From here to the replace, nobody else can write the file: this check is final.
    if (expected != nullptr && !sameFile(identityOfHandle(held), *expected)) {
        CloseHandle(held);
        DeleteFileA(temporary.c_str());
        return ReplaceOutcome::changedMeanwhile;
    }
    if (hold == Hold::renamable) return renameOver(held, temporary, target, made, written);
    DeleteFileA(temporary.c_str());
    return writeThroughHandle(held, content, binary, old, written);
}

ReplaceOutcome rewriteInPlace(const std::string& target, std::string_view content, bool binary, const OldFile& old,
                              const FileIdentity* expected, FileIdentity* written) {
    // Expected absent: only a new file; expected there: only that file; no expectation: either.
    const DWORD disposition = expected == nullptr ? OPEN_ALWAYS : expected->exists ? OPEN_EXISTING : CREATE_NEW;
    HANDLE held = CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_FILE_NOT_FOUND) return ReplaceOutcome::changedMeanwhile;
        return error == ERROR_SHARING_VIOLATION ? ReplaceOutcome::busy : ReplaceOutcome::failed;
    }
    if (expected != nullptr && expected->exists && !sameFile(identityOfHandle(held), *expected)) {
        CloseHandle(held);
        return ReplaceOutcome::changedMeanwhile;
    }
    return writeThroughHandle(held, content, binary, old, written);
}

bool restoreInterruptedReplace(const std::string& path) {
    const std::string aside = asideName(path);
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    if (GetFileAttributesA(aside.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    return MoveFileExA(aside.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}
