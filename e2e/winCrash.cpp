// A game killed at any moment of the shipped Nubilo.asi's rewrite of Nubilo.ini loses nothing. This
// program starts itself again as "child", which loads the plug-in and runs passes two days apart,
// so the star is rewritten every other pass on the plug-in's thread. Step kills: the child ends
// itself as the K-th file call the plug-in makes from the due pass on returns, K = 1, 2, ... until
// a rewrite finishes, with a reader holding the file without sharing deletion (nothing may be
// written then), and with a scanner at the temporary (the child's own hooks: each new temporary
// opened sharing deletion for 150 ms, opened without sharing it, and its first move-in refused
// with "access denied", so the step is busy once and tried again on the kept temporary), and
// free again on the road the plug-in takes on Windows (Wine hidden from it: the temporary renamed
// in by its handle, where under Wine it is linked in). Random
// kills: the parent kills the child after a random pause, one round in four with that reader and
// one in four with the scanner.
// After each kill Nubilo.ini is the player's bytes or a canonical text, or absent with the plug-in's
// aside file whole, and the player's own files are untouched; at the next start (the plug-in loaded
// here) it holds the player's minutes and nothing is left over. NUBILO_WIN_CRASH_SECONDS: the random
// kills' time (120). NUBILO_CRASH_NO_RESTORE=1: the next start cannot move the aside file back;
// the losses are counted, and there must be some.
//
// Index
//   the player's files and the texts a rewrite may leave
//   the child: the plug-in loaded, its file calls counted (afterFileCall, fileHooks), the kill
//   the parent: one round (runChildRound), the checks after a kill and after the next start
//   the sweeps: step kills, random kills; main and the tally
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "e2e/importHooks.h"
#include "e2e/winSupport.h"
#include "settings/catalogue.h"
#include "settings/settingsText.h"
#include "substitute/substituteHost.h"
#include "tests/raceSupport.h"

namespace fs = std::filesystem;

namespace {

// The plug-in's own names beside the file it replaces: its temporary, and the old file put aside
// between the two renames of a replace.
constexpr const char* pluginTemporarySuffix = ".nubilo-tmp";
constexpr const char* pluginAsideSuffix = ".nubilo-old";

const std::string settingsName = "Nubilo.ini";
const std::string temporaryName = settingsName + pluginTemporarySuffix;
const std::string asideName = settingsName + pluginAsideSuffix;
// Names a player may well give copies of their own; none of them the plug-in's to touch.
const char* const playerFiles[] = {"Nubilo.ini.old", "Nubilo.ini.tmp", "Nubilo.ini.bak"};

constexpr DWORD randomKillCode = 9;
constexpr DWORD stepKillCode = 99;
constexpr long maxSteps = 400;

SubstituteHost& host = substituteState();

std::string withCrLf(const std::string& text) {
    std::string crlf;
    for (char c : text) crlf.append(c == '\n' ? "\r\n" : std::string(1, c));
    return crlf;
}

// The player's minutes, none of them the default 30; the star on Fog.
const std::int32_t playerMinutes[] = {12, 7, 45, 3, 20, 90, 14, 25, 60, 5};

IntervalMap playerIntervals() {
    IntervalMap intervals;
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i) intervals[weatherCatalogue[i].displayName] = playerMinutes[i];
    return intervals;
}

// Not the plug-in's layout: comments, blank lines, a section of the player's own, and longer than
// any text the plug-in writes, so that a rewrite cut short in place shows.
std::string playerText() {
    return withCrLf(
        "; Nubilo settings, tuned by hand for long rides on horseback.\n"
        "; Short storms, long clear skies; keep a copy before editing this file.\n"
        "; The mark after a number says where the cycle stands; the plug-in moves it.\n\n[Settings]\n"
        "Set Rain Time = 12 ; a short shower\nSet Thunder Time = 7\n\n"
        "Set Cloudy Time = 45 ; overcast afternoons\nSet Dust Storms Time = 3\nSet Fog Time = 20*\n"
        "Set Clear Time = 90 ; the long one\nSet Snow Time = 14\nSet Wind Time = 25\nSet Snowlight Time = 60\n"
        "Set Blizzard Time = 5 ; brief, thankfully\n\n[Notes]\n"
        "Written by a player, not by the plug-in: every line of it matters to them.\n"
        "Favourite = Snowlight at dawn, then Fog over the river\n");
}

