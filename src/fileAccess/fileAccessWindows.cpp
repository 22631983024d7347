// The one-step replace on Windows. The old file is held, from before the temporary is made to
// the replace, by a handle that denies writers and deletion: an editor's save then fails with a
// sharing violation (the editor says so and keeps its text) instead of landing in a file about to
// be replaced, no program can rename or delete it away meanwhile, and the check made through that
// handle -- time, size, file index and content -- is final. The held file is then renamed aside
// to a name of our own (never over anything), the temporary moved into the free name (refused if
// an editor made a file there meanwhile, which then stays) and the old file deleted. A crash in
// the gap leaves the old file aside and the temporary beside it; recoverInterruptedReplace puts
// the old file back at the next start. (A POSIX rename over the held file would need the hold to
// share deletion, and then a save made by renaming the old file away could be written over.)
// No road rewrites the file in place, which a crash could tear. A file that cannot be held --
// another program reads it without sharing deletion, or writes it -- is busy.
// Every name is a full path in the real file's folder: links are followed through the handle.
//
// Index of this file:
// [SECTION] Identities and time stamps
// [SECTION] Names: code pages and full paths
// [SECTION] Links: where a path leads
// [SECTION] Refusals and attributes
// [SECTION] The held file: its content, its rename, its deletion
// [SECTION] The replace's moves
// [SECTION] Holding and checking
// [SECTION] The platform calls of fileAccessPlatform.h
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fileAccess/fileAccessPlatform.h"

namespace {

// [SECTION] Identities and time stamps

std::int64_t fileTimeTicks(const FILETIME& time) {
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

FileIdentity identityOfInfo(const BY_HANDLE_FILE_INFORMATION& info) {
    FileIdentity identity;
    identity.exists = true;
    identity.writeTime = fileTimeTicks(info.ftLastWriteTime);
    identity.size = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    identity.fileId = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return identity;
}

FileIdentity identityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(handle, &info) ? identityOfInfo(info) : FileIdentity{};
}

HANDLE handleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

// A symbolic link's own attributes are not its target's: where the path is one (rare), the poll
// opens it, following the link, so that it sees the file the loader reads.
bool queryThroughLink(const char* path, FileIdentity& identity) {
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    identity = identityOfHandle(handle);
    CloseHandle(handle);
    return identity.exists;
}

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

// [SECTION] Names: code pages and full paths

// The caller's names are in the ANSI code page, as fopen reads them; ours, made from the real
// file's full path, in UTF-8 so that no folder name is lost on the way.
std::wstring widen(const std::string& text, UINT codePage) {
    const int length = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
    if (length > 0) MultiByteToWideChar(codePage, 0, text.c_str(), -1, result.data(), length);
    result.resize(result.size() - 1);
    return result;
}

std::string utf8(const std::wstring& text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(length > 0 ? static_cast<std::size_t>(length) : 1, '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), length, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}

std::wstring ours(const std::string& name) { return widen(name, CP_UTF8); }

// The full path of the file a handle is open on, links followed; empty when it cannot be had.
std::wstring finalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    // Two tries: MAX_PATH first, then the length the first call asked for (should a rename
    // lengthen the path between the two, no path).
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.assign(length + 1, L'\0');
    }
    return {};
}

std::wstring fullPath(const std::wstring& path) {
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(length > 0 ? length : 1, L'\0');
    const DWORD made = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    if (made == 0 || made >= length) return path;
    full.resize(made);
    return full;
}

// [SECTION] Links: where a path leads

// A path as a player types it: without the \\?\ (or \\?\UNC\) that final paths carry.
std::wstring withoutLongPrefix(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + path.substr(7);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

// A path passes through at most 63 reparse points; a chain read by hand stops there too.
constexpr int maxLinkHops = 63;

// A symbolic link's reparse data as FSCTL_GET_REPARSE_POINT gives it (ntifs.h's
// REPARSE_DATA_BUFFER, which not every toolchain's Windows headers declare).
struct SymbolicLinkReparse {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteNameOffset;  // bytes, from pathBuffer
    WORD substituteNameLength;
    WORD printNameOffset;
    WORD printNameLength;
    ULONG flags;
    WCHAR pathBuffer[1];
};
constexpr DWORD symbolicLinkTag = 0xA000000C;  // IO_REPARSE_TAG_SYMLINK
constexpr ULONG relativeLinkFlag = 1;          // SYMLINK_FLAG_RELATIVE

// Where a symbolic link points, read from the link itself, so its target need not be there: a
// full path; empty where `link` (a full path) is no symbolic link or cannot be read.
std::wstring symbolicLinkTarget(const std::wstring& link) {
    HANDLE handle = CreateFileW(link.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    std::vector<unsigned char> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    const bool read = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                                      static_cast<DWORD>(buffer.size()), &got, nullptr) != 0;
    CloseHandle(handle);
    const std::size_t names = offsetof(SymbolicLinkReparse, pathBuffer);
    const auto* data = reinterpret_cast<const SymbolicLinkReparse*>(buffer.data());
    if (!read || got < names || data->tag != symbolicLinkTag ||
        names + data->substituteNameOffset + data->substituteNameLength > got)
        return {};
    std::wstring target(data->pathBuffer + data->substituteNameOffset / sizeof(WCHAR),
                        data->substituteNameLength / sizeof(WCHAR));
    // A plain full path either way, so that the ".." of a relative target is resolved.
    const std::wstring folder = withoutLongPrefix(link.substr(0, link.find_last_of(L"\\/") + 1));
    if ((data->flags & relativeLinkFlag) != 0) return fullPath(folder + target);
    if (target.rfind(L"\\??\\", 0) == 0) target[1] = L'\\';  // the native \??\C:\... is \\?\C:\... to Win32
    return withoutLongPrefix(target);
}

// Where a path leads: the real file where it opens, links followed; where it does not, the
// target its links name, read hop by hop from the links themselves; else the path made full.
std::wstring linkEnd(const std::wstring& path) {
    std::wstring at = fullPath(path);
    for (int hop = 0; hop <= maxLinkHops; ++hop) {
        HANDLE handle = CreateFileW(at.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            std::wstring real = finalPath(handle);
            CloseHandle(handle);
            return real.empty() ? at : real;
        }
        std::wstring next = symbolicLinkTarget(at);
        if (next.empty()) return at;
        at = std::move(next);
    }
    return at;
}

// [SECTION] Refusals and attributes

bool isNotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Only another program's hold on the file is worth a quick retry; anything else is a failure.
ReplaceOutcome refusal(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? ReplaceOutcome::busy
                                                                             : ReplaceOutcome::failed;
}

// [SECTION] The held file: its content, its rename, its deletion

// The hash of the held file's bytes, read through the handle from its start. Sized from the file
// plus a page, so the read meets the end without growing; a size of 1 GiB or more is not trusted
// for one allocation (a page, doubled as the bytes come). 0 when the read is refused.
std::uint64_t heldContentHash(HANDLE handle, std::int64_t size) {
    std::string bytes(static_cast<std::size_t>(size > 0 && size < (std::int64_t{1} << 30) ? size : 0) + 4096, '\0');
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) return 0;
    std::size_t used = 0;
    for (DWORD got = 1; got > 0;) {
        if (used == bytes.size()) bytes.resize(bytes.size() * 2);
        if (!ReadFile(handle, bytes.data() + used, static_cast<DWORD>(bytes.size() - used), &got, nullptr)) return 0;
        used += got;
    }
    bytes.resize(used);
    return contentHashOf(bytes);
}

// Renames the open file (opened with DELETE access) to a full path, replacing nothing.
bool renameHandle(HANDLE handle, const std::wstring& name) {
    const std::size_t bytes = sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(bytes, 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.data(), info->FileNameLength);
    return SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(bytes)) != 0;
}

