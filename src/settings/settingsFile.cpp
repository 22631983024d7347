#include "settings/settingsFile.h"

#include <exception>

#include "log/log.h"
#include "settings/fileAccess.h"
#include "settings/settingsText.h"

const std::string settingsPath = "Nubilo.ini";
const std::string settingsBackupPath = "Nubilo.ini.bak";

namespace {

// A file that is there but gives nothing usable is the user's work: keep a copy before the
// defaults go over it, and leave it alone when no copy can be made.
void backUpThenWriteDefaults() {
    std::string bytes;
    FileRead read = readWholeFile(settingsPath, bytes, true);
    if (!read.opened || read.readError || !replaceFileContent(settingsBackupPath, bytes, true)) {
        writeLog("[Nubilo] ERROR: Could not save unusable Weather.ini as Nubilo.ini.bak; defaults not written.");
        return;
    }
    writeLog("[Nubilo] Unusable Weather.ini saved as Nubilo.ini.bak before writing defaults.");
    writeDefaultSettings();
}

}  // namespace

void writeDefaultSettings() {
    if (!replaceFileContent(settingsPath, canonicalSettingsText(defaultIntervals(), weatherCatalogue, defaultStartIndex),
                            false)) {
        writeLog("[Nubilo] ERROR: Could not write default Weather.ini");
        return;
    }
    writeLog("[Nubilo] Default Weather.ini written.");
}

IntervalMap loadSettings(std::int32_t& startIndex, std::vector<std::int32_t>& markedIndexes) {
    std::string text;
    FileRead file = readWholeFile(settingsPath, text, false);
    if (!file.opened) {
        writeLog("[Nubilo] Weather.ini not found, using defaults.");
        if (file.notFound)
            writeDefaultSettings();
        else
            backUpThenWriteDefaults();  // there, but locked or unreadable
        startIndex = defaultStartIndex;
        return defaultIntervals();
    }
    LoadReport report = readSettingsText(text, startIndex);
    for (const std::string& message : report.messages) writeLog(message);
    if (report.outcome == LoadOutcome::noUsableLine) {
        if (isEmptyFile(settingsPath))
            writeDefaultSettings();
        else
            backUpThenWriteDefaults();
    }
    startIndex = report.read.startIndex;
    markedIndexes.insert(markedIndexes.end(), report.read.markedIndexes.begin(), report.read.markedIndexes.end());
    return std::move(report.read.intervals);
}