std::string playerFileBytes(const char* name) {
    return std::string("Kept by the player as ") + name + "\r\nnot the plug-in's to touch.\r\n";
}

// What a whole Nubilo.ini holds: the player's text, or the plug-in's with their minutes, any star.
std::set<std::string> wholeTexts() {
    std::set<std::string> texts{playerText()};
    for (std::int32_t star = 0; star < static_cast<std::int32_t>(weatherCatalogue.size()); ++star)
        texts.insert(withCrLf(canonicalSettingsText(playerIntervals(), weatherCatalogue, star)));
    return texts;
}

bool readBytes(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<bool>(in);
}

void writeBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

void prepareFolder() {
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::current_path(), ignored))
        fs::remove_all(entry.path(), ignored);
    writeBytes(settingsName, playerText());
    for (const char* name : playerFiles) writeBytes(name, playerFileBytes(name));
}

// The child. Every file call the plug-in makes is counted from the due pass on, and the K-th
// ends the process as it returns.
std::atomic<bool> counting{false}, jobEnded{false};
std::atomic<long> fileCalls{0};
long killAtCall = 0;               // 0: never (random kills)
const char* callNames[256];

// The scanner: each new temporary looked at for 150 ms through a handle that shares deletion (let
// go by a thread; a kill ends it with the game), an open without sharing deletion tried, and the
// moves in of the try that made it refused.
bool scanning = false;
std::atomic<HANDLE> scannerLook{nullptr};
std::atomic<ULONGLONG> scannerLetsGoAt{0};
std::atomic<DWORD> refusingThread{0};

// The plug-in asked whether it runs under Wine is told no: it takes the Windows road.
bool hidingWine = false;
FARPROC(WINAPI* realGetProcAddress)(HMODULE, LPCSTR) = nullptr;

FARPROC WINAPI answeredProcAddress(HMODULE module, LPCSTR name) {
    if (hidingWine && reinterpret_cast<std::uintptr_t>(name) > 0xFFFF && std::string(name) == "wine_get_version")
        return nullptr;
    return realGetProcAddress(module, name);
}

void afterFileCall(const char* name) {
    if (!counting.load()) return;
    const long call = ++fileCalls;
    if (call < 256) callNames[call] = name;
    if (call == killAtCall) TerminateProcess(GetCurrentProcess(), stepKillCode);
}

BOOL(WINAPI* realSetInformation)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) = nullptr;
HANDLE(WINAPI* realCreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = nullptr;
BOOL(WINAPI* realCreateHardLinkW)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES) = nullptr;

bool endsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

