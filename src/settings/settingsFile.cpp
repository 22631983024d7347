#include "settings/settingsFile.h"

#include "fileAccess/fileAccessPlatform.h"
#include "log/log.h"
#include "settings/settingsText.h"

const std::string settingsPath = "Nubilo.ini";
const std::string settingsBackupPath = settingsPath + ".bak";  // defined after settingsPath, so made after it
const char* const backupSavedMessage = "[Nubilo] Unusable Weather.ini saved as Nubilo.ini.bak before writing defaults.";
const char* const defaultsWrittenMessage = "[Nubilo] Default Weather.ini written.";
const char* const inUseMessage = "[Nubilo] ERROR: Weather.ini is in use by another program or cannot be read; trying again.";

namespace {

constexpr const char* backupFailed =
    "[Nubilo] ERROR: Could not save unusable Weather.ini as Nubilo.ini.bak; defaults not written.";
constexpr const char* linkToNothing =
    "[Nubilo] ERROR: Weather.ini is a link to a missing file; the link is kept, defaults not written.";

// A replace over the file expected that says where it kept a file found in its way.
ReplaceOutcome replaceSaying(const std::string& path, std::string_view content, bool binary,
                             const FileIdentity& expected, FileIdentity* written) {
    std::vector<std::string> kept;
    const ReplaceOutcome outcome = replaceFileContentIf(path, content, binary, expected, written, &kept);
    for (const std::string& keptAs : kept) writeLog(keptFileLine(path, keptAs));
    return outcome;
}

// The default file, only over the file expected when there is an expectation.
ReplaceOutcome writeDefaultsFile(const FileIdentity* expected, FileIdentity* written) {
    const std::string text = canonicalSettingsText(defaultIntervals(), weatherCatalogue, defaultStartIndex);
    if (expected != nullptr) return replaceSaying(settingsPath, text, false, *expected, written);
    return replaceFileContent(settingsPath, text, false) ? ReplaceOutcome::written : ReplaceOutcome::failed;
}

bool logDefaults(ReplaceOutcome outcome) {
    switch (outcome) {
        case ReplaceOutcome::written: writeLog(defaultsWrittenMessage); return true;
        case ReplaceOutcome::changedMeanwhile: return false;  // the player's save: the poll reloads it
        case ReplaceOutcome::busy:  // held by another program: as good as refused
        case ReplaceOutcome::failed: break;
    }
    writeLog("[Nubilo] ERROR: Could not write default Weather.ini");
    return false;
}

bool writeDefaults(const FileIdentity* expected, FileIdentity* written) {
    // The player's link stays: defaults would replace it (Windows) or appear where it points.
    if (isLinkToNothing(settingsPath)) {
        writeLog(linkToNothing);
        return false;
    }
    return logDefaults(writeDefaultsFile(expected, written));
}

// A file that is there but gives nothing usable is the user's work: keep a copy before the
// defaults go over it, and leave it alone when no copy can be made. Both writes happen only while
// the file is still the one judged unusable; a backup the player changed meanwhile is kept too.
void backUpThenWriteDefaults(const FileIdentity& judged, SettingsLoad& load) {
    // The backup there now, kept to be put back should the player save before the defaults go in.
    std::string earlier;
    const FileRead earlierRead = readWholeFile(settingsBackupPath, earlier, true);
    FileIdentity backupBefore;
    queryFileIdentity(settingsBackupPath.c_str(), backupBefore);
    std::string bytes;
    FileRead read = readWholeFile(settingsPath, bytes, true);
    if (read.opened && !read.readError && !sameFile(read.identity, judged)) return;  // saved again since: reload it
    FileIdentity backup;
    if (!read.opened || read.readError ||
        replaceSaying(settingsBackupPath, bytes, true, backupBefore, &backup) != ReplaceOutcome::written) {
        writeLog(backupFailed);
        return;
    }
    const ReplaceOutcome defaults = writeDefaultsFile(&judged, &load.written);
    load.wroteDefaults = defaults == ReplaceOutcome::written;
    FileIdentity now;
    queryFileIdentity(settingsPath.c_str(), now);
    bool backupStands = true;
    if (!load.wroteDefaults && !sameFile(now, judged) && earlierRead.opened && !earlierRead.readError &&
        sameFile(earlierRead.identity, backupBefore))
        // The player saved meanwhile: the unusable file is theirs to replace, the earlier backup stays.
        backupStands = replaceSaying(settingsBackupPath, earlier, true, backup, nullptr) != ReplaceOutcome::written;
    // Said only while true: a backup taken back again is no news for the player.
    if (backupStands) writeLog(backupSavedMessage);
    logDefaults(defaults);
}

}  // namespace

