// A Linux editor saving Nubilo.ini while the shipped Nubilo.asi rewrites its star, as under Proton:
// Wine's share modes bind Windows programs only. This program loads the plug-in beside the
// substitute host and runs passes two days apart (every pass after a reload is due, so the star
// is rewritten every other pass), while e2e/protonSaver.sh, started through Wine as a native Linux
// process, saves by rename and then in place and reads each save back. A save is lost when the
// file no longer holds its minutes. Under Wine only: elsewhere no Linux program can be started,
// and the test says so and is skipped.
//
//   nubiloWinProton PATH\TO\Nubilo.asi /unix/path/to/protonSaver.sh
//
// NUBILO_PROTON_SAVES (2000) and NUBILO_PROTON_SECONDS (120) bound each kind of save.
// Exit status 0 when no save was lost and the plug-in rewrote its star during each race; 77 when
// skipped.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "e2e/winSupport.h"
#include "substitute/substituteHost.h"
#include "tests/raceSupport.h"

namespace fs = std::filesystem;

namespace {

constexpr int skipped = 77;

SubstituteHost& host = substituteState();

using UnixName = char*(CDECL*)(const WCHAR*);
using DosName = WCHAR*(CDECL*)(const char*);

// Wine's own conversions between its Windows names and the Linux ones; null elsewhere.
UnixName unixNameOf() {
    return reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
}

std::string unixPath(const fs::path& path) {
    char* name = unixNameOf()(path.wstring().c_str());
    std::string result = name != nullptr ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

std::wstring dosPath(const char* path) {
    const auto convert = reinterpret_cast<DosName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    WCHAR* name = convert != nullptr ? convert(path) : nullptr;
    std::wstring result = name != nullptr ? name : L"";
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

std::wstring quoted(const std::string& text) { return L"\"" + fs::path(text).wstring() + L"\""; }

// The saver, a native process: Wine starts it without a handle to wait on, so it says it has
// ended by its report file.
bool startSaver(const std::string& script, const std::string& mode, long saves, long seconds) {
    std::wstring command = L"\"" + dosPath("/bin/sh") + L"\" " + quoted(script) + L" " + quoted(unixPath(fs::current_path())) +
                           L" " + quoted(mode) + L" " + std::to_wstring(saves) + L" " + std::to_wstring(seconds) +
                           L" " + quoted("saver-report");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    return true;
}

std::string readAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

long linesWith(const std::string& text, const std::string& part) {
    long count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

struct Race {
    long saves = 0, lost = 0, rewrites = 0, passes = 0;
    std::string losses;
    bool ended = false;
};

// An in-place save is empty between its truncation and its write. The loader waits two seconds
// for such a file to settle, which two days a pass would skip and no game does: the clock does
// not jump while the file is empty.
bool emptyNow() {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA("Nubilo.ini", GetFileExInfoStandard, &data) && data.nFileSizeLow == 0 &&
           data.nFileSizeHigh == 0;
}

// The game: the plug-in loaded over save 0, passes two days apart, until the saver's report is
// there (or long after it should be); then the plug-in's last job awaited and the plug-in unloaded.
void runGame(const fs::path& plugin, long seconds, Race& race) {
    substituteReset(1700000000);
    host.recordNatives = false;
    HMODULE module = LoadLibraryW(plugin.wstring().c_str());
    if (module == nullptr) return;
    redirectClock(module);
    watchJobs(module);
    substituteRunPasses(1);
    const ULONGLONG giveUp = GetTickCount64() + static_cast<ULONGLONG>(seconds + 120) * 1000;
    while (!(race.ended = fs::exists("saver-report")) && GetTickCount64() < giveUp) {
        if (!emptyNow()) host.clock += 2 * 86400;
        substituteRunPasses(1);
        ++race.passes;
        Sleep(1);
    }
    awaitJobs();
    substituteRunPasses(1);  // the last result taken
    FreeLibrary(module);
    for (int wait = 0; wait < 5000 && GetModuleHandleW(plugin.filename().wstring().c_str()) != nullptr; ++wait) Sleep(1);
}

// One kind of save against the plug-in, in a fresh folder.
bool runRace(const fs::path& plugin, const std::string& script, const std::string& mode, long saves, long seconds) {
    const fs::path folder = fs::current_path() / ("proton-" + mode + "-folder");
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    fs::current_path(folder);
    std::ofstream("Nubilo.ini", std::ios::binary) << saveText(0);
    Race race;
    if (!startSaver(script, mode, saves, seconds)) std::printf("  the Linux saver could not be started (error %lu)\n", GetLastError());
    else runGame(plugin, seconds, race);
    const std::string report = readAll("saver-report");
    int length = 0;
    race.ended = std::sscanf(report.c_str(), "%ld %ld%n", &race.saves, &race.lost, &length) == 2;
    if (race.ended) race.losses = report.substr(static_cast<std::size_t>(length));
    race.rewrites = linesWith(readAll("Weather.txt"), "Weather.ini updated.");
    std::printf("Linux saves %-8s %ld saves, %ld lost, %ld star rewrites, %ld passes\n",
                (mode == "rename" ? "by rename:" : "in place:"), race.saves, race.lost, race.rewrites, race.passes);
    if (!race.losses.empty()) std::printf("  %s", race.losses.c_str());
    const bool met = race.ended && race.saves > 0 && race.lost == 0 && race.rewrites > 0;
    if (!met) std::printf("  target missed: the saver's report, no save lost, the star rewritten during the race\n");
    std::fflush(stdout);
    fs::current_path(folder.parent_path());
    fs::remove_all(folder, ignored);
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: nubiloWinProton PATH\\TO\\Nubilo.asi /unix/path/to/protonSaver.sh\n");
        return 2;
    }
    if (unixNameOf() == nullptr || dosPath("/bin/sh").empty()) {
        std::printf("skipped: a native Linux saver runs beside the game only under Wine (Proton), not here\n");
        return skipped;
    }
    const long saves = envNumber("NUBILO_PROTON_SAVES", 2000);
    const long seconds = envNumber("NUBILO_PROTON_SECONDS", 120);
    std::printf("A Linux editor's saves against the shipped Nubilo.asi under Wine: at most %ld saves or %ld s each\n",
                saves, seconds);
    const fs::path plugin = fs::absolute(argv[1]);
    int missed = 0;
    for (const char* mode : {"rename", "inplace"})
        if (!runRace(plugin, argv[2], mode, saves, seconds)) ++missed;
    return missed == 0 ? 0 : 1;
}
