#include "testSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>

#include "cycle/mainLoop.h"
#include "settings/catalogue.h"
#include "substitute/substituteHost.h"

namespace fs = std::filesystem;

namespace {
std::int64_t nextWriteTime = 1600000000LL * 1000000000LL;
}

void ScratchTest::SetUp() {
    setenv("TZ", "UTC", 1);
    tzset();
    previous = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "nubilo-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    scratch = pattern;
    fs::permissions(scratch, fs::perms::all);  // open to the unprivileged parts of some tests
    fs::current_path(scratch);
    substituteReset();
    resetCycle();
}

void ScratchTest::TearDown() {
    substituteReset();
    fs::current_path(previous);
    std::error_code ignored;
    fs::permissions(scratch, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(scratch, ignored);
}

HostModule testModule() { return reinterpret_cast<HostModule>(std::uintptr_t{0x180000000}); }

std::string canonicalText(const std::vector<int>& minutes, int star) {
    std::string text = "[Settings]\n";
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i) {
        text += "Set " + weatherCatalogue[i].displayName + " Time = " + std::to_string(minutes[i]);
        if (static_cast<int>(i) == star) text += "*";
        text += " ; int required. Max: 1440, Min: 1\n";
    }
    return text;
}

std::string defaultSettingsText() {
    return "[Settings]\n"
           "Set Rain Time = 30 ; int required. Max: 1440, Min: 1\n"
           "Set Thunder Time = 30 ; int required. Max: 1440, Min: 1\n"
           "Set Cloudy Time = 30 ; int required. Max: 1440, Min: 1\n"
           "Set Dust Storms Time = 30 ; int required. Max: 1440, Min: 1\n"
           "Set Fog Time = 30 ; int required. Max: 1440, Min: 1\n"
           "Set Clear Time = 30* ; int required. Max: 1440, Min: 1\n"
           "Set Snow Time = 30 ; int required. Max: 1440, Min: 1\n"
           "Set Wind Time = 30 ; int required. Max: 1440, Min: 1\n"
           "Set Snowlight Time = 30 ; int required. Max: 1440, Min: 1\n"
           "Set Blizzard Time = 30 ; int required. Max: 1440, Min: 1\n";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void setWriteTime(const std::string& path, std::int64_t nanoseconds) {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = nanoseconds / 1000000000;
    times[1].tv_nsec = nanoseconds % 1000000000;
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

void touchFile(const std::string& path) {
    nextWriteTime += 1000000000;
    setWriteTime(path, nextWriteTime);
}

void writeFile(const std::string& path, const std::string& content) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
    }
    touchFile(path);
}

std::int64_t writeTimeOf(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

std::vector<std::string> logMessages() {
    static const std::regex layout(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] )");
    std::vector<std::string> messages;
    std::istringstream in(readFile("Weather.txt"));
    std::string line;
    while (std::getline(in, line)) {
        EXPECT_TRUE(std::regex_search(line, layout)) << "log line without its timestamp: " << line;
        messages.push_back(line.size() >= 22 ? line.substr(22) : line);
    }
    return messages;
}

void startPlugin(std::uint64_t passes) {
    substituteAttach(testModule());
    ASSERT_TRUE(substituteRunPasses(passes));
}

void runFor(std::int64_t seconds, std::uint64_t passes) {
    substituteHost.clock += seconds;
    ASSERT_TRUE(substituteRunPasses(passes));
}

std::vector<std::string> appliedWeathers(const std::vector<std::string>& messages) {
    const std::string prefix = "[Nubilo] Applied weather: ";
    std::vector<std::string> applied;
    for (const std::string& message : messages)
        if (message.rfind(prefix, 0) == 0) applied.push_back(message.substr(prefix.size()));
    return applied;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string joined;
    for (const std::string& line : lines) joined += line + "\n";
    return joined;
}

void asUnprivileged(const std::function<void()>& body) {
    if (geteuid() != 0) {
        body();
        return;
    }
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const uid_t nobody = 65534;
        if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(3);
        try {
            body();
        } catch (const std::exception& error) {
            ADD_FAILURE() << "unprivileged part threw: " << error.what();
        }
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the unprivileged part died";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the unprivileged part failed (its messages are above)";
}
