#pragma once
// The settings file "Nubilo.ini": its default writer and its loader.

#include <cstdint>
#include <string>
#include <vector>

#include "fileAccess/fileAccess.h"
#include "settings/catalogue.h"
#include "settings/settingsText.h"

extern const std::string settingsPath;

// The copy kept of a file the loader found unusable, before defaults replace it.
extern const std::string settingsBackupPath;

// The loader's lines on replacing an unusable file: the backup made, then the defaults written.
extern const char* const backupSavedMessage;
extern const char* const defaultsWrittenMessage;

// The line that says the file is there but could not be read, said by the loop that retries it.
extern const char* const inUseMessage;

// The line that says where a replace of `file` (a path the plug-in names) kept a file it found in
// its way, `keptAs` (a kept name beside the file, as the replace gives it): never deleted, and
// named without its folder, as the player sees it.
std::string keptFileLine(const std::string& file, const std::string& keptAs);

// Reads a settings file as the single-byte text the parser works on (settingsTextOf).
FileRead readSettingsFile(const std::string& path, std::string& text);

// Writes the default file over whatever is there.
void writeDefaultSettings();

// Writes the default file only while the settings file is still `expected` (absent, or the
// identity the caller read); false when nothing was written. A file the player saved since is
// left alone and nothing is logged: the change poll reloads it.
bool writeDefaultSettingsIf(const FileIdentity& expected, FileIdentity* written);

enum class UnusableFile {
    replace,  // back it up and write defaults: at start-up, or once it has settled
    defer,    // leave it and the state alone: while running it may be a save in progress; so is
              // a file whose last line has no line end
    keep,     // as replace, but a missing file is not written: the player's file is still aside
              // after a crash and could not be put back, so nothing may take its name

};

// What one load saw and did, for the main loop's change poll.
struct SettingsLoad {
    FileIdentity read;           // the file as the loader read it, taken before the read (or
                                 // as it stood when it could not be read); absent when not found
    FileIdentity written;        // the loader's own default file, when it wrote one
    bool wroteDefaults = false;
    bool deferred = false;       // an unusable or truncated-looking file left alone: the map
                                 // returned is empty
    bool inUse = false;          // there, but not wholly read (FileRead::inUse): nothing written
                                 // or logged, `read` absent; the map returned is the defaults
};

// Reads the settings file: returns every weather's minutes, appends the marked lines' indexes in
// file order and sets startIndex as the file says. Writes defaults when no file is usable; a file
// that is there but cannot be read is not missing, and nothing is written for it.
IntervalMap loadSettings(std::int32_t& startIndex, std::vector<std::int32_t>& markedIndexes);
IntervalMap loadSettings(std::int32_t& startIndex, std::vector<std::int32_t>& markedIndexes, UnusableFile unusable,
                         SettingsLoad& load);
