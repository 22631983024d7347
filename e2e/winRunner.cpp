// Loads the shipped Nubilo.asi beside the substitute ScriptHookRDR2.dll, runs its script on a
// Windows fibre pass by pass with the plug-in's clock under control, and checks what a player's
// game would see: the files on disk, the log, the native calls and the registrations.
//
// Index
//   helpers: files, the log, the native calls, the version resource
//   checks of the file's edges: busy (said after 5 s), the clock set back while busy, aside name
//   taken (on the star's rewrite and on the defaults'), a save in one tick, a symbolic link
//   [faults] the plug-in's own calls refused (the move-in, a read under the hold, the start's
//   restore), a read-only file, a save while the temporary is flushed, a flush that hangs while
//   the clock jumps, a save into the old file as ours moves in; the start after a crash: the pair
//   put back, an aside file alone kept, a held leftover, a link's interrupted rewrite
//   [others] a scanner at each new temporary, a deleted aside or temporary that keeps its name, the
//   hidden and system attributes
//   in use: a holder sharing nothing over the start and over a reload; readers for real time
//   main: start-up, the cycle, reloads, unusable files, then the edge checks
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "e2e/winSupport.h"
#include "substitute/substituteHost.h"
#include "weather/applyWeather.h"

namespace fs = std::filesystem;

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const char* what, int line) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED (line %d): %s\n", line, what);
    }
}
#define CHECK(condition) check((condition), #condition, __LINE__)

SubstituteHost& host = substituteState();

// Shares everything, so that a look never holds up the plug-in it watches (fopen's streams deny
// deletion, which the plug-in's replace needs).
std::string readFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

void writeFile(const char* path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

ULONGLONG writeTimeOf(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return 0;
    return (ULONGLONG{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// The canonical file with the star on one index; Rain's minutes may differ from the default 30.
std::string settingsText(int star, int rainMinutes = 30) {
    static const char* names[] = {"Rain", "Thunder", "Cloudy", "Dust Storms", "Fog", "Clear", "Snow", "Wind", "Snowlight", "Blizzard"};
    std::string text = "[Settings]\r\n";
    for (int i = 0; i < 10; ++i)
        text += std::string("Set ") + names[i] + " Time = " + std::to_string(i == 0 ? rainMinutes : 30) +
                (i == star ? "*" : "") + " ; int required. Max: 1440, Min: 1\r\n";
    return text;
}

// The log's messages; every line must be "[YYYY-MM-DD HH:MM:SS] " + message + CR LF.
std::vector<std::string> logMessages() {
    static const std::regex layout(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] .*$)");
    std::vector<std::string> messages;
    const std::string log = readFile("Weather.txt");
    std::size_t at = 0;
    while (at < log.size()) {
        std::size_t end = log.find("\r\n", at);
        CHECK(end != std::string::npos);
        if (end == std::string::npos) break;
        const std::string line = log.substr(at, end - at);
        CHECK(std::regex_match(line, layout));
        CHECK(line.find('\n') == std::string::npos);
        messages.push_back(line.size() >= 22 ? line.substr(22) : line);
        at = end + 2;
    }
    return messages;
}

bool appliedAs(std::size_t first, const char* gameName, std::uint64_t windBits) {
    const auto& calls = host.nativeCalls;
    if (calls.size() != first + 4) return false;
    return calls[first].hash == nativeGetHashKey && calls[first].hashedName == gameName &&
           calls[first + 1].hash == nativeSetWeatherType &&
           calls[first + 1].args == std::vector<std::uint64_t>{oneAtATimeHash(gameName), 0, 1, 1, 0x41200000, 0} &&
           calls[first + 2].hash == nativeSetWindSpeed && calls[first + 2].args == std::vector<std::uint64_t>{windBits} &&
           calls[first + 3].hash == nativeSetWindDirection && calls[first + 3].args == std::vector<std::uint64_t>{0};
}

DWORD WINAPI idleThread(void*) { return 0; }

// The star's file work runs on the plug-in's own thread, off the game's frame: a due pass starts
// it, and the first pass after it has ended takes its result.
bool duePass() {
    if (!substituteRunPasses(1)) return false;
    const bool ended = awaitJobs();
    return substituteRunPasses(1) && ended;
}

// A string of the file's version resource, as Explorer's Details tab shows it.
std::string versionString(const fs::path& file, const char* name) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.wstring().c_str(), &ignored);
    std::vector<char> data(size);
    if (size == 0 || !GetFileVersionInfoW(file.wstring().c_str(), 0, size, data.data())) return {};
    void* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(data.data(), path.c_str(), &value, &length) || length == 0) return {};
    return static_cast<const char*>(value);
}


const std::string playersOld = "my own backup, not the plug-in's\r\n";
const std::string playersTmp = "a player's scratch file\r\n";
const std::string couldNotUpdate = "[Nubilo] ERROR: Could not update Weather.ini with new star.";

const std::string keptLine =
    "[Nubilo] A file at Nubilo.ini.nubilo-old, perhaps your latest save, is kept as Nubilo.ini.nubilo-kept.";
std::string newStar(const char* name) { return std::string("[Nubilo] Weather.ini updated. New star: ") + name; }
std::string applied(const char* name) { return std::string("[Nubilo] Applied weather: ") + name; }

// No temporary or aside file of the plug-in's is left in the game folder.
bool noneOfOurs() { return !fs::exists("Nubilo.ini.nubilo-tmp") && !fs::exists("Nubilo.ini.nubilo-old"); }

std::vector<std::string> messagesSince(std::size_t first) {
    const std::vector<std::string> messages = logMessages();
    return first <= messages.size() ? std::vector<std::string>(messages.begin() + static_cast<long>(first), messages.end())
                                     : std::vector<std::string>{};
}