// Deletes the file when the handle closes. POSIX semantics (Windows 10 1709 and later, NTFS) free
// its name at once even while another program still reads it; elsewhere the name stays until the
// last reader lets go.
// The flags and the class go by number: the headers name them only for builds that require
// Windows 10 1607, and the plug-in also runs where they are refused (the fallback below).
bool deleteOnClose(HANDLE handle) {
    DWORD flags = 0x1 | 0x2;  // FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS
    const auto dispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);  // FileDispositionInfoEx
    if (SetFileInformationByHandle(handle, dispositionInfoEx, &flags, sizeof flags)) return true;
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// An earlier old file of ours may still hold the aside name (deleted, but kept while some reader
// has it open): ours to clear. A folder or a read-only file there is not: that refuses the replace.
bool clearAsideName(const std::wstring& aside) {
    const DWORD attributes = GetFileAttributesW(aside.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return false;
    DeleteFileW(aside.c_str());
    return true;
}

// [SECTION] The replace's moves

// Puts the held file aside. A name still pinned after clearing is another program's doing: busy.
DWORD renameAsideOnce(HANDLE held, const std::wstring& aside) {
    if (renameHandle(held, aside)) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    const bool taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS || error == ERROR_ACCESS_DENIED;
    if (!taken || !clearAsideName(aside)) return error;
    return renameHandle(held, aside) ? ERROR_SUCCESS : ERROR_SHARING_VIOLATION;
}

// The temporary into the free name. A scanner that opens every file just written may hold it for
// a moment: tried a few times on a sharing violation, off the game's frame -- five tries 20 ms
// apart, so the old file waits aside under a tenth of a second at most.
DWORD moveIn(const std::wstring& temporary, const std::wstring& target) {
    constexpr int tries = 5;
    constexpr DWORD pauseMilliseconds = 20;
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION || attempt == tries) return error;
        Sleep(pauseMilliseconds);
    }
}

