// The one-step replace on Windows. The old file is held, from before the temporary is made to
// the replace, by a handle that denies writers and deletion: an editor's save then fails with a
// sharing violation (the editor says so and keeps its text) instead of landing in a file about to
// be replaced, no program can rename or delete it away meanwhile, and the check made through that
// handle -- time, size, file index and content -- is final. The temporary is held too, with
// delete access, from its making to its move-in: a scanner can open it only sharing deletion, and
// so cannot stop the move. The held file is then renamed aside to a name of our own (never over
// anything), the held temporary moved by its handle into the free name (refused if an editor made
// a file there meanwhile, which then stays; under Wine linked in, see moveIn) and the old file
// deleted. A crash in the gap leaves the old file aside and the temporary beside it;
// recoverInterruptedReplace puts the old file back at the next start. (A POSIX rename over the
// held file would need the hold to share deletion, and then a save made by renaming the old file
// away could be written over.)
// Under Wine (Proton) share modes bind Windows programs only, and a rename by handle goes by the
// file's name: a Linux editor can save into the held file or rename a save onto its name. So each
// move is looked at afterwards, as the Linux build looks again after its swap: the aside name must
// hold the held file, and the old file the content the check accepted; otherwise the player's file
// goes back and ours goes. An old file is deleted only while it holds what the check accepted.
// No road rewrites the file in place, which a crash could tear. A file that cannot be held --
// another program reads it without sharing deletion, or writes it -- is busy; a busy replace keeps
// its written temporary for the next try.
// Every name is a full path in the real file's folder: links are followed through the handle.
//
// Index of this file:
// [SECTION] Identities and time stamps
// [SECTION] Names: code pages and full paths
// [SECTION] Links: where a path leads
// [SECTION] Refusals and attributes
// [SECTION] The held file: its content, its rename, its deletion, what a name holds
// [SECTION] The temporary: held from its making, kept across busy tries
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
#include <optional>
#include <string>
#include <utility>
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

// One of our own names, in UTF-8, as the wide calls take it.
std::wstring widenUtf8(const std::string& name) { return widen(name, CP_UTF8); }

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

// What a refused call's error code says, told here once: nothing at the name, the name taken,
// another program's hold on the file (the only refusal worth a quick retry), access denied (a
// failure, but where a deleted file pins a name or a scanner looks at our new file, a hold too:
// its callers say where), or any other failure.
enum class Refused { notFound, nameTaken, busy, denied, failed };

Refused refusedAs(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return Refused::notFound;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS: return Refused::nameTaken;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return Refused::busy;
        case ERROR_ACCESS_DENIED: return Refused::denied;
        default: return Refused::failed;
    }
}

bool isNotFound(DWORD error) { return refusedAs(error) == Refused::notFound; }

bool isNameTaken(DWORD error) { return refusedAs(error) == Refused::nameTaken; }

// A replace refused: busy for another program's hold, else failed.
ReplaceOutcome refusal(DWORD error) {
    return refusedAs(error) == Refused::busy ? ReplaceOutcome::busy : ReplaceOutcome::failed;
}

// The temporary's move-in refused once the old file could be put aside in the same folder: a
// scanner at our new file (some answer "access denied" while they look), so busy too.
ReplaceOutcome moveInRefusal(DWORD error) {
    return refusedAs(error) == Refused::denied ? ReplaceOutcome::busy : refusal(error);
}

bool isRegularFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// What the player set on the file that the new one keeps: hidden and system. (Read-only refuses
// the replace; links, other streams and permissions stay with the old file: see the player README.)
std::uint32_t attributesToKeep(HANDLE held) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(held, &info)) return 0;
    return info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

// [SECTION] The held file: its content, its rename, its deletion, what a name holds

