#pragma once
// Every call the platform does its own way, with its contract: fileAccessPosix.cpp and
// fileAccessWindows.cpp each implement them all, and nothing else outside their own file; CMake
// builds the one that fits. First the two the rest of the plug-in calls, then what the one-step
// replace and the start's recovery of fileAccess.cpp ask of the platform, and last the one read
// loop fileAccess.cpp gives both platforms.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fileAccess/fileAccess.h"

// For the whole plug-in.

// Last-write time and size in that one query (of a symbolic link's target, as the loader sees
// it). False (and `exists` false) when the file is absent or cannot be queried.
bool queryFileIdentity(const char* path, FileIdentity& identity) noexcept;

// A symbolic link (or a chain of them) whose target is missing: a write there would replace the
// link (Windows) or make a file where it points, out of the player's sight. Windows: also a POSIX
// link under Wine, which shows as no file at all but refuses a file made in its place.
bool isLinkToNothing(const std::string& path);

// The one-step replace.

// The file a replace is about to put new content in place of.
struct OldFile {
    std::string target;      // the real file, links followed: the temporary goes beside it
                             // (Windows: a full path, UTF-8)
    FileIdentity identity;   // absent when nothing is there
    std::uint32_t mode = 0;  // kept for the new file: POSIX permission and type bits; Windows: the
                             // hidden and system attributes
    bool temporaryMade = false;
    void* heldTemporary = nullptr;  // Windows: the temporary's handle, held with delete access from
                                    // its creation to its move-in
    ReplaceOutcome temporaryRefusal = ReplaceOutcome::failed;  // why no temporary could be made
    std::vector<std::string> kept;  // Windows: where a file found at the aside name, or a save that
                                    // could not go back under the file's name, was kept beside
};

// The identity of an open stream's file, whatever its path holds now; absent when it cannot be had.
FileIdentity identityOfOpenFile(std::FILE* file);

// The bytes a text-mode write of `content` puts on disk (Windows: '\n' becomes CR LF).
std::string diskBytes(std::string_view content, bool binary);

// Finds the file a replace of `path` puts new content in place of and checks it against the
// expectation (none: whatever is there). It must be a regular file the user lets us write, and
// on Windows one we can hold against writers and, where the expectation has content, read
// through the hold (else busy): so no temporary is made for a file that cannot be replaced.
// Empty to go on; otherwise the outcome that ends the replace, with nothing made.
std::optional<ReplaceOutcome> checkOldFile(const std::string& path, const FileIdentity* expected, OldFile& old);

// Takes up the temporary an earlier replace of the same old file left written with these very
// bytes, after checking that it is still that file with that content (Windows keeps one across
// the tries of a busy replace, so a scanner that looks at every new file has nothing new to look
// at); `made` receives its identity. False: none to take up, write one.
bool reuseTemporary(OldFile& old, const std::string& bytes, FileIdentity& made);

// Creates the temporary beside the old file, for writing bytes (a leftover of our own there is
// emptied; on Windows deleted first, so the temporary is always a new file); null when it cannot
// be made, with the reason in old.temporaryRefusal. On Windows it is held, with delete access and
// sharing reading only, until putInPlace or abandonReplace ends the replace: another program can
// open it only sharing deletion, and so cannot stop its move-in.
std::FILE* openTemporary(OldFile& old);

// Gives the freshly opened temporary the old file's permissions, where the platform has them.
void copyPermissions(std::FILE* temporary, const OldFile& old);

// Stamps the written temporary with a last-write time later than the old file's, even when the
// clock gives the same tick, and flushes its content to the disk. False when the flush failed.
bool stampAndFlush(std::FILE* temporary, const OldFile& old);

// Puts the flushed temporary (identity `made`) in place of the old file, but only while it is
// still `expected` (no expectation: whatever it is), so that no save made after the check is
// written over (Windows: the old file held again and checked, content included, from then to the
// replace, and looked at again after each move, for programs no share mode binds). Ends the
// replace: the temporary is removed unless it is what the file's name now names, or (Windows) kept
// for the next try of a busy replace, or left to mark a gap that the next start puts right.
ReplaceOutcome putInPlace(OldFile& old, const FileIdentity* expected, const FileIdentity& made, FileIdentity* written);

// Ends a replace that stops before putInPlace: the temporary removed.
void abandonReplace(OldFile& old);

// The start's recovery. Its names are in the platform's own form (Windows: full paths in UTF-8).

// Where a replace of `path` keeps the file and its names beside it: the end of its chain of
// links, read from the links themselves where the target is missing; `path` itself where it is
// no link. `shown` names it for the log: `path` where the file is where `path` says, else the
// target (Windows: its full path).
struct ReplacePlace {
    std::string target;
    std::string shown;
};
ReplacePlace replacePlace(const std::string& path);

// A caller's name (Windows: in the ANSI code page, maybe relative) in the platform's form.
std::string platformName(const std::string& path);

// Something is there under the name, a link to nothing included; or it cannot be told.
bool nameTaken(const std::string& name);

// A file of ours to move or delete: no folder, no link.
bool isPlainFile(const std::string& name);

// Renames a file to a name nothing holds, never over anything, durably where the platform says so.
bool moveToFreeName(const std::string& from, const std::string& to);

bool removeFile(const std::string& name);

// Given to the platforms by fileAccess.cpp.

// Reads to the end straight into `bytes`: no big buffer on the script fibre's stack. Sized from
// `size`, the file's size where known (-1 where not), plus one byte so that the first read already
// meets the end; a size of 2 GiB or more (or none) is not trusted for one allocation: 4 KiB,
// doubled as the bytes come. `read` puts up to `room` bytes at `to` and says how many; 0 ends the
// reading -- the end, or an error its caller keeps track of (what came before is kept).
using ReadSome = std::function<std::size_t(char* to, std::size_t room)>;
void readToEnd(std::string& bytes, std::int64_t size, const ReadSome& read);
