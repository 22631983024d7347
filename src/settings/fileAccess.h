#pragma once
// The few file operations the plug-in needs, done so that no write can leave a torn file.

#include <cstdint>
#include <string>
#include <string_view>

struct FileRead {
    bool opened = false;
    bool notFound = false;   // the open failed because nothing of that name is there
    bool readError = false;  // the read stopped before the end; what came before is kept
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

// Existence and last-write time in one query on a path that is not rebuilt. False when the file
// is absent or cannot be queried.
bool queryWriteTime(const char* path, std::int64_t& writeTime) noexcept;