HANDLE openReader() {
    HANDLE reader = CreateFileA("Nubilo.ini", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(reader != INVALID_HANDLE_VALUE);
    return reader;
}

// Due passes, one a second for `seconds` seconds.
void duePassesFor(int seconds) {
    for (int second = 0; second < seconds; ++second) {
        host.clock += 1;
        CHECK(duePass());
    }
}

// A reader that does not share deletion (the C runtime's fopen, viewers, tail tools): the file
// cannot be replaced safely. The due step is refused and tried again after 1, 2, 4 ... seconds; a
// reader's moment is no news, so it is said only at the first try after the file has stayed busy
// 5 seconds (7 s: tries at 0, 1, 3, 7), then at most once a minute; and it is done as soon as the
// reader lets go -- with the star where it belongs.
void checkBusyFile() {
    Sleep(20);
    writeFile("Nubilo.ini", settingsText(9));
    CHECK(substituteRunPasses(1));  // reload: Blizzard
    const std::string blizzard = readFile("Nubilo.ini");
    const std::size_t first = logMessages().size();
    HANDLE reader = openReader();
    host.clock += 1800;
    CHECK(duePass());
    duePassesFor(6);
    CHECK(messagesSince(first).empty());
    duePassesFor(1);
    CHECK(messagesSince(first) == std::vector<std::string>{couldNotUpdate});
    duePassesFor(60);  // tries at 15, 31, 63: under a minute since it was said
    CHECK(messagesSince(first).size() == 1);
    duePassesFor(60);  // the try at 123
    CHECK(messagesSince(first) == (std::vector<std::string>{couldNotUpdate, couldNotUpdate}));
    CHECK(readFile("Nubilo.ini") == blizzard && noneOfOurs());
    CloseHandle(reader);
    host.clock += 60;  // the longest pause between two tries
    CHECK(duePass());
    CHECK(readFile("Nubilo.ini") == settingsText(0));
    CHECK(substituteRunPasses(1));  // the reload
    CHECK(messagesSince(first) == (std::vector<std::string>{couldNotUpdate, couldNotUpdate, newStar("Rain"),
                                                            "[Nubilo] single index at 0.", applied("Rain")}));
}

// The clock set back an hour while the file is busy: the step is still tried on its pauses of
// the monotonic clock and its refusal said again within two minutes of the last time, not an
// hour later; and a clock set back is itself a reason to try again at once: the reader gone, the
// star moves without a second passing.
void checkClockSetBackWhileBusy() {
    const std::string before = readFile("Nubilo.ini");
    const std::size_t first = logMessages().size();
    HANDLE reader = openReader();
    host.clock += 1800;
    CHECK(duePass());
    duePassesFor(7);
    CHECK(messagesSince(first) == std::vector<std::string>{couldNotUpdate});
    substituteJumpClock(-3600);
    duePassesFor(52);
    CHECK(messagesSince(first).size() == 1);
    duePassesFor(68);
    CHECK(messagesSince(first) == (std::vector<std::string>{couldNotUpdate, couldNotUpdate}));
    CHECK(readFile("Nubilo.ini") == before);
    CloseHandle(reader);
    substituteJumpClock(-60);
    CHECK(duePass());
    CHECK(readFile("Nubilo.ini") != before && noneOfOurs());
    CHECK(messagesSince(first).size() == 3 && messagesSince(first)[2].rfind(newStar(""), 0) == 0);
    CHECK(substituteRunPasses(1));  // the reload
}

// The old file is put aside under a name of the plug-in's own, never over anything. A folder or
// a read-only file of that name refuses the rewrite: said at once, nothing written, nothing left,
// and not tried again before the next due time.
void checkAsideNameTaken() {
    for (bool folder : {true, false}) {
        if (folder) {
            fs::create_directory("Nubilo.ini.nubilo-old");
        } else {
            writeFile("Nubilo.ini.nubilo-old", "x");
            SetFileAttributesA("Nubilo.ini.nubilo-old", FILE_ATTRIBUTE_READONLY);
        }
        const std::string before = readFile("Nubilo.ini");
        const std::size_t first = logMessages().size();
        host.clock += 1800;
        CHECK(duePass());
        host.clock += 1;
        CHECK(duePass());
        CHECK(!fs::exists("Nubilo.ini.nubilo-tmp"));
        CHECK(messagesSince(first) == std::vector<std::string>{couldNotUpdate});
        CHECK(readFile("Nubilo.ini") == before);
        SetFileAttributesA("Nubilo.ini.nubilo-old", FILE_ATTRIBUTE_NORMAL);
        fs::remove("Nubilo.ini.nubilo-old");
        CHECK(substituteRunPasses(1));
    }
    host.clock += 1800;  // the weather that waited now moves on
    CHECK(duePass());
    CHECK(substituteRunPasses(1));
    // A file still there under the aside name (a way back refused may leave the player's there) is
    // never cleared away: it is kept beside under a name of ours, and the rewrite goes on.
    writeFile("Nubilo.ini.nubilo-old", playersOld);
    const std::string before = readFile("Nubilo.ini");
    const std::size_t first = logMessages().size();
    host.clock += 1800;
    CHECK(duePass());
    CHECK(readFile("Nubilo.ini") != before && readFile("Nubilo.ini.nubilo-kept") == playersOld && noneOfOurs());
    CHECK(messagesSince(first).size() == 2 && messagesSince(first)[0] == keptLine);
    CHECK(substituteRunPasses(1));
    fs::remove("Nubilo.ini.nubilo-kept");
}

// A file with no usable line, once settled, is backed up and replaced by the defaults; a file
// found at the aside name on the way is kept beside, and said, as on the star's rewrite.
void checkUnusableFileBesideAnAsideFile() {
    const std::string unusable = "[Settings]\r\nSet Rain Time = soon\r\n";
    writeFile("Nubilo.ini.nubilo-old", playersOld);
    writeFile("Nubilo.ini", unusable);
    const std::size_t first = logMessages().size();
    CHECK(substituteRunPasses(1));  // the change seen: it settles
    host.clock += 3;
    CHECK(substituteRunPasses(1));  // settled: backed up, then the defaults
    const std::vector<std::string> said = messagesSince(first);
    CHECK(readFile("Nubilo.ini.bak") == unusable && readFile("Nubilo.ini") == settingsText(5) &&
          readFile("Nubilo.ini.nubilo-kept") == playersOld && noneOfOurs());
    CHECK(std::count(said.begin(), said.end(), keptLine) == 1);
    CHECK(substituteRunPasses(1));  // the defaults reloaded
    fs::remove("Nubilo.ini.nubilo-kept");
    fs::remove("Nubilo.ini.bak");
}

// A save of the same size within one tick of a coarse clock (FAT32 keeps 2-second steps) shows
// in neither the time nor the size: the content check under the hold finds it, nothing is
// written over it, and the next pass loads it.
void checkSaveWithinOneTick() {
    const std::string loaded = readFile("Nubilo.ini");
    WIN32_FILE_ATTRIBUTE_DATA data;
    CHECK(GetFileAttributesExA("Nubilo.ini", GetFileExInfoStandard, &data) != 0);
    std::string save = loaded;
    const std::size_t rain = save.find("Rain Time = 30");
    CHECK(rain != std::string::npos);
    if (rain != std::string::npos) save.replace(rain + 12, 2, "45");
    writeFile("Nubilo.ini", save);  // in place: the same file
    HANDLE file = CreateFileA("Nubilo.ini", FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(SetFileTime(file, nullptr, nullptr, &data.ftLastWriteTime) != 0);
    CloseHandle(file);
    const std::size_t first = logMessages().size();
    CHECK(substituteRunPasses(2));
    CHECK(messagesSince(first).empty());  // the poll cannot see it
    host.clock += 1800;
    CHECK(duePass());
    CHECK(readFile("Nubilo.ini") == save);
    CHECK(substituteRunPasses(1));
    const std::vector<std::string> messages = messagesSince(first);
    CHECK(messages.size() == 2 && messages[0].rfind("[Nubilo] single index at ", 0) == 0 &&
          messages[1].rfind("[Nubilo] Applied weather: ", 0) == 0);
    CHECK(readFile("Nubilo.ini") == save && noneOfOurs());
}

// A symbolic link to the real file: the poll sees the file the loader reads (no reload per
// pass), and the rewrite replaces the target and keeps the link. Creating one needs a privilege
// (or developer mode) on Windows, and Wine 8 cannot make file links at all.
void checkSymbolicLink() {
    const std::string before = readFile("Nubilo.ini");
    fs::create_directory("real");
    fs::rename("Nubilo.ini", "real\\settings.ini");
    const bool made = CreateSymbolicLinkW(L"Nubilo.ini", L"real\\settings.ini", 0x2 /* unprivileged, where allowed */);
    // Wine 8 says yes and makes something that neither reads as a link nor opens.
    if (!made || !fs::is_symlink("Nubilo.ini") || readFile("Nubilo.ini") != before) {
        std::printf("symbolic link: cannot be made here (error %lu); not tried\n", made ? 0ul : GetLastError());
        if (made && !DeleteFileW(L"Nubilo.ini")) RemoveDirectoryW(L"Nubilo.ini");
        fs::rename("real\\settings.ini", "Nubilo.ini");
        fs::remove("real");
        CHECK(substituteRunPasses(1));
        return;
    }
    CHECK(substituteRunPasses(1));  // the link is a change: one reload
    const std::size_t first = logMessages().size();
    CHECK(substituteRunPasses(20));
    CHECK(messagesSince(first).empty());
    host.clock += 1800;
    CHECK(duePass());
    CHECK(substituteRunPasses(1));
    CHECK(messagesSince(first).size() == 3 && messagesSince(first)[0].rfind("[Nubilo] Weather.ini updated.", 0) == 0);
    CHECK(fs::is_symlink("Nubilo.ini") && !fs::exists("real\\settings.ini.nubilo-tmp") &&
          !fs::exists("real\\settings.ini.nubilo-old"));
    const std::string content = readFile("Nubilo.ini");
    fs::remove("Nubilo.ini");
    fs::remove_all("real");
    writeFile("Nubilo.ini", content);
    CHECK(substituteRunPasses(1));
    std::printf("symbolic link: followed, kept, its target rewritten\n");
}

// [faults] The plug-in's own Windows calls made to fail, or a player's save slipped in between
// two of them: the failure roads of the replace and of the start's restore, which no other
// program can be timed to reach.
struct Refusal {
    DWORD error = 0;
    int remaining = 0;  // calls still to refuse; -1: every call
    int refused = 0;
};
Refusal moveRefusal;
Refusal readRefusal;      // the plug-in's own reads (of the held file's content)
Refusal moveInRefusal;    // the temporary's move into Nubilo.ini: a try counts once
std::string saveAtFlush;  // saved over Nubilo.ini at the next flush, then cleared
// A program no share mode binds (a Linux editor under Wine) saves into the old file as ours is
// moved in: the plug-in's next read of it sees other bytes. With lateSaveStuck, a second name of
// our new file seems to stay (another program has it open), so ours cannot leave Nubilo.ini.
bool lateSave = false, lateSaveStuck = false;
bool lateSaveDue = false;
HANDLE flushGate = nullptr;  // the next flush waits until it is set (a disk that hangs), then cleared

// [others] A scanner at each new temporary for 150 ms from its making: one that opens it as the
// C library's fopen reads, sharing reading and writing but not deletion (a handle of this
// program's, let go by a thread of its own), or one that answers "access denied" to its move
// meanwhile, as some file system filters do. Nubilo.ini's renames aside are counted.
struct Scanner {
    bool opens = false, denies = false;
    std::atomic<HANDLE> look{nullptr};
    std::atomic<bool> stop{false};
    std::atomic<ULONGLONG> lookingUntil{0};
    std::atomic<int> asides{0}, temporariesMade{0}, scans{0}, refusedOpens{0};
};
Scanner scanner;
// The name answers "access denied", as a deleted file's does while another program has it open.
bool asidePending = false, temporaryPending = false;

BOOL(WINAPI* realMoveFileExW)(LPCWSTR, LPCWSTR, DWORD) = nullptr;
BOOL(WINAPI* realFlushFileBuffers)(HANDLE) = nullptr;
BOOL(WINAPI* realReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = nullptr;
BOOL(WINAPI* realSetInformation)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) = nullptr;
BOOL(WINAPI* realCreateHardLinkW)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES) = nullptr;
HANDLE(WINAPI* realCreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = nullptr;
DWORD(WINAPI* realGetFileAttributesW)(LPCWSTR) = nullptr;

bool endsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool scannerRefuses() { return scanner.denies && GetTickCount64() < scanner.lookingUntil.load(); }

// The move-in is a rename of the temporary's handle (under Wine a hard link first, then that).
BOOL WINAPI refusableRename(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    if (kind == FileRenameInfo) {
        const auto* rename = static_cast<const FILE_RENAME_INFO*>(info);
        if (endsWith(std::wstring(rename->FileName, rename->FileNameLength / sizeof(wchar_t)), L".nubilo-old")) ++scanner.asides;
    }
    wchar_t path[MAX_PATH] = {};
    const bool moveIn = kind == FileRenameInfo && (moveInRefusal.remaining != 0 || scannerRefuses()) &&
                        GetFinalPathNameByHandleW(file, path, MAX_PATH, 0) < MAX_PATH && endsWith(path, L".nubilo-tmp");
    if (!moveIn) return realSetInformation(file, kind, info, size);
    if (scannerRefuses()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (moveInRefusal.remaining > 0) --moveInRefusal.remaining;
    ++moveInRefusal.refused;
    SetLastError(moveInRefusal.error);
    return FALSE;
}

BOOL WINAPI refusableLink(LPCWSTR name, LPCWSTR existing, LPSECURITY_ATTRIBUTES security) {
    const bool temporary = endsWith(existing, L".nubilo-tmp");
    if (temporary && (moveInRefusal.remaining != 0 || scannerRefuses())) {
        SetLastError(scannerRefuses() ? ERROR_ACCESS_DENIED : moveInRefusal.error);
        return FALSE;
    }
    const BOOL ok = realCreateHardLinkW(name, existing, security);
    if (ok && temporary && std::exchange(lateSave, false)) lateSaveDue = true;
    return ok;
}

// Each new temporary the plug-in makes is what a scanner looks at.
HANDLE WINAPI watchedCreate(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                            DWORD flags, HANDLE templateFile) {
    if (temporaryPending && disposition == CREATE_NEW && endsWith(name, L".nubilo-tmp")) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = realCreateFileW(name, access, share, security, disposition, flags, templateFile);
    if (file == INVALID_HANDLE_VALUE || !endsWith(name, L".nubilo-tmp") || (disposition != CREATE_ALWAYS && disposition != CREATE_NEW))
        return file;
    ++scanner.temporariesMade;
    scanner.lookingUntil = GetTickCount64() + 150;
    if (scanner.opens) {
        HANDLE look = realCreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        if (look == INVALID_HANDLE_VALUE) ++scanner.refusedOpens;
        else scanner.look = look;
    }
    return file;
}

DWORD WINAPI answeredAttributes(LPCWSTR name) {
    if (lateSaveStuck && endsWith(name, L".nubilo-tmp")) return FILE_ATTRIBUTE_NORMAL;
    const bool pending = (asidePending && endsWith(name, L".nubilo-old")) || (temporaryPending && endsWith(name, L".nubilo-tmp"));
    if (!pending) return realGetFileAttributesW(name);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_FILE_ATTRIBUTES;
}

BOOL WINAPI refusableMove(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (scannerRefuses() && endsWith(from, L".nubilo-tmp")) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (moveRefusal.remaining == 0) return realMoveFileExW(from, to, flags);
    if (moveRefusal.remaining > 0) --moveRefusal.remaining;
    ++moveRefusal.refused;
    SetLastError(moveRefusal.error);
    return FALSE;
}

// A range of the file locked by another program refuses reads on Windows; Wine does not enforce
// such locks, so the refusal is made here.
BOOL WINAPI refusableRead(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped) {
    if (std::exchange(lateSaveDue, false)) {
        const BOOL ok = realReadFile(file, buffer, size, got, overlapped);
        if (ok && *got > 0) static_cast<char*>(buffer)[0] ^= 0x20;
        return ok;
    }
    if (readRefusal.remaining == 0) return realReadFile(file, buffer, size, got, overlapped);
    if (readRefusal.remaining > 0) --readRefusal.remaining;
    ++readRefusal.refused;
    SetLastError(readRefusal.error);
    return FALSE;
}

// The plug-in flushes its temporary while it holds nothing of Nubilo.ini: a save may land then.
BOOL WINAPI flushWithSave(HANDLE file) {
    if (!saveAtFlush.empty()) writeFile("Nubilo.ini", std::exchange(saveAtFlush, std::string()));
    if (HANDLE gate = std::exchange(flushGate, nullptr)) WaitForSingleObject(gate, INFINITE);
    return realFlushFileBuffers(file);
}

int hookFileCalls(HMODULE module) {
    return patchImports(module, {{"MoveFileExW", reinterpret_cast<void*>(&refusableMove),
                                  reinterpret_cast<void**>(&realMoveFileExW)},
                                 {"FlushFileBuffers", reinterpret_cast<void*>(&flushWithSave),
                                  reinterpret_cast<void**>(&realFlushFileBuffers)},
                                 {"ReadFile", reinterpret_cast<void*>(&refusableRead),
                                  reinterpret_cast<void**>(&realReadFile)},
                                 {"SetFileInformationByHandle", reinterpret_cast<void*>(&refusableRename),
                                  reinterpret_cast<void**>(&realSetInformation)},
                                 {"CreateHardLinkW", reinterpret_cast<void*>(&refusableLink),
                                  reinterpret_cast<void**>(&realCreateHardLinkW)},
                                 {"CreateFileW", reinterpret_cast<void*>(&watchedCreate),
                                  reinterpret_cast<void**>(&realCreateFileW)},
                                 {"GetFileAttributesW", reinterpret_cast<void*>(&answeredAttributes),
                                  reinterpret_cast<void**>(&realGetFileAttributesW)}});
}

ULONGLONG fileIndexOf(const char* path) {
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return known ? (ULONGLONG{info.nFileIndexHigh} << 32) | info.nFileIndexLow : 0;
}

// The star moves on: one due step, then the reload.
void advanceOnce() {
    host.clock += 1800;
    CHECK(duePass());
    CHECK(substituteRunPasses(1));
}

// The temporary's move into the free name refused. A scanner at the new file (a sharing
// violation, or the "access denied" some answer) makes the step busy: the player's file is back
// under its name at once, the written temporary is kept, and the next tries -- 1, then 2 seconds
// later -- take it up instead of writing a new one. Any other refusal is a failure: nothing of
// ours left, said, and not tried again before the next due time.
void checkRefusedMoveIn() {
    for (const DWORD error : {DWORD{ERROR_SHARING_VIOLATION}, DWORD{ERROR_ACCESS_DENIED}}) {
        const std::string before = readFile("Nubilo.ini");
        const std::size_t first = logMessages().size();
        moveInRefusal = {error, 2, 0};
        host.clock += 1800;
        CHECK(duePass());
        const ULONGLONG kept = fileIndexOf("Nubilo.ini.nubilo-tmp");
        CHECK(readFile("Nubilo.ini") == before && !fs::exists("Nubilo.ini.nubilo-old") && kept != 0);
        for (int second = 0; second < 2; ++second) {  // tried again after 1 s, then not before 2 s more
            host.clock += 1;
            CHECK(duePass());
        }
        CHECK(moveInRefusal.refused == 2 && readFile("Nubilo.ini") == before);
        CHECK(fileIndexOf("Nubilo.ini.nubilo-tmp") == kept);
        host.clock += 1;
        CHECK(duePass());
        CHECK(readFile("Nubilo.ini") != before && noneOfOurs() && fileIndexOf("Nubilo.ini") == kept);
        const std::vector<std::string> messages = messagesSince(first);
        CHECK(!messages.empty() && messages.back().rfind(newStar(""), 0) == 0 &&
              std::count(messages.begin(), messages.end(), couldNotUpdate) + 1 == static_cast<long>(messages.size()));
        CHECK(substituteRunPasses(1));
    }
    const std::string before = readFile("Nubilo.ini");
    const std::size_t first = logMessages().size();
    moveInRefusal = {ERROR_NOT_SAME_DEVICE, -1, 0};
    host.clock += 1800;
    CHECK(duePass());
    host.clock += 60;
    CHECK(duePass());
    CHECK(moveInRefusal.refused == 1 && readFile("Nubilo.ini") == before && noneOfOurs());
    CHECK(messagesSince(first) == std::vector<std::string>{couldNotUpdate});
    moveInRefusal = {};
    advanceOnce();  // nothing refused now: the star moves on
    CHECK(readFile("Nubilo.ini") != before && noneOfOurs());
}

// [others] A scanner at each new temporary (see Scanner). The plug-in holds its temporary with
// delete access from its making, so one that does not share deletion cannot open it, and cannot
// stop its move; one that refuses the move while it looks is waited out with the temporary kept,
// so the next try has nothing new for it to look at. Either way the star moves within a few
// seconds, and Nubilo.ini is put aside at most twice.
DWORD WINAPI letGoOfTheTemporary(void*) {
    while (!scanner.stop) {
        Sleep(1);
        if (scanner.look.load() == nullptr || GetTickCount64() < scanner.lookingUntil) continue;
        CloseHandle(scanner.look.exchange(nullptr));
        ++scanner.scans;
    }
    return 0;
}

void checkScannerOnTheTemporary() {
    // 30 minutes for every weather from here on; a size no canonical text has, so the poll sees it.
    writeFile("Nubilo.ini", settingsText(0) + "; every weather 30 minutes\r\n");
    CHECK(substituteRunPasses(1));
    for (const bool denies : {false, true}) {
        scanner.opens = !denies;
        scanner.denies = denies;
        scanner.stop = false;
        scanner.asides = scanner.temporariesMade = scanner.scans = scanner.refusedOpens = 0;
        HANDLE thread = CreateThread(nullptr, 0, letGoOfTheTemporary, nullptr, 0, nullptr);
        const std::string before = readFile("Nubilo.ini");
        host.clock += 1800;
        CHECK(duePass());
        int seconds = 0;
        for (; seconds < 30 && readFile("Nubilo.ini") == before; ++seconds) {
            // The next try once the scanner has let go of what it looks at.
            while (scanner.look.load() != nullptr || GetTickCount64() < scanner.lookingUntil) Sleep(5);
            host.clock += 1;
            CHECK(duePass());
        }
        scanner.stop = true;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        if (HANDLE look = scanner.look.exchange(nullptr)) CloseHandle(look);
        std::printf("scanner %s: the star moved after %d s; %d renames aside, %d temporaries made, %d scans, "
                    "%d opens refused\n", denies ? "refusing the move" : "opening without delete sharing", seconds,
                    scanner.asides.load(), scanner.temporariesMade.load(), scanner.scans.load(), scanner.refusedOpens.load());
        CHECK(readFile("Nubilo.ini") != before && seconds <= 3 && scanner.asides <= 2 && noneOfOurs());
        CHECK(substituteRunPasses(1));
        scanner.opens = scanner.denies = false;
    }
}

// [others] On FAT, exFAT and network shares a deleted file keeps its name while another program
// still has it open, and Windows answers "access denied" for that name meanwhile (here Wine keeps
// the name alike, and the hook answers as Windows does). The step that finds the aside name so is
// busy, not failed: it is tried again a second later and writes the star once the name is free.
void checkPendingAsideName() {
    HANDLE reader = CreateFileA("Nubilo.ini", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(reader != INVALID_HANDLE_VALUE);
    advanceOnce();  // the old file aside and deleted, while the reader has it
    if (!fs::exists("Nubilo.ini.nubilo-old")) {
        std::printf("deleted aside file: its name is freed at once here; not tried\n");
        CloseHandle(reader);
        return;
    }
    const std::string before = readFile("Nubilo.ini");
    asidePending = true;
    host.clock += 1800;
    CHECK(duePass());
    asidePending = false;
    CHECK(readFile("Nubilo.ini") == before);
    CloseHandle(reader);
    CHECK(!fs::exists("Nubilo.ini.nubilo-old"));
    host.clock += 1;
    CHECK(duePass());
    CHECK(readFile("Nubilo.ini") != before && noneOfOurs());
    CHECK(substituteRunPasses(1));
}

// [others] The temporary's name alike, pinned by a deleted leftover: the step is busy, so nothing
// is said at once, and the star is written a second later, once the name is free.
void checkPendingTemporaryName() {
    const std::string before = readFile("Nubilo.ini");
    const std::size_t first = logMessages().size();
    temporaryPending = true;
    host.clock += 1800;
    CHECK(duePass());
    temporaryPending = false;
    CHECK(readFile("Nubilo.ini") == before && messagesSince(first).empty());
    host.clock += 1;
    CHECK(duePass());
    CHECK(readFile("Nubilo.ini") != before && noneOfOurs());
    CHECK(substituteRunPasses(1));
}

// [faults] A save into the old file as ours moves in (a program no share mode binds: a Linux
// editor under Wine): the old file goes back under its name and ours goes. Where ours cannot
// leave (a second name of it held open), the save is kept beside under a name of ours and said,
// never left at the aside name, which a start takes for a finished replace's leftover.
void checkLateSaveIntoTheOldFile() {
    for (const bool stuck : {false, true}) {
        const std::string before = readFile("Nubilo.ini");
        const std::size_t first = logMessages().size();
        lateSave = true;
        lateSaveStuck = stuck;
        host.clock += 1800;
        CHECK(duePass());
        lateSaveStuck = false;
        CHECK(!lateSave && !lateSaveDue);  // the move-in came, and the look at the old file after it
        const std::vector<std::string> said = messagesSince(first);
        if (stuck)
            CHECK(readFile("Nubilo.ini") != before && readFile("Nubilo.ini.nubilo-kept") == before && !said.empty() &&
                  said[0] == keptLine);
        else
            CHECK(readFile("Nubilo.ini") == before && !fs::exists("Nubilo.ini.nubilo-kept") && said.empty());
        CHECK(noneOfOurs());
        CHECK(substituteRunPasses(1));  // the reload
        fs::remove("Nubilo.ini.nubilo-kept");
    }
}

// [others] Hidden and system attributes the player set stay on the new file; a plain file stays
// plain. (A read-only file is never replaced: checkReadOnlyFile.)
void checkHiddenAndSystem() {
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    CHECK(SetFileAttributesA("Nubilo.ini", kept) != 0);
    if ((GetFileAttributesA("Nubilo.ini") & kept) != kept) {
        std::printf("hidden and system attributes: not kept by this file system; not tried\n");
        SetFileAttributesA("Nubilo.ini", FILE_ATTRIBUTE_NORMAL);
        return;
    }
    std::string before = readFile("Nubilo.ini");
    advanceOnce();
    CHECK(readFile("Nubilo.ini") != before && (GetFileAttributesA("Nubilo.ini") & kept) == kept && noneOfOurs());
    CHECK(SetFileAttributesA("Nubilo.ini", FILE_ATTRIBUTE_NORMAL) != 0);
    before = readFile("Nubilo.ini");
    advanceOnce();
    CHECK(readFile("Nubilo.ini") != before && (GetFileAttributesA("Nubilo.ini") & kept) == 0);
}

// A read-only Nubilo.ini is the player's say: never replaced, and said.
void checkReadOnlyFile() {
    const std::string before = readFile("Nubilo.ini");
    const std::size_t first = logMessages().size();
    CHECK(SetFileAttributesA("Nubilo.ini", FILE_ATTRIBUTE_READONLY) != 0);
    host.clock += 1800;
    CHECK(duePass());
    CHECK(readFile("Nubilo.ini") == before && noneOfOurs());
    CHECK(messagesSince(first) == std::vector<std::string>{couldNotUpdate});
    CHECK(SetFileAttributesA("Nubilo.ini", FILE_ATTRIBUTE_NORMAL) != 0);
    advanceOnce();
    CHECK(readFile("Nubilo.ini") != before);
}

// A save made while the plug-in flushes its temporary -- the file is not held then -- is found
// by the check under the second hold: nothing is written over it, and the next pass loads it.
void checkSaveWhileFlushing() {
    std::string save = settingsText(2);
    save.replace(save.find("Rain Time = 30"), 14, "Rain Time = 45");
    saveAtFlush = save;
    const std::size_t first = logMessages().size();
    host.clock += 1800;
    CHECK(duePass());
    CHECK(saveAtFlush.empty());  // the flush came, and the save with it
    CHECK(readFile("Nubilo.ini") == save && noneOfOurs());
    CHECK(substituteRunPasses(1));
    CHECK(messagesSince(first) == (std::vector<std::string>{"[Nubilo] single index at 2.", applied("Cloudy")}));
}

// The held file's content cannot be read (a range locked by another program): the step is
// busy -- nothing written, nothing said for a moment -- never taken for a file whose content is
// unknown and written over. The next try, a second later, writes the star.
void checkContentUnreadableUnderTheHold() {
    const std::string before = readFile("Nubilo.ini");
    const std::size_t first = logMessages().size();
    readRefusal = {ERROR_LOCK_VIOLATION, 1, 0};
    host.clock += 1800;
    CHECK(duePass());
    CHECK(readRefusal.refused == 1);
    readRefusal = {};
    CHECK(readFile("Nubilo.ini") == before && noneOfOurs());
    CHECK(messagesSince(first).empty());
    duePassesFor(1);
    CHECK(readFile("Nubilo.ini") != before && noneOfOurs());
    CHECK(messagesSince(first).size() == 1 && messagesSince(first)[0].rfind(newStar(""), 0) == 0);
    CHECK(substituteRunPasses(1));  // the reload
}

// A step held up by the disk while the calendar clock jumps -- forward two days at every pass (a
// resume, a time sync), then back a month: the step's wait is measured on the monotonic clock, so
// the jumps say nothing and a real 30 seconds says "not answered" once.
void checkSlowStepAndClockJumps() {
    const std::string late = "[Nubilo] ERROR: Weather.ini has not answered for 30 seconds; the cycle waits for it.";
    const std::size_t first = logMessages().size();
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    flushGate = gate;
    host.clock += 1800;
    CHECK(substituteRunPasses(1));  // starts the step, which waits at its flush
    for (int pass = 0; pass < 10; ++pass) {
        substituteJumpClock(2 * 86400);
        CHECK(substituteRunPasses(1));
    }
    substituteJumpClock(-30 * 86400);
    host.monotonicMilliseconds += 29000;
    CHECK(substituteRunPasses(1));
    CHECK(messagesSince(first).empty());
    host.monotonicMilliseconds += 1000;
    CHECK(substituteRunPasses(3));
    CHECK(messagesSince(first) == std::vector<std::string>{late});
    SetEvent(gate);
    CHECK(awaitJobs());
    CloseHandle(gate);
    CHECK(substituteRunPasses(2));  // the result taken, then the reload
    const std::vector<std::string> messages = messagesSince(first);
    CHECK(messages.size() == 4 && messages[1].rfind(newStar(""), 0) == 0 && noneOfOurs());
}

HMODULE restartPlugin(const fs::path& plugin) {
    substituteReset(1700000000);
    HMODULE module = LoadLibraryW(plugin.wstring().c_str());
    CHECK(module != nullptr);
    if (module != nullptr) {
        redirectClock(module);
        redirectMonotonic(module);
        watchJobs(module);
        hookFileCalls(module);
        CHECK(substituteRunPasses(1));
    }
    return module;
}

std::string removedLine(const char* name) { return std::string("[Nubilo] Removed ") + name + " left by an earlier run."; }

// After a crash. Between the two renames of a replace: no Nubilo.ini, the old file aside, the
// temporary beside it. The next start puts the old file back, says so once, leaves nothing of
// its own and says what it removed. An aside file alone beside a Nubilo.ini the player deleted
// (the temporary gone too: tidied away, quarantined) may be the only copy: kept as the backup,
// or beside it where a backup is there, and the defaults written.
void checkStartAfterACrash(const fs::path& plugin, const std::string& kept) {
    fs::rename("Nubilo.ini", "Nubilo.ini.nubilo-old");
    writeFile("Nubilo.ini.nubilo-tmp", settingsText(3));
    HMODULE module = restartPlugin(plugin);
    CHECK(readFile("Nubilo.ini") == kept && noneOfOurs());
    std::vector<std::string> messages = logMessages();
    CHECK(messages.size() == 5 && messages[1] == "[Nubilo] Weather.ini restored after an interrupted rewrite." &&
          messages[2] == removedLine("Nubilo.ini.nubilo-tmp") && messages[3].rfind("[Nubilo] single index at ", 0) == 0);
    if (module != nullptr) FreeLibrary(module);

    for (const char* keptAs : {"Nubilo.ini.bak", "Nubilo.ini.nubilo-kept"}) {
        fs::rename("Nubilo.ini", "Nubilo.ini.nubilo-old");
        module = restartPlugin(plugin);
        CHECK(readFile(keptAs) == kept && readFile("Nubilo.ini") == settingsText(5) && noneOfOurs());
        messages = logMessages();
        CHECK(messages.size() == 5 && messages[1] == std::string("[Nubilo] An interrupted rewrite left only "
                                                                 "Nubilo.ini.nubilo-old: kept as ") + keptAs + "." &&
              messages[2] == "[Nubilo] Weather.ini not found, using defaults.");
        if (module != nullptr) FreeLibrary(module);
        writeFile("Nubilo.ini", kept);
    }
    CHECK(readFile("Nubilo.ini.bak") == kept);  // the first kept copy stayed
    fs::remove("Nubilo.ini.bak");
    fs::remove("Nubilo.ini.nubilo-kept");

    // Both of ours beside a Nubilo.ini that is there: the replace had ended; the file stays. A
    // leftover another program holds stays too, said, and goes at the next start.
    writeFile("Nubilo.ini.nubilo-old", settingsText(1));
    writeFile("Nubilo.ini.nubilo-tmp", settingsText(3));
    HANDLE holder = CreateFileA("Nubilo.ini.nubilo-tmp", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    module = restartPlugin(plugin);
    CloseHandle(holder);
    CHECK(readFile("Nubilo.ini") == kept && !fs::exists("Nubilo.ini.nubilo-old"));
    messages = logMessages();
    CHECK(messages.size() == 5 &&
          std::vector<std::string>(messages.begin(), messages.begin() + 3) ==
              (std::vector<std::string>{"[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                                        removedLine("Nubilo.ini.nubilo-old"),
                                        "[Nubilo] ERROR: Could not remove Nubilo.ini.nubilo-tmp left by an earlier run."}) &&
          messages[3].rfind("[Nubilo] single index at ", 0) == 0);
    if (module != nullptr) FreeLibrary(module);
    module = restartPlugin(plugin);
    CHECK(readFile("Nubilo.ini") == kept && noneOfOurs());
    messages = logMessages();
    CHECK(messages.size() == 4 && messages[1] == removedLine("Nubilo.ini.nubilo-tmp"));
    if (module != nullptr) FreeLibrary(module);
}

// The restore itself refused: the player's file waits aside, and nothing takes its name -- no
// defaults that a later start would keep and the aside file lost with. The next start restores it.
void checkRefusedRestore(const fs::path& plugin, const std::string& kept) {
    fs::rename("Nubilo.ini", "Nubilo.ini.nubilo-old");
    writeFile("Nubilo.ini.nubilo-tmp", settingsText(3));
    moveRefusal = {ERROR_ACCESS_DENIED, -1, 0};
    HMODULE module = restartPlugin(plugin);
    moveRefusal = {};
    CHECK(!fs::exists("Nubilo.ini") && readFile("Nubilo.ini.nubilo-old") == kept);
    std::vector<std::string> messages = logMessages();
    CHECK(messages.size() >= 2 && messages[1].rfind("[Nubilo] ERROR: Could not restore Weather.ini from ", 0) == 0);
    CHECK(substituteRunPasses(3) && !fs::exists("Nubilo.ini"));
    if (module != nullptr) FreeLibrary(module);
    module = restartPlugin(plugin);
    CHECK(readFile("Nubilo.ini") == kept && noneOfOurs());
    messages = logMessages();
    CHECK(messages.size() == 5 && messages[1] == "[Nubilo] Weather.ini restored after an interrupted rewrite." &&
          messages[2] == removedLine("Nubilo.ini.nubilo-tmp"));
    if (module != nullptr) FreeLibrary(module);
}

// A Linux program run through Wine's Z: drive, as a player's own tools work on the game folder
// under Proton. Wine gives no handle to wait on for one: the caller waits for its effect.
bool runLinuxProgram(const wchar_t* program, std::wstring command) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Until the name opens (or no longer does); a bound on the wait only, the caller checks the result.
bool awaitName(const wchar_t* name, bool present) {
    for (int wait = 0; wait < 3000 && (GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES) != present; ++wait) Sleep(10);
    return (GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES) == present;
}

// Nubilo.ini a link, the game killed between the two renames of its target's rewrite: the pair
// beside the target, the link leading nowhere. Windows' own links are read by the plug-in and
// the pair put right there; Wine shows a POSIX link to nothing as no file at all, so there the
// start can only leave the link alone: no defaults over it, and said.
void checkLinksInterruptedRewrite(const fs::path& plugin, const std::string& kept) {
    fs::create_directory("real");
    fs::rename("Nubilo.ini", "real\\settings.ini");
    const bool windowsLink = CreateSymbolicLinkW(L"Nubilo.ini", L"real\\settings.ini", 0x2) && fs::is_symlink("Nubilo.ini");
    if (!windowsLink && GetFileAttributesW(L"Nubilo.ini") != INVALID_FILE_ATTRIBUTES && !DeleteFileW(L"Nubilo.ini"))
        RemoveDirectoryW(L"Nubilo.ini");  // what Wine 8 makes of a Windows link
    // A POSIX link: Wine shows it as the file it leads to, and as nothing once that is gone.
    if (!windowsLink && !runLinuxProgram(L"Z:\\bin\\ln", L"ln -s real/settings.ini Nubilo.ini")) {
        std::printf("link's interrupted rewrite: no link can be made here; not tried\n");
        fs::rename("real\\settings.ini", "Nubilo.ini");
        fs::remove("real");
        return;
    }
    CHECK(awaitName(L"Nubilo.ini", true) && readFile("Nubilo.ini") == kept);
    fs::rename("real\\settings.ini", "real\\settings.ini.nubilo-old");
    writeFile("real\\settings.ini.nubilo-tmp", settingsText(3));
    HMODULE module = restartPlugin(plugin);
    const std::vector<std::string> messages = logMessages();
    if (windowsLink) {
        CHECK(readFile("real\\settings.ini") == kept && fs::is_symlink("Nubilo.ini") && messages.size() == 5 &&
              messages[1] == "[Nubilo] Weather.ini restored after an interrupted rewrite.");
    } else {
        CHECK(messages == (std::vector<std::string>{
                              "[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                              "[Nubilo] Weather.ini not found, using defaults.",
                              "[Nubilo] ERROR: Weather.ini is a link to a missing file; the link is kept, defaults not written.",
                              applied("Clear")}));
        CHECK(readFile("real\\settings.ini.nubilo-old") == kept);
        fs::rename("real\\settings.ini.nubilo-old", "real\\settings.ini");  // the player's way back
        CHECK(readFile("Nubilo.ini") == kept);  // through the link, which stayed
        fs::remove("real\\settings.ini.nubilo-tmp");
    }
    if (module != nullptr) FreeLibrary(module);
    // The link itself goes (Wine's own delete would take its target).
    if (windowsLink)
        DeleteFileW(L"Nubilo.ini");
    else
        CHECK(runLinuxProgram(L"Z:\\bin\\rm", L"rm Nubilo.ini") && awaitName(L"Nubilo.ini", false));
    fs::rename("real\\settings.ini", "Nubilo.ini");
    fs::remove("real");
    std::printf("link's interrupted rewrite: %s\n", windowsLink ? "a Windows link, put right beside its target"
                                                                : "a POSIX link under Wine, kept, no defaults over it");
}

// Another program opens Nubilo.ini sharing nothing (share 0).
HANDLE holdExclusively() {
    HANDLE holder = CreateFileA("Nubilo.ini", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(holder != INVALID_HANDLE_VALUE);
    return holder;
}

// Another program holds Nubilo.ini sharing nothing over the start, then over the pass that sees
// a save: the file is in use, not missing -- no "not found", no defaults written, no rewrite with
// minutes it did not give. It is loaded at the first try after it is let go (one a second), and
// said only once it has stayed in use 5 seconds.
void checkExclusiveHolder(const fs::path& plugin) {
    const std::string inUse = "[Nubilo] ERROR: Weather.ini is in use by another program or cannot be read; trying again.";
    const std::string rain7 = settingsText(0, 7);
    writeFile("Nubilo.ini", rain7);
    HANDLE holder = holdExclusively();
    HMODULE module = restartPlugin(plugin);
    const std::string started = "[Nubilo] Nubilo.ASI started. Adjusting Weather...";
    CHECK(logMessages() == (std::vector<std::string>{started, applied("Clear")}));  // the defaults, in memory
    duePassesFor(4);
    CHECK(logMessages().size() == 2);
    duePassesFor(1);
    CHECK(logMessages() == (std::vector<std::string>{started, applied("Clear"), inUse}));
    CloseHandle(holder);
    duePassesFor(1);
    CHECK(messagesSince(3) == (std::vector<std::string>{"[Nubilo] single index at 0.", applied("Rain")}));
    CHECK(readFile("Nubilo.ini") == rain7 && noneOfOurs());

    // The player saves 33 minutes; the holder is there at the pass that sees it and gone before
    // Rain's 7 minutes are up, which come before the next try.
    const std::size_t first = logMessages().size();
    const std::string rain33 = settingsText(0, 33);
    Sleep(20);
    writeFile("Nubilo.ini", rain33);
    holder = holdExclusively();
    CHECK(substituteRunPasses(1));
    CloseHandle(holder);
    substituteJumpClock(7 * 60);
    CHECK(duePass());
    CHECK(readFile("Nubilo.ini") == rain33 && noneOfOurs());
    duePassesFor(1);
    CHECK(messagesSince(first) == (std::vector<std::string>{"[Nubilo] single index at 0.", applied("Rain")}));
    host.clock += 33 * 60;
    CHECK(duePass());
    CHECK(readFile("Nubilo.ini") == settingsText(1, 33));
    CHECK(messagesSince(first).size() == 3 && messagesSince(first)[2] == newStar("Thunder"));
    if (module != nullptr) FreeLibrary(module);
}

ULONGLONG unbiasedMilliseconds() {
    ULONGLONG ticks = 0;
    QueryUnbiasedInterruptTime(&ticks);
    return ticks / 10000;
}

// Readers for real, on the system's monotonic clock, passes at about a frame's pace. One that
// holds the file 50 ms is no news: the star moves at the next try and nothing is said. One that
// holds it 10 s is said once, not before it has held the file 5 s (measured on the clock the
// plug-in reads), and the star moves when it lets go.
void checkReadersInRealTime(const fs::path& plugin) {
    realMonotonic = true;
    HMODULE module = restartPlugin(plugin);  // a fresh load: every wait of it is on the system's clock
    for (const bool brief : {true, false}) {
        const std::string before = readFile("Nubilo.ini");
        const std::size_t first = logMessages().size();
        HANDLE reader = openReader();
        const ULONGLONG heldFrom = unbiasedMilliseconds();
        host.clock += 1800;
        CHECK(duePass());
        CHECK(readFile("Nubilo.ini") == before);  // the first try met the reader
        if (brief) {
            Sleep(50);
            CloseHandle(std::exchange(reader, nullptr));
        }
        ULONGLONG saidAt = 0;
        for (int pass = 0; pass < 3000 && readFile("Nubilo.ini") == before; ++pass) {  // a minute or so at most
            Sleep(20);
            CHECK(duePass());
            if (reader == nullptr) continue;
            if (saidAt == 0 && !messagesSince(first).empty()) saidAt = unbiasedMilliseconds();
            if (saidAt != 0 && unbiasedMilliseconds() - heldFrom >= 10000) CloseHandle(std::exchange(reader, nullptr));
        }
        if (reader != nullptr) CloseHandle(reader);
        CHECK(readFile("Nubilo.ini") != before && noneOfOurs());
        const std::vector<std::string> messages = messagesSince(first);
        if (brief) {
            CHECK(messages.size() == 1 && messages[0].rfind(newStar(""), 0) == 0);
        } else {
            CHECK(messages.size() == 2 && messages[0] == couldNotUpdate && messages[1].rfind(newStar(""), 0) == 0);
            CHECK(saidAt - heldFrom >= 5000);
            std::printf("a reader held 10 s: said after %llu ms of its hold\n", saidAt - heldFrom);
        }
        CHECK(substituteRunPasses(1));  // the reload
    }
    realMonotonic = false;
    if (module != nullptr) FreeLibrary(module);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: nubiloWinRunner PATH\\TO\\Nubilo.asi\n");
        return 2;
    }
    const fs::path plugin = fs::absolute(argv[1]);
    const fs::path work = fs::current_path() / "e2e-game-folder";
    fs::remove_all(work);
    fs::create_directories(work);
    fs::current_path(work);  // the game's folder: the plug-in's files land here
    substituteReset(1700000000);

    CHECK(versionString(plugin, "ProductName") == "Nubilo");
    CHECK(versionString(plugin, "FileVersion") == NUBILO_VERSION);
    CHECK(versionString(plugin, "OriginalFilename") == "Nubilo.asi");
    CHECK(!versionString(plugin, "FileDescription").empty());

    HMODULE module = LoadLibraryW(plugin.wstring().c_str());
    CHECK(module != nullptr);
    if (module == nullptr) {
        std::printf("cannot load %s (error %lu)\n", plugin.string().c_str(), GetLastError());
        return 1;
    }
    CHECK(redirectClock(module) >= 1);
    CHECK(redirectMonotonic(module) == 1);
    CHECK(watchJobs(module) == 2);
    CHECK(hookFileCalls(module) == 7);

    // Attach: the script, then the keyboard callback, with the instance handle the loader gave.
    CHECK(host.events.size() == 2);
    CHECK(host.events[0].kind == HostEventKind::scriptRegistered);
    CHECK(host.events[0].module == reinterpret_cast<HostModule>(module));
    CHECK(host.events[1].kind == HostEventKind::keyboardRegistered);
    const KeyboardHandler keyboard = host.keyboard;
    CHECK(keyboard != nullptr);

    // A player's own files whose names a careless plug-in might take for its own.
    writeFile("Nubilo.ini.old", playersOld);
    writeFile("Nubilo.ini.tmp", playersTmp);

    // Start without a settings file.
    CHECK(substituteRunPasses(1));
    const std::string defaults = readFile("Nubilo.ini");
    CHECK(defaults.size() == 574);
    CHECK(defaults == settingsText(5));
    CHECK(logMessages() == (std::vector<std::string>{"[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                                                     "[Nubilo] Weather.ini not found, using defaults.",
                                                     "[Nubilo] Default Weather.ini written.",
                                                     "[Nubilo] Applied weather: Clear"}));
    CHECK(appliedAs(0, "SUNNY", 0));
    CHECK(host.nativeCalls[1].args[0] <= 0xFFFFFFFFull);  // the hash's upper half was dropped
    CHECK(noneOfOurs());

    // The first advance: not a second before the interval, exactly at it.
    host.nativeCalls.clear();
    host.clock += 1799;
    CHECK(substituteRunPasses(3));
    CHECK(readFile("Nubilo.ini") == defaults);
    CHECK(logMessages().size() == 4);
    host.clock += 1;
    CHECK(substituteRunPasses(1));  // starts the rewrite
    CHECK(awaitJobs());
    const std::string snow = readFile("Nubilo.ini");
    CHECK(snow.size() == 574);
    CHECK(snow == settingsText(6));
    CHECK(logMessages().size() == 4);  // the result is taken, and logged, on the fibre
    CHECK(host.nativeCalls.empty());
    CHECK(noneOfOurs());
    CHECK(substituteRunPasses(1));  // takes it
    CHECK(logMessages().size() == 5);
    CHECK(substituteRunPasses(1));  // the reload sees the new last-write time
    std::vector<std::string> messages = logMessages();
    CHECK(messages.size() == 7);
    CHECK(messages.size() == 7 && messages[4] == "[Nubilo] Weather.ini updated. New star: Snow" &&
          messages[5] == "[Nubilo] single index at 6." && messages[6] == "[Nubilo] Applied weather: Snow");
    CHECK(appliedAs(0, "SNOW", 0x42B40000));

    // An edit is reloaded on the next pass; a custom cycle steps in memory only.
    Sleep(20);
    writeFile("Nubilo.ini", "[Settings]\r\nSet Rain Time = 1*\r\nSet Fog Time = 2**\r\n");
    host.nativeCalls.clear();
    CHECK(substituteRunPasses(1));
    messages = logMessages();
    CHECK(messages.size() == 9 && messages[7] == "[Nubilo] Custom weather cycle detected." &&
          messages[8] == "[Nubilo] Applied weather: Rain");
    CHECK(appliedAs(0, "RAIN", 0x41200000));
    const std::string custom = readFile("Nubilo.ini");
    const ULONGLONG customTime = writeTimeOf("Nubilo.ini");
    host.clock += 60;
    CHECK(duePass());
    host.clock += 119;
    CHECK(substituteRunPasses(1));
    host.clock += 1;
    CHECK(duePass());
    messages = logMessages();
    CHECK(messages.size() == 11 && messages[9] == "[Nubilo] Applied weather: Fog" &&
          messages[10] == "[Nubilo] Applied weather: Rain");
    CHECK(readFile("Nubilo.ini") == custom);
    CHECK(writeTimeOf("Nubilo.ini") == customTime);

    checkBusyFile();
    checkClockSetBackWhileBusy();
    checkAsideNameTaken();
    checkUnusableFileBesideAnAsideFile();
    checkSaveWithinOneTick();
    checkSymbolicLink();
    checkRefusedMoveIn();
    checkReadOnlyFile();
    checkSaveWhileFlushing();
    checkContentUnreadableUnderTheHold();
    checkSlowStepAndClockJumps();
    checkScannerOnTheTemporary();
    checkPendingAsideName();
    checkPendingTemporaryName();
    checkLateSaveIntoTheOldFile();
    checkHiddenAndSystem();
    const std::string custom2 = readFile("Nubilo.ini");

    // Keyboard messages and thread attach/detach change nothing.
    const std::size_t events = host.events.size();
    const std::size_t calls = host.nativeCalls.size();
    const std::string log = readFile("Weather.txt");
    for (HostDword key = 0; key < 256; ++key) substituteDeliverKey(key, 1, static_cast<HostByte>(key), 0, key & 1, 0, 1);
    HANDLE thread = CreateThread(nullptr, 0, idleThread, nullptr, 0, nullptr);
    CHECK(thread != nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CHECK(substituteRunPasses(3));
    CHECK(host.events.size() == events);
    CHECK(host.nativeCalls.size() == calls);
    CHECK(readFile("Weather.txt") == log);
    CHECK(readFile("Nubilo.ini") == custom2);

    // Unload: the script first, then the same keyboard callback.
    CHECK(FreeLibrary(module) != 0);
    CHECK(host.events.size() == events + 2);
    if (host.events.size() == events + 2) {
        CHECK(host.events[events].kind == HostEventKind::scriptUnregistered);
        CHECK(host.events[events].module == reinterpret_cast<HostModule>(module));
        CHECK(host.events[events + 1].kind == HostEventKind::keyboardUnregistered);
        CHECK(host.events[events + 1].keyboard == keyboard);
    }

    checkStartAfterACrash(plugin, custom2);
    checkRefusedRestore(plugin, custom2);
    checkLinksInterruptedRewrite(plugin, custom2);
    checkExclusiveHolder(plugin);
    checkReadersInRealTime(plugin);
    CHECK(readFile("Nubilo.ini.old") == playersOld && readFile("Nubilo.ini.tmp") == playersTmp);

    fs::current_path(work.parent_path());
    if (failed == 0) fs::remove_all(work);  // a failure's folder stays to be looked at
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