HANDLE WINAPI scannedCreate(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                            DWORD flags, HANDLE templateFile) {
    HANDLE file = realCreateFileW(name, access, share, security, disposition, flags, templateFile);
    if (scanning && file != INVALID_HANDLE_VALUE && endsWith(name, L".nubilo-tmp") &&
        (disposition == CREATE_ALWAYS || disposition == CREATE_NEW)) {
        const DWORD lookShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
        HANDLE rude = realCreateFileW(name, GENERIC_READ, lookShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (rude != INVALID_HANDLE_VALUE) CloseHandle(rude);  // held by the plug-in with delete access: refused
        HANDLE look = realCreateFileW(name, GENERIC_READ, lookShare | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        scannerLetsGoAt = GetTickCount64() + 150;
        if (look != INVALID_HANDLE_VALUE) CloseHandle(scannerLook.exchange(look));
        refusingThread = GetCurrentThreadId();
    }
    afterFileCall("CreateFileW");
    return file;
}

DWORD WINAPI scannerLetsGo(void*) {
    for (;;) {
        Sleep(5);
        if (scannerLook.load() != nullptr && GetTickCount64() >= scannerLetsGoAt) CloseHandle(scannerLook.exchange(nullptr));
    }
}

// The scanner refuses the moves in (a rename of the temporary's handle, or under Wine a link of it)
// of the try that made the temporary.
bool refusedByScanner() { return scanning && refusingThread == GetCurrentThreadId(); }

BOOL WINAPI scannedLink(LPCWSTR name, LPCWSTR existing, LPSECURITY_ATTRIBUTES security) {
    const bool refused = refusedByScanner() && endsWith(existing, L".nubilo-tmp");
    const BOOL ok = refused ? FALSE : realCreateHardLinkW(name, existing, security);
    if (refused) SetLastError(ERROR_ACCESS_DENIED);
    afterFileCall("CreateHardLinkW");
    return ok;
}

bool isMoveIn(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind) {
    wchar_t path[MAX_PATH] = {};
    return kind == FileRenameInfo && GetFinalPathNameByHandleW(file, path, MAX_PATH, 0) < MAX_PATH &&
           endsWith(path, L".nubilo-tmp");
}

// Named by what it does: the rename aside, the delete (classic, or POSIX where there is).
BOOL WINAPI setInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    const bool refused = refusedByScanner() && isMoveIn(file, kind);
    const BOOL ok = refused ? FALSE : realSetInformation(file, kind, info, size);
    if (refused) SetLastError(ERROR_ACCESS_DENIED);
    afterFileCall(kind == FileRenameInfo                    ? "SetFileInformationByHandle(rename)"
                  : kind == FileDispositionInfo             ? "SetFileInformationByHandle(delete)"
                  : static_cast<int>(kind) == 21 /* Ex */   ? "SetFileInformationByHandle(deleteEx)"
                                                            : "SetFileInformationByHandle");
    return ok;
}

// Not counted: the plug-in's job thread ends here, which tells a step child that the rewrite's
// work is over, whatever became of it.
void(WINAPI* realFreeAndExit)(HMODULE, DWORD) = nullptr;

void WINAPI jobThreadEnds(HMODULE module, DWORD code) {
    jobEnded = true;
    realFreeAndExit(module, code);
}

// The file calls a replace may make, from kernel32 and the C library; those not imported stay unused.
std::vector<Hook> fileHooks() {
    return {COUNTED(CreateFileA), COUNTED(WriteFile), COUNTED(SetEndOfFile),
            COUNTED(FlushFileBuffers), COUNTED(SetFileTime), COUNTED(MoveFileExA), COUNTED(MoveFileExW),
            COUNTED(ReplaceFileW), COUNTED(DeleteFileA), COUNTED(DeleteFileW), COUNTED(CloseHandle),
            COUNTED(GetFileInformationByHandle), COUNTED(GetFileInformationByHandleEx),
            COUNTED(GetFinalPathNameByHandleW), COUNTED(fopen), COUNTED(_wfopen), COUNTED(fwrite), COUNTED(fflush),
            COUNTED(fclose), COUNTED(_get_osfhandle), COUNTED(remove), COUNTED(_wremove), COUNTED(rename),
            COUNTED(_wrename),
            {"SetFileInformationByHandle", reinterpret_cast<void*>(&setInformation),
             reinterpret_cast<void**>(&realSetInformation)},
            {"CreateFileW", reinterpret_cast<void*>(&scannedCreate), reinterpret_cast<void**>(&realCreateFileW)},
            {"CreateHardLinkW", reinterpret_cast<void*>(&scannedLink), reinterpret_cast<void**>(&realCreateHardLinkW)},
            {"GetProcAddress", reinterpret_cast<void*>(&answeredProcAddress), reinterpret_cast<void**>(&realGetProcAddress)},
            {"FreeLibraryAndExitThread", reinterpret_cast<void*>(&jobThreadEnds),
             reinterpret_cast<void**>(&realFreeAndExit)}};
}

// A step child after its due pass: the pass after the job thread's end takes the result (with
// the scanner, a busy step is tried again, up to three times, each try a due pass of its own);
// then the report to the parent, "calls updated name...".
int finishStepChild() {
    std::string log;
    bool updated = false;
    for (int tries = 0; tries < 3 && !updated; ++tries) {
        if (tries > 0) {
            jobEnded = false;
            host.clock += 2 * 86400;
            substituteRunPasses(1);
        }
        for (int wait = 0; wait < 5000 && !jobEnded; ++wait) Sleep(1);
        substituteRunPasses(1);
        updated = readBytes("Weather.txt", log) && log.find("Weather.ini updated.") != std::string::npos;
        if (!scanning) break;
    }
    counting = false;
    char head[64];
    std::snprintf(head, sizeof head, "%ld %d", fileCalls.load(), updated);
    std::string report = head;
    for (long call = 1; call <= fileCalls && call < 256; ++call) report.append(" ").append(callNames[call]);
    std::printf("%s\n", report.c_str());
    return jobEnded ? 0 : 3;
}

// The game: the plug-in loaded over the player's file, then passes two days apart: every pass
// after a reload is due.
int runChild(const fs::path& plugin, long killAt, bool scanner, bool windowsRoad) {
    scanning = scanner;
    hidingWine = windowsRoad;
    if (scanner) CloseHandle(CreateThread(nullptr, 0, scannerLetsGo, nullptr, 0, nullptr));
    substituteReset(1700000000);
    host.recordNatives = false;
    HMODULE module = LoadLibraryW(plugin.wstring().c_str());
    if (module == nullptr) return 4;
    redirectClock(module);
    redirectMonotonic(module);  // two days a pass on both clocks: a busy step's pause is over by the next
    afterCountedCall = afterFileCall;
    patchImports(module, fileHooks());
    killAtCall = killAt;
    substituteRunPasses(1);  // start-up: the player's file is loaded
    std::printf("!");
    std::fflush(stdout);
    counting = true;
    for (;;) {
        host.clock += 2 * 86400;
        substituteRunPasses(1);
        if (killAt > 0) return finishStepChild();
    }
}

// The parent.
struct Setup {
    fs::path self, plugin;
    bool noRestore = false;  // the control: the next start cannot put the aside file back
};

struct Tally {
    long random = 0, stepwise = 0, inTheGap = 0;  // inTheGap: kills between the plug-in's two renames
    long lost = 0, torn = 0, touched = 0, leftovers = 0, writtenWhileHeld = 0, failures = 0;
    long faults() const { return lost + torn + touched + leftovers + writtenWhileHeld + failures; }
};

// Counts faults and shows the first few of each kind.
void fault(long& counter, const std::string& what, long count = 1) {
    if (counter < 3) std::printf("  %s\n", what.c_str());
    counter += count;
}

bool createChild(std::string command, HANDLE output, PROCESS_INFORMATION& process) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    // Wine under load has refused a start now and then (error 1359): only the plug-in may fail this.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
            return true;
        std::printf("  child start refused (error %lu), trying again\n", GetLastError());
        Sleep(200);
    }
    return false;
}