// Nothing was there to hold: a move that replaces nothing, so a file the player made meanwhile stays.
ReplaceOutcome moveIntoFreeName(const std::wstring& temporary, const std::wstring& target, const FileIdentity* expected) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (expected == nullptr ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(temporary.c_str(), target.c_str(), flags)) return ReplaceOutcome::written;
    const DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? ReplaceOutcome::changedMeanwhile : refusal(error);
}

// The held file put aside, the temporary moved in, the old file deleted; each step undone where
// the next is refused.
ReplaceOutcome renameAside(HANDLE held, const std::wstring& temporary, const std::wstring& target,
                           const std::wstring& aside) {
    if (const DWORD error = renameAsideOnce(held, aside); error != ERROR_SUCCESS) {
        CloseHandle(held);
        DeleteFileW(temporary.c_str());
        return refusal(error);
    }
    const DWORD error = moveIn(temporary, target);
    if (error == ERROR_SUCCESS) {
        deleteOnClose(held);
        CloseHandle(held);
        return ReplaceOutcome::written;
    }
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        // The player saved a new file into the gap: theirs is the newest, the old one goes.
        DeleteFileW(temporary.c_str());
        deleteOnClose(held);
        CloseHandle(held);
        return ReplaceOutcome::changedMeanwhile;
    }
    // The old file back first: until then the temporary beside it marks the gap for a restore,
    // so should the way back be refused too, both stay for the next start to put right.
    const bool back = renameHandle(held, target);
    CloseHandle(held);
    if (back) DeleteFileW(temporary.c_str());
    return refusal(error);
}

// [SECTION] Holding and checking

// Holds the file at `name` against writers and deletion and checks it against the expectation,
// content included where the caller read it: a save of the same size within one tick of a coarse
// clock shows nowhere else. `held` stays invalid when nothing is held. Empty to go on.
std::optional<ReplaceOutcome> holdChecked(const std::wstring& name, const FileIdentity* expected, HANDLE& held,
                                          FileIdentity& identity) {
    held = CreateFileW(name.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (!isNotFound(error)) return refusal(error);
        // Deleted since the caller looked: the player's doing, not ours to undo.
        if (expected != nullptr && expected->exists) return ReplaceOutcome::changedMeanwhile;
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(held, &info) != 0;
    if (known) identity = identityOfInfo(info);
    if (known && expected != nullptr && expected->contentHash != 0)
        identity.contentHash = heldContentHash(held, identity.size);
    std::optional<ReplaceOutcome> refused;
    // A rename must not replace what the user or the system made read-only.
    if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) refused = ReplaceOutcome::failed;
    // A read refused under the hold (another program locks a range of the file): busy, never
    // "content unknown", which the check below would let through.
    else if (expected != nullptr && expected->contentHash != 0 && identity.contentHash == 0) refused = ReplaceOutcome::busy;
    else if (expected != nullptr && !sameFile(identity, *expected)) refused = ReplaceOutcome::changedMeanwhile;
    if (refused) {
        CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    }
    return refused;
}

// The old file held again, checked once more -- from here to the replace nobody can write it,
// so this check is final -- then put aside and the temporary moved in.
ReplaceOutcome holdAndReplace(const OldFile& old, const FileIdentity* expected, const std::wstring& temporary,
                              const std::wstring& target) {
    HANDLE held = INVALID_HANDLE_VALUE;
    FileIdentity now;
    const std::optional<ReplaceOutcome> refused = holdChecked(target, expected, held, now);
    if (held != INVALID_HANDLE_VALUE) return renameAside(held, temporary, target, ours(asidePath(old.target)));
    if (!refused) return moveIntoFreeName(temporary, target, expected);  // gone meanwhile, no expectation
    DeleteFileW(temporary.c_str());
    return *refused;
}

}  // namespace

// [SECTION] The platform calls of fileAccessPlatform.h

FileIdentity identityOfOpenFile(std::FILE* file) { return identityOfHandle(handleOf(file)); }

