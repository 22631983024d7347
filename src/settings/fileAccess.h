#pragma once
// The few file operations the plug-in needs, done so that no write can leave a torn file.

#include <cstdint>
#include <string>
#include <string_view>

// What the change poll and the compare-before-replace look at: last-write time and size. A save
// in progress may keep the time of its truncation, but not its size.
struct FileIdentity {
    bool exists = false;
    std::int64_t writeTime = 0;  // nanoseconds since 1970 (POSIX), FILETIME ticks (Windows)
    std::int64_t size = 0;
    // The inode (POSIX) or the file index (Windows): a file renamed into place is another file
    // even where the clock of the file system is too coarse to tell two writes apart. 0 where
    // the query gives none (a path query on Windows).
    std::uint64_t fileId = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The same file in the same state: both absent, or the same time and size, and the same file id
// where both readings carry one.
bool sameFile(const FileIdentity& a, const FileIdentity& b);

struct FileRead {
    bool opened = false;
    bool notFound = false;   // the open failed because nothing of that name is there
    bool readError = false;  // the read stopped before the end; what came before is kept
    FileIdentity identity;   // the opened file, taken before its first byte was read
};

// Reads a whole file. Text mode turns CR LF into '\n' on Windows; binary keeps every byte.
FileRead readWholeFile(const std::string& path, std::string& content, bool binary);

// True when the file exists and holds zero bytes.
bool isEmptyFile(const std::string& path);

// Replaces the file's whole content in one step: a temporary file beside it is written, flushed
// to disk and renamed over it, so a crash leaves the old or the new content. A symbolic link
// stays and its target is replaced. Where the rename is refused, the file is rewritten in place.
// The new content always gets a last-write time different from the old one, so the change is
// seen by the change poll even within one tick of the file system's clock.
// False when nothing was written; the old content is then untouched.
bool replaceFileContent(const std::string& path, std::string_view content, bool binary);

enum class ReplaceOutcome {
    written,
    changedMeanwhile,  // the file is no longer what the caller expected: nothing written
    busy,              // another program holds the file so that it cannot be held against
                       // writers (Windows): nothing written, try again later
    failed,            // nothing written; the old content is untouched
};

// The same, but only while the file is still what the caller based its decision on: the
// expectation is checked after the temporary is flushed, and no save made after that check is
// written over (POSIX: the old file is swapped out and looked at once more; Windows: the old
// file is held against writers from the check to the replace). `written`, when given, receives
// the identity of the new file.
ReplaceOutcome replaceFileContentIf(const std::string& path, std::string_view content, bool binary,
                                    const FileIdentity& expected, FileIdentity* written = nullptr);

// Existence and last-write time in one query on a path that is not rebuilt. False when the file
// is absent or cannot be queried.
bool queryWriteTime(const char* path, std::int64_t& writeTime) noexcept;

// Last-write time and size in that one query. False (and `exists` false) when the file is absent
// or cannot be queried.
bool queryFileIdentity(const char* path, FileIdentity& identity) noexcept;

// Where a replace was cut off between putting the old file aside and the new one in place (a
// crash; Windows only), puts the old file back under `path`. True when it did.
bool restoreInterruptedReplace(const std::string& path);