struct ChildEnd {
    bool started = false;  // it said so: the player's file is loaded
    DWORD status = 1;
    std::string report;  // a step child's, when it finished
};

// One child, start to end; pauseMillis >= 0 kills it that long after its start, as a random kill.
ChildEnd runChildRound(const Setup& setup, long killAt, long pauseMillis, bool scanner, bool windowsRoad) {
    ChildEnd end;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return end;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string command = "\"";
    command.append(setup.self.string()).append("\" child \"").append(setup.plugin.string()).append("\" ");
    command.append(std::to_string(killAt)).append(scanner ? " 1" : " 0").append(windowsRoad ? " 1" : " 0");
    PROCESS_INFORMATION child{};
    const bool created = createChild(command, writeEnd, child);
    CloseHandle(writeEnd);
    char buffer[4096];
    DWORD got = 0;
    end.started = created && ReadFile(readEnd, buffer, 1, &got, nullptr) && got == 1 && buffer[0] == '!';
    if (end.started && pauseMillis >= 0) {
        Sleep(static_cast<DWORD>(pauseMillis));
        TerminateProcess(child.hProcess, randomKillCode);
    }
    while (end.started && ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) end.report.append(buffer, got);
    if (created) {
        WaitForSingleObject(child.hProcess, INFINITE);
        GetExitCodeProcess(child.hProcess, &end.status);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
    CloseHandle(readEnd);
    return end;
}

struct Round {
    std::string name;
    bool held = false;  // a reader holds Nubilo.ini without sharing deletion: nothing may be written
    bool scanner = false;      // the child's scanner at each new temporary
    bool windowsRoad = false;  // the plug-in told it does not run under Wine
    std::set<std::string> touched;
};

void checkPlayerFiles(Round& round) {
    for (const char* name : playerFiles) {
        std::string bytes;
        if (!readBytes(name, bytes) || bytes != playerFileBytes(name)) round.touched.insert(name);
    }
}

// What the player finds after the kill: a whole Nubilo.ini, or none with the plug-in's aside file
// whole (killed between its two renames); their own files as they left them. A held file is held
// before any temporary is made, so no temporary is there.
void checkAfterKill(Round& round, Tally& tally) {
    static const std::set<std::string> whole = wholeTexts();
    std::string bytes;
    if (readBytes(settingsName, bytes)) {
        if (whole.count(bytes) == 0)
            fault(tally.torn, round.name + ": Nubilo.ini torn (" + std::to_string(bytes.size()) + " bytes)");
        else if (round.held && (bytes != playerText() || fs::exists(temporaryName)))
            fault(tally.writtenWhileHeld, round.name + ": Nubilo.ini or a temporary written while a reader held it");
    } else if (!round.held && readBytes(asideName, bytes) && whole.count(bytes) != 0) {
        ++tally.inTheGap;
    } else {
        fault(tally.torn, round.name + ": Nubilo.ini gone and no whole " + asideName);
    }
    checkPlayerFiles(round);
}

// The next start of the game: the plug-in loaded here, two passes, unloaded. The control holds the
// aside file without sharing deletion, so that no move can take it back to Nubilo.ini.
bool nextStart(const Setup& setup) {
    HANDLE pin = setup.noRestore ? CreateFileA(asideName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr)
                                 : INVALID_HANDLE_VALUE;
    substituteReset(1700000000);
    host.recordNatives = false;
    HMODULE module = LoadLibraryW(setup.plugin.wstring().c_str());
    if (module != nullptr) {
        redirectClock(module);
        substituteRunPasses(2);
        FreeLibrary(module);
        // A job thread of the plug-in's would keep it loaded until it ends.
        for (int wait = 0; wait < 5000 && GetModuleHandleW(setup.plugin.filename().wstring().c_str()); ++wait) Sleep(1);
    }
    if (pin != INVALID_HANDLE_VALUE) CloseHandle(pin);
    return module != nullptr;
}

std::string namesLeftOver() {
    static const std::set<std::string> expected{settingsName, "Weather.txt", playerFiles[0], playerFiles[1], playerFiles[2]};
    std::string left;
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::current_path(), ignored)) {
        const std::string name = entry.path().filename().string();
        if (expected.count(name) == 0) left.append(" ").append(name);
    }
    return left;
}