std::string keptFileLine(const std::string& file, const std::string& keptAs) {
    const std::string name = keptAs.substr(keptAs.find_last_of("\\/") + 1);
    return "[Nubilo] A file at " + asidePath(file) + ", perhaps your latest save, is kept as " + name + ".";
}

FileRead readSettingsFile(const std::string& path, std::string& text) {
    std::string bytes;
    FileRead read = readWholeFile(path, bytes, true);
    text = settingsTextOf(bytes);
    return read;
}

bool writeDefaultSettingsIf(const FileIdentity& expected, FileIdentity* written) { return writeDefaults(&expected, written); }

void writeDefaultSettings() { writeDefaults(nullptr, nullptr); }

IntervalMap loadSettings(std::int32_t& startIndex, std::vector<std::int32_t>& markedIndexes, UnusableFile unusable,
                         SettingsLoad& load) {
    load = SettingsLoad{};
    std::string text;
    const FileRead file = readSettingsFile(settingsPath, text);
    if (file.inUse) {
        // Held by another program, or refused us: not missing. Nothing is written over what could
        // not be read, and nothing of it is remembered, so the caller loads it once it can.
        load.inUse = true;
        startIndex = defaultStartIndex;
        return defaultIntervals();
    }
    load.read = file.identity;
    if (!file.opened) {
        writeLog("[Nubilo] Weather.ini not found, using defaults.");
        if (file.notFound && unusable != UnusableFile::keep) {
            load.wroteDefaults = writeDefaultSettingsIf(FileIdentity{}, &load.written);
        } else if (!file.notFound) {
            // There, but no file that opens (a folder, a loop of links): nothing is written over
            // it. Its identity keeps the poll from reloading it pass after pass.
            writeLog("[Nubilo] ERROR: Could not write default Weather.ini");
            queryFileIdentity(settingsPath.c_str(), load.read);
        }
        startIndex = defaultStartIndex;
        return defaultIntervals();
    }
    LoadReport report = readSettingsText(text, startIndex);
    // Nothing usable, or a last line without its line end: what an editor's save looks like
    // between its truncation and its last write. The loop keeps its state until the file settles.
    const bool looksTruncated = !text.empty() && text.back() != '\n';
    if (unusable == UnusableFile::defer && (report.outcome == LoadOutcome::noUsableLine || looksTruncated)) {
        load.deferred = true;
        return {};
    }
    for (const std::string& message : report.messages) writeLog(message);
    if (report.outcome == LoadOutcome::noUsableLine) {
        if (file.identity.exists && file.identity.size == 0)
            load.wroteDefaults = writeDefaultSettingsIf(file.identity, &load.written);
        else
            backUpThenWriteDefaults(file.identity, load);
    }
    startIndex = report.read.startIndex;
    markedIndexes.insert(markedIndexes.end(), report.read.markedIndexes.begin(), report.read.markedIndexes.end());
    return std::move(report.read.intervals);
}

IntervalMap loadSettings(std::int32_t& startIndex, std::vector<std::int32_t>& markedIndexes) {
    SettingsLoad load;
    return loadSettings(startIndex, markedIndexes, UnusableFile::replace, load);
}
