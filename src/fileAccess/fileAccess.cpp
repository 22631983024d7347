#include "fileAccess/fileAccess.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "fileAccess/fileAccessPlatform.h"

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    if (a.exists != b.exists) return false;
    if (!a.exists) return true;
    // A path query gives no file id and no content: compare each only where both readings have it.
    // Where both have the content, the same bytes, time and size are the same settings whatever the
    // file id (FAT gives a file a new one when it is renamed aside and back).
    const bool idsKnown = a.fileId != 0 && b.fileId != 0;
    const bool contentKnown = a.contentHash != 0 && b.contentHash != 0;
    return a.writeTime == b.writeTime && a.size == b.size &&
           (contentKnown ? a.contentHash == b.contentHash : !idsKnown || a.fileId == b.fileId);
}

std::uint64_t contentHashOf(std::string_view bytes) {
    // FNV-1a, 64 bits: it tells an edited file from the one read before; nobody forges saves here.
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a's 64-bit offset basis
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;  // FNV-1a's 64-bit prime
    }
    return hash == 0 ? 1 : hash;
}

namespace {

// A folder is no file in use: its reads are refused for good.
bool isFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

}  // namespace

FileRead readWholeFile(const std::string& path, std::string& content, bool binary) {
    FileRead result;
    content.clear();
    errno = 0;
    // Always the bytes on disk, so that their hash matches what a check of the file reads.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        const int error = errno;
        result.notFound = error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG;
        result.inUse = !result.notFound && error != ELOOP && !isFolder(path);
        return result;
    }
    result.opened = true;
    // Before the first byte: a save that lands during the read then shows as a change later.
    result.identity = identityOfOpenFile(file);
    readToEnd(content, result.identity.exists ? result.identity.size : -1, [file](char* to, std::size_t room) {
        // A short read sets the end or the error, and either ends the reading.
        return std::feof(file) != 0 || std::ferror(file) != 0 ? 0 : std::fread(to, 1, room, file);
    });
    result.readError = std::ferror(file) != 0;
    std::fclose(file);
    result.inUse = result.readError && !isFolder(path);
    if (result.identity.exists) result.identity.contentHash = contentHashOf(content);
    if (!binary) applyTextLineEnds(content);
    return result;
}

void readToEnd(std::string& bytes, std::int64_t size, const ReadSome& read) {
    bytes.resize(size >= 0 && size < (std::int64_t{1} << 31) ? static_cast<std::size_t>(size) + 1 : 4096);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) bytes.resize(bytes.size() * 2);
        const std::size_t got = read(bytes.data() + used, bytes.size() - used);
        if (got == 0) break;
        used += got;
    }
    bytes.resize(used);
}

void applyTextLineEnds(std::string& bytes) {
    std::size_t kept = 0;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n') continue;
        bytes[kept++] = bytes[at];
    }
    bytes.resize(kept);
}

void applyTextMode(std::string& bytes) {
    const std::size_t end = bytes.find('\x1A');
    if (end != std::string::npos) bytes.resize(end);
    applyTextLineEnds(bytes);
}

std::string temporaryPath(const std::string& file) { return file + ".nubilo-tmp"; }

std::string asidePath(const std::string& file) { return file + ".nubilo-old"; }

std::string keptPath(const std::string& file, int number) {
    std::string name = file + ".nubilo-kept";
    if (number > 1) name.append("-").append(std::to_string(number));
    return name;
}

namespace {

// Writes the bytes to a new temporary and flushes them; empty to go on, with `made` its identity.
std::optional<ReplaceOutcome> writeTemporary(OldFile& old, const std::string& bytes, FileIdentity& made) {
    std::FILE* file = openTemporary(old);
    if (file == nullptr) {
        abandonReplace(old);
        return old.temporaryRefusal;
    }
    copyPermissions(file, old);
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
    ok = stampAndFlush(file, old) && ok;
    made = identityOfOpenFile(file);
    made.contentHash = contentHashOf(bytes);
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        // A short write (a full disk, say) must not cost the old content.
        abandonReplace(old);
        return ReplaceOutcome::failed;
    }
    return std::nullopt;
}

// The old file found (and on Windows held) first, then a temporary beside it written and flushed
// (or the one a busy try left, taken up), then put in place by the platform's own checked replace.
ReplaceOutcome replace(const std::string& path, std::string_view content, bool binary, const FileIdentity* expected,
                       FileIdentity* written, std::vector<std::string>* kept) {
    OldFile old;
    if (const std::optional<ReplaceOutcome> refused = checkOldFile(path, expected, old)) return *refused;
    const std::string bytes = diskBytes(content, binary);
    FileIdentity made;
    if (!reuseTemporary(old, bytes, made))
        if (const std::optional<ReplaceOutcome> unwritten = writeTemporary(old, bytes, made)) return *unwritten;
    const ReplaceOutcome outcome = putInPlace(old, expected, made, written);
    if (kept != nullptr) *kept = std::move(old.kept);
    return outcome;
}

// A leftover of ours goes, and the report says so either way.
void removeLeftover(const std::string& name, const std::string& shown, RecoveryReport& report) {
    if (!isPlainFile(name)) return;
    (removeFile(name) ? report.removed : report.notRemoved).push_back(shown);
}

// An aside file alone: under the caller's name for it where that is free, else under the first
// free name of ours beside it. Never over anything: an earlier backup is a copy of its own.
bool keepLoneAside(const std::string& aside, const ReplacePlace& place, const std::string& keepAs,
                   RecoveryReport& report) {
    if (moveToFreeName(aside, platformName(keepAs))) {
        report.keptAs = keepAs;
        return true;
    }
    for (int number = 1; number <= keptNames; ++number) {
        if (moveToFreeName(aside, keptPath(place.target, number))) {
            report.keptAs = keptPath(place.shown, number);
            return true;
        }
    }
    return false;
}

}  // namespace

RecoveryReport recoverInterruptedReplace(const std::string& path, const std::string& keepAs) {
    RecoveryReport report;
    const ReplacePlace place = replacePlace(path);
    const std::string aside = asidePath(place.target), temporary = temporaryPath(place.target);
    report.aside = asidePath(place.shown);
    if (!nameTaken(place.target) && isPlainFile(aside)) {
        if (isPlainFile(temporary))
            // Both beside a missing file: a replace cut off between its renames. The old file goes
            // back; should that fail, both stay for the next start to try again.
            report.outcome = moveToFreeName(aside, place.target) ? Recovery::restored : Recovery::failed;
        else
            report.outcome = keepLoneAside(aside, place, keepAs, report) ? Recovery::kept : Recovery::notKept;
        if (report.outcome == Recovery::failed || report.outcome == Recovery::notKept) return report;
    }
    // An aside file may be the only copy of the player's file, and the temporary beside it marks
    // the pair: both go only beside a file that is there, or where no aside file waits (a name
    // that cannot be looked at, a share's hiccup, is neither).
    if (!isPlainFile(place.target) && isPlainFile(aside)) return report;
    removeLeftover(temporary, temporaryPath(place.shown), report);
    removeLeftover(aside, report.aside, report);
    return report;
}

bool replaceFileContent(const std::string& path, std::string_view content, bool binary) {
    return replace(path, content, binary, nullptr, nullptr, nullptr) == ReplaceOutcome::written;
}

ReplaceOutcome replaceFileContentIf(const std::string& path, std::string_view content, bool binary,
                                    const FileIdentity& expected, FileIdentity* written,
                                    std::vector<std::string>* kept) {
    return replace(path, content, binary, &expected, written, kept);
}