// After the next start: the player's minutes, no defaults, nothing of the plug-in's left over.
void checkAfterStart(Round& round, Tally& tally) {
    std::string text, log;
    const bool present = readBytes(settingsName, text);
    readBytes("Weather.txt", log);
    std::erase(text, '\r');
    const bool defaults = log.find("[Nubilo] Default Weather.ini written.") != std::string::npos;
    if (defaults || !present || readSettingsText(text, 0).read.intervals != playerIntervals())
        fault(tally.lost, round.name + ": the next start " +
                              (defaults ? "wrote defaults" : present ? "found other minutes" : "found no Nubilo.ini"));
    const std::string left = namesLeftOver();
    if (!left.empty()) fault(tally.leftovers, round.name + ": left behind after the next start:" + left);
    checkPlayerFiles(round);
    if (round.touched.empty()) return;
    std::string names;
    for (const std::string& name : round.touched) names.append(" ").append(name);
    fault(tally.touched, round.name + ": the player's own files changed:" + names, static_cast<long>(round.touched.size()));
}

// One round: the player's folder, a child killed, the checks, the next start and its checks.
ChildEnd runRound(const Setup& setup, Round& round, long killAt, long pauseMillis, Tally& tally) {
    prepareFolder();
    // As the C library's fopen reads: sharing reading and writing, not deletion.
    const HANDLE reader = round.held ? CreateFileA(settingsName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                                     : INVALID_HANDLE_VALUE;
    const ChildEnd end = runChildRound(setup, killAt, pauseMillis, round.scanner, round.windowsRoad);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    const DWORD expected = killAt == 0 ? randomKillCode : end.status == 0 ? 0 : stepKillCode;
    if (!end.started || end.status != expected) {
        fault(tally.failures, round.name + ": the child " + (end.started ? "ended with " : "did not start, status ") +
                                  std::to_string(end.status));
        return end;
    }
    if (killAt == 0) ++tally.random;
    if (end.status == stepKillCode) ++tally.stepwise;
    checkAfterKill(round, tally);
    if (!nextStart(setup)) fault(tally.failures, round.name + ": the next start could not load the plug-in");
    checkAfterStart(round, tally);
    return end;
}

struct Sweep {
    const char* name;
    bool held;     // a reader holds the file: no step may write it
    bool scanner;  // a scanner at each new temporary: the step is busy once, then written
    bool windowsRoad;
};

// Kills after each file call of a rewrite in turn, K = 1, 2, ..., until a child finishes unkilled.
void stepKills(const Setup& setup, const Sweep& sweep, Tally& tally) {
    const Tally before = tally;
    ChildEnd end;
    for (long k = 1; k <= maxSteps && end.report.empty(); ++k) {
        Round round{std::string(sweep.name) + ", kill at call " + std::to_string(k), sweep.held, sweep.scanner,
                    sweep.windowsRoad, {}};
        end = runRound(setup, round, k, -1, tally);
        if (!end.started || (end.status != 0 && end.status != stepKillCode)) break;
    }
    long calls = 0, updated = 0;
    int length = 0;
    std::sscanf(end.report.c_str(), "%ld %ld%n", &calls, &updated, &length);
    if (end.report.empty() || (updated != 0) == sweep.held)
        fault(tally.failures, std::string(sweep.name) + ": no child finished with its rewrite " +
                                  (sweep.held ? "refused" : "written"));
    const long faults = tally.faults() - before.faults();
    std::printf("%s: %ld steps, %s; %ld kills between the two renames\n", sweep.name, calls,
                faults == 0 ? "every kill left the old or the new file, every next start the player's minutes, no leftovers"
                            : (std::to_string(faults) + " faults (above)").c_str(),
                tally.inTheGap - before.inTheGap);
    std::string names = end.report.substr(static_cast<std::size_t>(length));
    std::erase_if(names, [](char c) { return c == '\r' || c == '\n'; });
    std::printf("  calls:%s\n", names.c_str());
}

// Kills at random moments until the time is up; one round in four with a reader holding the file,
// one in four with a scanner at the temporary.
void randomKills(const Setup& setup, long seconds, Tally& tally) {
    std::mt19937 random(20261208u);
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (GetTickCount64() < end) {
        const unsigned kind = random() % 4;
        Round round{"random kill " + std::to_string(tally.random + 1), kind == 0, kind == 1, false, {}};
        runRound(setup, round, 0, static_cast<long>(random() % 40), tally);  // a few dozen passes
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "child")
        return runChild(argv[2], std::atol(argv[3]), std::string(argv[4]) == "1", std::string(argv[5]) == "1");
    if (argc != 2) {
        std::printf("usage: nubiloWinCrash PATH\\TO\\Nubilo.asi\n");
        return 2;
    }
    const char* control = std::getenv("NUBILO_CRASH_NO_RESTORE");
    const Setup setup{fs::absolute(argv[0]), fs::absolute(argv[1]), control != nullptr && std::string(control) == "1"};
    const long seconds = envNumber("NUBILO_WIN_CRASH_SECONDS", 120);
    const fs::path folder = fs::current_path() / "crash-game-folder";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    fs::current_path(folder);
    std::printf("Kills of a game running Nubilo.asi: after each file call of a rewrite, then at random for %ld s%s\n",
                seconds, setup.noRestore ? "; the next start cannot restore (control)" : "");
    const ULONGLONG start = GetTickCount64();
    Tally tally;
    for (const Sweep& sweep : {Sweep{"the replace", false, false, false}, Sweep{"held by a reader", true, false, false},
                               Sweep{"a scanner at the temporary", false, true, false},
                               Sweep{"the replace on the Windows road", false, false, true}})
        stepKills(setup, sweep, tally);
    std::fflush(stdout);
    randomKills(setup, seconds, tally);
    const long kills = tally.random + tally.stepwise;
    std::printf("%ld kills, %ld lost (%ld between the two renames; %ld written while a reader held the file; %ld "
                "failures; %.0f s)\n", kills, tally.lost, tally.inTheGap, tally.writtenWhileHeld, tally.failures,
                static_cast<double>(GetTickCount64() - start) / 1000);
    std::printf("windows crash: %ld kills (%ld random, %ld stepwise), %ld lost, %ld torn, %ld player files touched, "
                "%ld leftovers\n", kills, tally.random, tally.stepwise, tally.lost, tally.torn, tally.touched,
                tally.leftovers);
    fs::current_path(folder.parent_path());
    fs::remove_all(folder, ignored);
    if (setup.noRestore) return tally.lost > 0 ? 0 : 1;
    return tally.faults() == 0 ? 0 : 1;
}
