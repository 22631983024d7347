// Loads the shipped Nubilo.asi beside the substitute ScriptHookRDR2.dll, runs its script on a
// Windows fibre pass by pass with the plug-in's clock under control, and checks what a player's
// game would see: the files on disk, the log, the native calls and the registrations.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
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

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
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

std::string settingsText(int star) {
    static const char* names[] = {"Rain", "Thunder", "Cloudy", "Dust Storms", "Fog", "Clear", "Snow", "Wind", "Snowlight", "Blizzard"};
    std::string text = "[Settings]\r\n";
    for (int i = 0; i < 10; ++i)
        text += std::string("Set ") + names[i] + " Time = 30" + (i == star ? "*" : "") + " ; int required. Max: 1440, Min: 1\r\n";
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
// it, and the first pass after it has finished takes its result.
constexpr DWORD jobMilliseconds = 300;

bool duePass() {
    if (!substituteRunPasses(1)) return false;
    Sleep(jobMilliseconds);
    return substituteRunPasses(1);
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

    // Attach: the script, then the keyboard callback, with the instance handle the loader gave.
    CHECK(host.events.size() == 2);
    CHECK(host.events[0].kind == HostEventKind::scriptRegistered);
    CHECK(host.events[0].module == reinterpret_cast<HostModule>(module));
    CHECK(host.events[1].kind == HostEventKind::keyboardRegistered);
    const KeyboardHandler keyboard = host.keyboard;
    CHECK(keyboard != nullptr);

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
    CHECK(!fs::exists("Nubilo.ini.tmp"));

    // The first advance: not a second before the interval, exactly at it.
    host.nativeCalls.clear();
    host.clock += 1799;
    CHECK(substituteRunPasses(3));
    CHECK(readFile("Nubilo.ini") == defaults);
    CHECK(logMessages().size() == 4);
    host.clock += 1;
    CHECK(substituteRunPasses(1));  // starts the rewrite
    Sleep(jobMilliseconds);
    const std::string snow = readFile("Nubilo.ini");
    CHECK(snow.size() == 574);
    CHECK(snow == settingsText(6));
    CHECK(logMessages().size() == 4);  // the result is taken, and logged, on the fibre
    CHECK(host.nativeCalls.empty());
    CHECK(!fs::exists("Nubilo.ini.old") && !fs::exists("Nubilo.ini.tmp"));
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

    // A file held open without delete sharing (an editor, say) cannot be renamed over: the star is
    // rewritten in place instead, and the reload follows as usual.
    Sleep(20);
    writeFile("Nubilo.ini", settingsText(9));
    CHECK(substituteRunPasses(1));  // reload: Blizzard
    HANDLE held = CreateFileA("Nubilo.ini", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(held != INVALID_HANDLE_VALUE);
    host.clock += 1800;
    CHECK(substituteRunPasses(1));
    Sleep(jobMilliseconds);
    CHECK(readFile("Nubilo.ini") == settingsText(0));
    CHECK(!fs::exists("Nubilo.ini.tmp"));
    CloseHandle(held);
    CHECK(substituteRunPasses(2));  // takes the result; reloads
    messages = logMessages();
    CHECK(messages.size() == 16 && messages[13] == "[Nubilo] Weather.ini updated. New star: Rain" &&
          messages[14] == "[Nubilo] single index at 0." && messages[15] == "[Nubilo] Applied weather: Rain");
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

    // A replace cut off by a crash between its two renames: the old file sits aside, none under
    // the file's name. The next start puts it back instead of writing defaults.
    fs::rename("Nubilo.ini", "Nubilo.ini.old");
    substituteReset(1700000000);
    module = LoadLibraryW(plugin.wstring().c_str());
    CHECK(module != nullptr);
    if (module != nullptr) {
        redirectClock(module);
        CHECK(substituteRunPasses(1));
        CHECK(readFile("Nubilo.ini") == custom2);
        CHECK(!fs::exists("Nubilo.ini.old"));
        messages = logMessages();
        CHECK(messages.size() == 3 && messages[1] == "[Nubilo] single index at 0.");
        FreeLibrary(module);
    }

    fs::current_path(work.parent_path());
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
