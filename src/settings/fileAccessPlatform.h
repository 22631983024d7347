#pragma once
// What the one-step replace of fileAccess.cpp asks of the platform. fileAccessPosix.cpp and
// fileAccessWindows.cpp each implement every call; CMake builds the one that fits.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "settings/fileAccess.h"

// The file a replace is about to put new content in place of.
struct OldFile {
    FileIdentity identity;   // absent when nothing is there
    std::uint32_t mode = 0;  // POSIX permission and type bits, kept for the new file; 0 on Windows
};

// The identity of an open stream's file, whatever its path holds now; absent when it cannot be had.
FileIdentity identityOfOpenFile(std::FILE* file);

// The file at `target` (no link followed: the caller resolved links), with its file id.
OldFile inspectOldFile(const std::string& target);

// Whether the old file is one the user lets us rewrite: a regular file, writable. A rename must
// not replace what the user or the system made read-only.
bool mayReplace(const std::string& target, const OldFile& old);

// Gives the freshly opened temporary the old file's permissions, where the platform has them.
void takePermissions(std::FILE* temporary, const OldFile& old);

// Stamps the written temporary with a last-write time later than the old file's, even when the
// clock gives the same tick, and flushes its content to the disk. False when the flush failed.
bool stampAndFlush(std::FILE* temporary, const OldFile& old);

// Puts the flushed temporary (identity `made`) in place of `target`, but only while `target` is
// still `expected` (no expectation: whatever it is), so that no save made after the check is
// written over. Removes the temporary whatever the outcome, unless it is what `target` now names.
// `busy`: another program holds the file so that it cannot be held against writers; nothing
// written, try again later.
ReplaceOutcome putInPlace(const std::string& temporary, const std::string& target, std::string_view content,
                          bool binary, const OldFile& old, const FileIdentity* expected, const FileIdentity& made,
                          FileIdentity* written);

// Rewrites `target` in place, for when no temporary can be made beside it, under the same check.
ReplaceOutcome rewriteInPlace(const std::string& target, std::string_view content, bool binary, const OldFile& old,
                              const FileIdentity* expected, FileIdentity* written);