// The hash of the held file's bytes, read through the handle from its start (its size, as last
// seen, sizes the buffer); 0 when the read fails.
std::uint64_t heldContentHash(HANDLE handle, std::int64_t size) {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) return 0;
    bool failed = false;
    std::string bytes;
    readToEnd(bytes, size, [handle, &failed](char* to, std::size_t room) -> std::size_t {
        DWORD got = 0;
        const auto asked = static_cast<DWORD>(room < MAXDWORD ? room : MAXDWORD);
        failed = ReadFile(handle, to, asked, &got, nullptr) == 0;
        return failed ? 0 : got;
    });
    return failed ? 0 : contentHashOf(bytes);
}

// The bytes the handle's file holds now.
std::uint64_t contentHashNow(HANDLE handle) {
    const FileIdentity now = identityOfHandle(handle);
    return heldContentHash(handle, now.exists ? now.size : -1);
}

// Renames the open file (opened with DELETE access) to a full path; over a file there only where
// `replace` says so.
bool renameHandle(HANDLE handle, const std::wstring& name, bool replace = false) {
    const std::size_t bytes = sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(bytes, 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
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

// Wine (Proton) checks a name and renames into it in two steps, with no share mode binding the
// Linux programs beside it.
bool underWine() {
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

bool sameIndex(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// What a name holds, seen through a fresh open: the file `handle` is open on, another (or none),
// or unknown (the open or the query refused).
enum class At { same, other, unknown };

At fileAt(const std::wstring& name, HANDLE handle) {
    HANDLE fresh = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (fresh == INVALID_HANDLE_VALUE) return isNotFound(GetLastError()) ? At::other : At::unknown;
    BY_HANDLE_FILE_INFORMATION there, ours;
    const bool known = GetFileInformationByHandle(fresh, &there) && GetFileInformationByHandle(handle, &ours);
    CloseHandle(fresh);
    return !known ? At::unknown : sameIndex(there, ours) ? At::same : At::other;
}

// [SECTION] The temporary: held from its making, kept across busy tries

// A temporary a busy replace left written, for the next try to take up instead of writing a new
// one, which a scanner would look at all over again. One at a time: the replaces run one at a
// time (the star's job off the fibre, or the loader on it while no job runs).
struct KeptTemporary {
    std::string target;       // the real file it is for
    FileIdentity made;        // as written: time, size, file index and the bytes' hash
    FileIdentity forOld;      // the old file it was stamped later than
    std::uint32_t attributes;  // the old file's that it was given
};
std::optional<KeptTemporary> keptTemporary;

// A deleted file another program still has open keeps its name, and Windows answers "access
// denied" for it, where a folder we may not write in answers "not found" for a free name.
bool namePinnedByDeletedFile(const std::wstring& name) {
    return GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES && refusedAs(GetLastError()) == Refused::denied;
}

// Always a new file, never one written into: a name of ours already taken (a leftover, or under
// Wine the temporary's name still linked to Nubilo.ini until another program lets go of it) is
// deleted first. Deleted, yet kept by another program's open handle, it is busy.
HANDLE createTemporary(const std::wstring& name, DWORD attributes) {
    const auto create = [&] {
        return CreateFileW(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE, FILE_SHARE_READ, nullptr,
                           CREATE_NEW, attributes, nullptr);
    };
    HANDLE handle = create();
    const DWORD error = GetLastError();
    if (handle == INVALID_HANDLE_VALUE && refusedAs(error) == Refused::denied && namePinnedByDeletedFile(name)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    if (handle != INVALID_HANDLE_VALUE || !isNameTaken(error)) return handle;
    if (!isRegularFile(name)) {
        SetLastError(error);  // a folder, say: not ours to clear
        return INVALID_HANDLE_VALUE;
    }
    if (!DeleteFileW(name.c_str())) return INVALID_HANDLE_VALUE;
    handle = create();
    if (handle == INVALID_HANDLE_VALUE) SetLastError(ERROR_SHARING_VIOLATION);
    return handle;
}

// Whatever temporary a busy try left, removed (when that is no longer the replace to come).
void dropKeptTemporary() {
    if (const std::optional<KeptTemporary> kept = std::exchange(keptTemporary, std::nullopt))
        DeleteFileW(widenUtf8(temporaryPath(kept->target)).c_str());
}

// What becomes of the temporary when a replace ends: it is the file now (only the handle goes),
// removed, kept for the next try, or left as it is (marking a gap for the next start to put right).
enum class Fate { movedIn, removed, kept, left };

struct Ending {
    ReplaceOutcome outcome;
    Fate temporary;
};

// A refusal's ending: a busy replace keeps its temporary for the next try.
Ending refusedWith(ReplaceOutcome outcome) { return {outcome, outcome == ReplaceOutcome::busy ? Fate::kept : Fate::removed}; }

void endTemporary(OldFile& old, Fate fate, const FileIdentity& made) {
    HANDLE handle = std::exchange(old.heldTemporary, nullptr);
    const bool deleted = fate == Fate::removed && handle != nullptr && deleteOnClose(handle);
    if (handle != nullptr) CloseHandle(handle);
    if (fate == Fate::removed && !deleted && old.temporaryMade)
        DeleteFileW(widenUtf8(temporaryPath(old.target)).c_str());
    if (fate == Fate::kept) keptTemporary = KeptTemporary{old.target, made, old.identity, old.mode};
}

// [SECTION] The replace's moves

// A file that is still there under the aside name is no deleted leftover: a way back that was
// refused may have left the player's own file there. It is never deleted: it moves to the first
// free kept name beside the file (never over anything), which the step's line names; false where
// none is free.
bool keepFileAtAside(const std::wstring& aside, OldFile& old) {
    for (int number = 1; number <= keptNames; ++number) {
        std::string kept = keptPath(old.target, number);  // made first: nothing may throw once it moved
        if (MoveFileExW(aside.c_str(), widenUtf8(kept).c_str(), MOVEFILE_WRITE_THROUGH)) {
            old.kept.push_back(std::move(kept));
            return true;
        }
    }
    return false;
}

// The same for the held file, by its handle: a save that came into it too late to go back under
// the file's name.
bool keepHeldFile(HANDLE held, OldFile& old) {
    for (int number = 1; number <= keptNames; ++number) {
        std::string kept = keptPath(old.target, number);
        if (renameHandle(held, widenUtf8(kept))) {
            old.kept.push_back(std::move(kept));
            return true;
        }
    }
    return false;
}

// Puts the held file aside. An earlier old file of ours may still hold the name: deleted, but
// kept while some reader has it open (FAT, exFAT and network shares free a deleted file's name
// only then, and answer "access denied" for it meanwhile); a name still pinned is busy, since the
// reader lets go sooner or later. A file still there is kept beside. Only a folder or a read-only
// file there, which stay, refuse the replace.
DWORD renameAsideOnce(HANDLE held, const std::wstring& aside, OldFile& old) {
    if (renameHandle(held, aside)) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    if (!isNameTaken(error) && refusedAs(error) != Refused::denied) return error;
    const DWORD attributes = GetFileAttributesW(aside.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return error;
    if (attributes != INVALID_FILE_ATTRIBUTES && !keepFileAtAside(aside, old)) return error;
    return renameHandle(held, aside) ? ERROR_SUCCESS : ERROR_SHARING_VIOLATION;
}

// The held temporary into the free name, replacing nothing. Windows checks the name and renames
// in one step, by the handle. Wine checks, then renames by the file's name, so a Linux program's
// save renamed onto Nubilo.ini in between would be replaced; a hard link is refused on a taken
// name in one step. So under Wine the temporary is linked in and its own name dropped, and ours is
// held again through the file's name, where it is checked to be ours (a crash in between leaves
// the new file under both names, which the next start tidies). Where links are refused (FAT), it
// is renamed.
DWORD moveIn(OldFile& old, const std::wstring& target) {
    HANDLE temporary = static_cast<HANDLE>(old.heldTemporary);
    const bool linked =
        underWine() && CreateHardLinkW(target.c_str(), widenUtf8(temporaryPath(old.target)).c_str(), nullptr);
    if (!linked) {
        const DWORD linkError = underWine() ? GetLastError() : ERROR_NOT_SUPPORTED;
        if (isNameTaken(linkError)) return linkError;
        return renameHandle(temporary, target) ? ERROR_SUCCESS : GetLastError();
    }
    // The temporary's own name goes at once (nothing else holds the file: Wine deletes a name when
    // the file's last handle closes), then ours is held again under the file's name if there.
    BY_HANDLE_FILE_INFORMATION made{};
    GetFileInformationByHandle(temporary, &made);
    deleteOnClose(temporary);
    CloseHandle(temporary);
    HANDLE again = CreateFileW(target.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION there;
    if (again != INVALID_HANDLE_VALUE && !(GetFileInformationByHandle(again, &there) && sameIndex(there, made)))
        CloseHandle(std::exchange(again, INVALID_HANDLE_VALUE));  // a newer save came at once: ours is gone
    old.heldTemporary = again == INVALID_HANDLE_VALUE ? nullptr : again;
    return ERROR_SUCCESS;
}

// Ours put in the player's file's place is taken back and theirs returned, since their save went
// into the old file (a program no share mode binds: a Linux editor under Wine). Each move is
// looked at: under Wine a rename by handle goes by the file's name, and a save renamed onto
// Nubilo.ini meanwhile would be what moves. Whatever is newer than their file stays where it is.
Ending putTheirsBack(OldFile& old, HANDLE held, const std::wstring& target) {
    HANDLE temporary = static_cast<HANDLE>(old.heldTemporary);
    const std::wstring temporaryName = widenUtf8(temporaryPath(old.target));
    // Under Wine the temporary's name may still link to ours (another program kept it open), and a
    // rename onto a second name of the same file does nothing.
    const bool oursOut = fileAt(target, temporary) == At::same && !isRegularFile(temporaryName) &&
                         renameHandle(temporary, temporaryName);
    const At moved = oursOut ? fileAt(temporaryName, temporary) : At::unknown;
    if (oursOut && moved != At::same) MoveFileExW(temporaryName.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    // Theirs back only into the name ours left; else kept beside under a name of ours and said,
    // since a start takes a file at the aside name for a finished replace's leftover.
    if (moved == At::same) renameHandle(held, target);
    else keepHeldFile(held, old);
    CloseHandle(held);
    return {ReplaceOutcome::changedMeanwhile, moved == At::same ? Fate::removed : Fate::left};
}

// The old file put aside, the temporary in: the old file goes only while it holds the content the
// check accepted. A program that wrote into it since (one no share mode binds) gets it back.
Ending endMovedIn(OldFile& old, HANDLE held, std::uint64_t accepted, const std::wstring& target) {
    if (contentHashNow(held) != accepted) return putTheirsBack(old, held, target);
    deleteOnClose(held);
    CloseHandle(held);
    return {ReplaceOutcome::written, Fate::movedIn};
}

// The move-in refused. A file made at the name meanwhile is the player's newest: it stays, and so
// does the old file if it no longer holds what was accepted. Otherwise the old file goes back
// first: until then the temporary beside it marks the gap for a restore, so should the way back
// be refused too, both stay for the next start to put right.
Ending refusedMoveIn(HANDLE held, std::uint64_t accepted, const std::wstring& target, DWORD error) {
    if (isNameTaken(error)) {
        if (contentHashNow(held) == accepted) deleteOnClose(held);
        CloseHandle(held);
        return {ReplaceOutcome::changedMeanwhile, Fate::removed};
    }
    const bool back = renameHandle(held, target);
    CloseHandle(held);
    if (!back) return {moveInRefusal(error), Fate::left};
    return refusedWith(moveInRefusal(error));
}

// The held file renamed aside, confirmed there, and the held temporary moved into the free name
// by its handle, replacing nothing. Under Wine a Linux program's save renamed onto Nubilo.ini
// after the hold is what a rename by handle moves (it goes by name): that file, not ours, then
// stands aside, and goes back.
Ending replaceHeld(OldFile& old, HANDLE held, std::uint64_t accepted, const std::wstring& target) {
    const std::wstring aside = widenUtf8(asidePath(old.target));
    if (const DWORD error = renameAsideOnce(held, aside, old); error != ERROR_SUCCESS) {
        CloseHandle(held);
        return refusedWith(refusal(error));
    }
    const At there = fileAt(aside, held);
    if (there != At::same) {
        // Another file: back under its name, replacing nothing. Unknown: ours, back by its handle.
        if (there == At::other) MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
        const bool back = there == At::other || renameHandle(held, target);
        CloseHandle(held);
        if (there == At::other) return {ReplaceOutcome::changedMeanwhile, Fate::removed};
        return {ReplaceOutcome::busy, back ? Fate::kept : Fate::left};
    }
    if (const DWORD error = moveIn(old, target); error != ERROR_SUCCESS) return refusedMoveIn(held, accepted, target, error);
    return endMovedIn(old, held, accepted, target);
}

// Nothing was there to hold: a move that replaces nothing (unless nothing was expected), so a file
// the player made meanwhile stays.
Ending moveIntoFreeName(OldFile& old, const std::wstring& target, const FileIdentity* expected) {
    const DWORD error = expected != nullptr                                                  ? moveIn(old, target)
                        : renameHandle(static_cast<HANDLE>(old.heldTemporary), target, true) ? ERROR_SUCCESS
                                                                                             : GetLastError();
    if (error == ERROR_SUCCESS) return {ReplaceOutcome::written, Fate::movedIn};
    if (isNameTaken(error)) return {ReplaceOutcome::changedMeanwhile, Fate::removed};
    return refusedWith(moveInRefusal(error));
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

// The old file held again, checked once more -- from here to the replace no Windows program can
// write it, so this check is final for them -- then put aside and the temporary moved in. Its
// content as accepted here is what the aside file must still hold when it is deleted; unread, the
// file is busy.
Ending holdAndReplace(OldFile& old, const FileIdentity* expected, const std::wstring& target) {
    HANDLE held = INVALID_HANDLE_VALUE;
    FileIdentity now;
    const std::optional<ReplaceOutcome> refused = holdChecked(target, expected, held, now);
    if (held == INVALID_HANDLE_VALUE) {
        if (!refused) return moveIntoFreeName(old, target, expected);  // gone meanwhile, no expectation
        return refusedWith(*refused);
    }
    const std::uint64_t accepted = now.contentHash != 0 ? now.contentHash : heldContentHash(held, now.size);
    if (accepted == 0) {
        CloseHandle(held);
        return refusedWith(ReplaceOutcome::busy);
    }
    return replaceHeld(old, held, accepted, target);
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

std::optional<ReplaceOutcome> checkOldFile(const std::string& path, const FileIdentity* expected, OldFile& old) {
    // Held for the check, then let go while the temporary is written and flushed (which can take
    // long on a slow disk: an editor's save is refused meanwhile), and held again at the end.
    const std::wstring name = widen(path, CP_ACP);
    HANDLE held = INVALID_HANDLE_VALUE;
    const std::optional<ReplaceOutcome> refused = holdChecked(name, expected, held, old.identity);
    // A temporary kept for this replace waits while the file is busy; otherwise it is of no more use.
    if (refused && *refused != ReplaceOutcome::busy) dropKeptTemporary();
    if (held == INVALID_HANDLE_VALUE) {
        if (refused) return refused;
        old.target = utf8(fullPath(name));  // nothing there: a new file under the caller's name
        return std::nullopt;
    }
    const std::wstring real = finalPath(held);
    old.target = utf8(real.empty() ? fullPath(name) : real);
    old.mode = attributesToKeep(held);
    CloseHandle(held);
    return refused;
}

bool reuseTemporary(OldFile& old, const std::string& bytes, FileIdentity& made) {
    if (!keptTemporary) return false;
    const std::wstring name = widenUtf8(temporaryPath(keptTemporary->target));
    if (keptTemporary->target != old.target || keptTemporary->made.contentHash != contentHashOf(bytes) ||
        !sameFile(keptTemporary->forOld, old.identity) || keptTemporary->attributes != old.mode) {
        dropKeptTemporary();  // made for another file, or other bytes
        return false;
    }
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    // Held by another program: kept, and the new one that openTemporary then tries is refused
    // alike (busy) unless the holder has let go.
    if (handle == INVALID_HANDLE_VALUE) {
        if (refusedAs(GetLastError()) != Refused::busy) keptTemporary.reset();
        return false;
    }
    FileIdentity now = identityOfHandle(handle);
    now.contentHash = heldContentHash(handle, now.size);
    // Another program's change (one no share mode binds can make one): never ours to move in.
    if (!sameFile(now, keptTemporary->made) || now.fileId != keptTemporary->made.fileId) {
        CloseHandle(handle);
        keptTemporary.reset();
        return false;  // openTemporary makes it anew
    }
    made = std::exchange(keptTemporary, std::nullopt)->made;
    old.heldTemporary = handle;
    old.temporaryMade = true;
    return true;
}

std::FILE* openTemporary(OldFile& old) {
    const DWORD attributes = old.mode != 0 ? old.mode : FILE_ATTRIBUTE_NORMAL;
    HANDLE handle = createTemporary(widenUtf8(temporaryPath(old.target)), attributes);
    if (handle == INVALID_HANDLE_VALUE) {
        old.temporaryRefusal = refusal(GetLastError());  // a scanner holding a leftover is busy, not broken
        return nullptr;
    }
    old.temporaryMade = true;
    keptTemporary.reset();  // any kept under this name is written over
    // Our hold outlives the stream's handle, which fclose closes.
    HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, handle, process, &old.heldTemporary, 0, FALSE, DUPLICATE_SAME_ACCESS))
        old.heldTemporary = nullptr;
    const int descriptor =
        old.heldTemporary == nullptr ? -1 : _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
    std::FILE* file = descriptor == -1 ? nullptr : _fdopen(descriptor, "wb");
    if (file != nullptr) return file;
    if (descriptor == -1)
        CloseHandle(handle);
    else
        _close(descriptor);
    return nullptr;
}

void copyPermissions(std::FILE*, const OldFile&) {}  // the attributes kept are given at the making

bool stampAndFlush(std::FILE* temporary, const OldFile& old) { return stampAndFlushHandle(handleOf(temporary), old); }

void abandonReplace(OldFile& old) { endTemporary(old, Fate::removed, FileIdentity{}); }

ReplaceOutcome putInPlace(OldFile& old, const FileIdentity* expected, const FileIdentity& made, FileIdentity* written) {
    const std::wstring target = widenUtf8(old.target);
    const Ending ending = old.identity.exists ? holdAndReplace(old, expected, target) : moveIntoFreeName(old, target, expected);
    endTemporary(old, ending.temporary, made);
    if (ending.outcome == ReplaceOutcome::written && written != nullptr) {
        *written = made;
        written->fileId = 0;  // FAT derives it from the directory entry, which the move changed
    }
    return ending.outcome;
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
    return isNameTaken(GetLastError()) && GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES;
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
    return GetFileAttributesW(widenUtf8(name).c_str()) != INVALID_FILE_ATTRIBUTES || !isNotFound(GetLastError());
}

bool isPlainFile(const std::string& name) {
    const DWORD attributes = GetFileAttributesW(widenUtf8(name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool moveToFreeName(const std::string& from, const std::string& to) {
    return MoveFileExW(widenUtf8(from).c_str(), widenUtf8(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeFile(const std::string& name) { return DeleteFileW(widenUtf8(name).c_str()) != 0; }
