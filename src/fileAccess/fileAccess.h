#pragma once
// The few file operations the plug-in needs, done so that no write can leave a torn file. The
// calls each platform does its own way -- the change poll's query among them -- are in
// fileAccessPlatform.h.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
    // A hash of the bytes on disk where the reading had them (a load, a write, the check under
    // the hold on Windows); 0 where it had not (a path query). A save of the same size within one
    // tick of a coarse clock (FAT32 keeps 2-second steps) shows only here.
    std::uint64_t contentHash = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The same file in the same state: both absent, or the same time and size, and the same file id
// and content where both readings carry them.
bool sameFile(const FileIdentity& a, const FileIdentity& b);

// The hash FileIdentity keeps of a file's bytes; never 0.
std::uint64_t contentHashOf(std::string_view bytes);

struct FileRead {
    bool opened = false;
    bool notFound = false;   // the open failed because nothing of that name is there
    bool readError = false;  // the read stopped before the end; what came before is kept
    // There, but its bytes could not all be had: the open was refused (another program holds
    // the file -- on Windows a sharing or lock violation -- or access is denied) or the read
    // stopped early. Not for a missing file, a folder or a loop of links.
    bool inUse = false;
    FileIdentity identity;   // the opened file, taken before its first byte was read; its content
                             // hash is that of the bytes read
};

// Reads a whole file. Text gives back the lines a text-mode write put there (applyTextLineEnds; a
// Ctrl-Z is kept: the log may quote one from a settings line); binary keeps every byte.
FileRead readWholeFile(const std::string& path, std::string& content, bool binary);

// CR LF becomes '\n', a lone CR stays: a Windows text-mode write's line ends read back.
void applyTextLineEnds(std::string& bytes);

// What the Windows C runtime's text mode makes of bytes read from a file: a Ctrl-Z ends the
// text, and CR LF becomes '\n'. Done alike on every platform, so the plug-in, the tool and the
// designer page take the same text from the same bytes.
void applyTextMode(std::string& bytes);

// The names a replace makes beside the file it replaces (links followed): its temporary, and on
// Windows the old file put aside for a moment; and keptPath below, where the start keeps an aside
// file found alone. Names no player gives a file of his own; nothing else is ever made, renamed
// over or deleted.
std::string temporaryPath(const std::string& file);
std::string asidePath(const std::string& file);

// Replaces the file's whole content in one step: a temporary file beside it is written, flushed
// to disk and put in its place (POSIX: renamed over it; Windows: the old file renamed aside and
// the temporary moved into the free name), so a crash leaves the old or the new content. A symbolic link
// stays and its target is replaced. Where no temporary can be made or the rename is refused,
// nothing is written: the file is never rewritten in place, which a crash could tear.
// The new content always gets a last-write time different from the old one, so the change is
// seen by the change poll even within one tick of the file system's clock.
// False when nothing was written; the old content is then untouched.
bool replaceFileContent(const std::string& path, std::string_view content, bool binary);

enum class ReplaceOutcome {
    written,
    changedMeanwhile,  // the file is no longer what the caller expected: nothing written
    busy,              // another program holds the file (Windows: a sharing or lock violation,
                       // and only that): nothing written, try again later
    failed,            // nothing written; the old content is untouched
};

// The same, but only while the file is still what the caller based its decision on: the
// expectation is checked, content included where it carries a hash, and no save made after that
// check is written over (POSIX: the old file is swapped out and looked at once more; Windows: the
// old file is held against writers from before the temporary is made to the replace). `written`,
// when given, receives the identity of the new file; `kept`, the paths files in the replace's way
// were kept under beside it (Windows: a file at the aside name, or a save that came into the old
// file too late to go back).
ReplaceOutcome replaceFileContentIf(const std::string& path, std::string_view content, bool binary,
                                    const FileIdentity& expected, FileIdentity* written = nullptr,
                                    std::vector<std::string>* kept = nullptr);

enum class Recovery {
    nothing,   // no replace was cut off between its renames, and no aside file was alone
    restored,  // the old file was put back under its name
    kept,      // an aside file alone (no file, no temporary beside it) was kept under another name
    failed,    // the old file could not be put back: it stays aside, and so does the temporary
    notKept,   // the aside file alone could not be kept under another name: it stays aside
};

// What the start's recovery did, with every name as the log gives it: beside the caller's path
// where that is where the file is, else (a link's target) where the file really is.
struct RecoveryReport {
    Recovery outcome = Recovery::nothing;
    std::string aside;                    // the old file's aside name, looked at
    std::string keptAs;                   // kept: where it is now
    std::vector<std::string> removed;     // leftovers of ours removed, one by one
    std::vector<std::string> notRemoved;  // leftovers of ours whose removal was refused
};

// After a crash, at start-up, beside the file `path` leads to -- a link's target, read from the
// link itself where that target is missing. Where a replace was cut off between putting the old
// file aside and the new one in place (no file, the aside file and the temporary there), puts the
// old file back. An aside file alone beside a missing file may be the only copy (the temporary
// taken away by the player or a scanner): it is kept, never deleted -- as `keepAs`, or where that
// name is taken as a name of ours beside it (keptPath). Then removes what earlier replaces left:
// the temporary, and an aside file beside a file that is there (its replace had ended). Touches
// no other name.
RecoveryReport recoverInterruptedReplace(const std::string& path, const std::string& keepAs);

// The names a lone aside file is kept under when `keepAs` is taken, in turn: the first
// ".nubilo-kept", then ".nubilo-kept-2" up to keptNames. None free: it is not kept.
constexpr int keptNames = 9;
std::string keptPath(const std::string& file, int number);