bool queryFileIdentity(const char* path, FileIdentity& identity) noexcept {
    identity = FileIdentity{};
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return queryThroughLink(path, identity);
    identity.exists = true;
    identity.writeTime = fileTimeTicks(data.ftLastWriteTime);
    identity.size = static_cast<std::int64_t>((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
    return true;  // no file index from a path query: sameFile compares it only where both have one
}

std::string diskBytes(std::string_view content, bool binary) {
    std::string bytes;
    bytes.reserve(content.size() + content.size() / 16);  // a CR for each line of 16 bytes or more
    for (char c : content) {
        if (c == '\n' && !binary) bytes += '\r';
        bytes += c;
    }
    return bytes;
}

std::optional<ReplaceOutcome> takeOldFile(const std::string& path, const FileIdentity* expected, OldFile& old) {
    // Held for the check, then let go while the temporary is written and flushed (which can take
    // long on a slow disk: an editor's save is refused meanwhile), and held again at the end.
    const std::wstring name = widen(path, CP_ACP);
    HANDLE held = INVALID_HANDLE_VALUE;
    const std::optional<ReplaceOutcome> refused = holdChecked(name, expected, held, old.identity);
    if (held == INVALID_HANDLE_VALUE) {
        if (refused) return refused;
        old.target = utf8(fullPath(name));  // nothing there: a new file under the caller's name
        return std::nullopt;
    }
    const std::wstring real = finalPath(held);
    old.target = utf8(real.empty() ? fullPath(name) : real);
    CloseHandle(held);
    return refused;
}

std::FILE* openTemporary(OldFile& old) {
    HANDLE handle = CreateFileW(ours(temporaryPath(old.target)).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        old.temporaryRefusal = refusal(GetLastError());  // a scanner holding a leftover is busy, not broken
        return nullptr;
    }
    old.temporaryMade = true;
    const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
    std::FILE* file = descriptor == -1 ? nullptr : _fdopen(descriptor, "wb");
    if (file != nullptr) return file;
    if (descriptor == -1)
        CloseHandle(handle);
    else
        _close(descriptor);
    return nullptr;
}

void takePermissions(std::FILE*, const OldFile&) {}

bool stampAndFlush(std::FILE* temporary, const OldFile& old) { return stampAndFlushHandle(handleOf(temporary), old); }

void abandonReplace(OldFile& old) {
    if (old.temporaryMade) DeleteFileW(ours(temporaryPath(old.target)).c_str());
}

ReplaceOutcome putInPlace(OldFile& old, const FileIdentity* expected, const FileIdentity& made, FileIdentity* written) {
    const std::wstring target = ours(old.target), temporary = ours(temporaryPath(old.target));
    const ReplaceOutcome outcome = old.identity.exists ? holdAndReplace(old, expected, temporary, target)
                                                       : moveIntoFreeName(temporary, target, expected);
    if (outcome == ReplaceOutcome::written && written != nullptr) {
        *written = made;
        written->fileId = 0;  // FAT derives it from the directory entry, which the move changed
    }
    return outcome;
}

bool isLinkToNothing(const std::string& path) {
    const std::wstring name = widen(path, CP_ACP);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
        HANDLE handle = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        return handle == INVALID_HANDLE_VALUE && isNotFound(GetLastError());
    }
    if (!isNotFound(GetLastError())) return false;
    // Wine shows a POSIX link to nothing as no file at all, yet makes no file in its place (its
    // create is exclusive). The probe deletes itself on close: even a kill leaves nothing. It shares
    // nothing, so a Windows editor saving in that moment is refused ("in use") rather than deleted
    // with it; a native Linux program, which no share mode binds, could still lose a save made in
    // those few microseconds, and only where no Nubilo.ini was there to begin with.
    HANDLE probe = CreateFileW(name.c_str(), DELETE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return false;
    }
    return GetLastError() == ERROR_FILE_EXISTS && GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES;
}

ReplacePlace replacePlace(const std::string& path) {
    const std::wstring name = widen(path, CP_ACP);
    const std::wstring end = linkEnd(name);
    const std::wstring shown = withoutLongPrefix(end);
    const bool beside = CompareStringOrdinal(shown.c_str(), -1, fullPath(name).c_str(), -1, TRUE) == CSTR_EQUAL;
    return {utf8(end), beside ? path : utf8(shown)};
}

std::string platformName(const std::string& path) { return utf8(fullPath(widen(path, CP_ACP))); }

bool nameTaken(const std::string& name) {
    return GetFileAttributesW(ours(name).c_str()) != INVALID_FILE_ATTRIBUTES || !isNotFound(GetLastError());
}

bool isPlainFile(const std::string& name) {
    const DWORD attributes = GetFileAttributesW(ours(name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool moveToFreeName(const std::string& from, const std::string& to) {
    return MoveFileExW(ours(from).c_str(), ours(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeFile(const std::string& name) { return DeleteFileW(ours(name).c_str()) != 0; }
