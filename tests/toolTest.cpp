// The nubilo tool: check's verdicts and exit statuses, simulate's timeline, and agreement with
// the plug-in on every file of the corpus.
//
// Index
//   check: the full report, every verdict, command-line mistakes
//   simulate: the default day, its private directory, a given file with its log
//   agreement with the plug-in on the corpus; idle passes skipped change nothing
//   the JSON writer; designed files run as designed
//   stuck verdicts against the loop; ignored lines; look-alike keys
//   the designer's inputs: typed minutes, designs as numbers; a custom cycle written back; the
//   start after an edit of the order
#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>

#include "check.h"
#include "designer/design.h"
#include "json.h"
#include "nubiloTool.h"
#include "simulate.h"
#include "settings/settingsFile.h"
#include "testSupport.h"

namespace fs = std::filesystem;

namespace {

const fs::path corpus = NUBILO_CORPUS_DIR;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun nubilo(std::vector<std::string> args) {
    std::ostringstream out, err;
    int status = runNubilo(args, out, err);
    return {status, out.str(), err.str()};
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

using Tool = ScratchTest;

TEST_F(Tool, CheckReportsEveryLineTheTableTheCycleAndTheLog) {
    fs::copy_file(corpus / "custom-repeats.ini", "Nubilo.ini");
    ToolRun run = nubilo({"check"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "Checking Nubilo.ini (4 lines)\n"
              "\n"
              "line 1: section header (ignored, whatever follows on the line)\n"
              "  | [Settings]\n"
              "line 2: setting Rain = 20 minutes; 2 marks: marked, no star; star lookup sees a \"*\"\n"
              "  | Set Rain Time = 20**\n"
              "line 3: setting Fog = 10 minutes; 1 mark: carries the star; star lookup sees a \"*\"\n"
              "  | Set Fog Time = 10*\n"
              "line 4: setting Rain = 15 minutes; 2 marks: marked, no star; star lookup sees a \"*\"\n"
              "  | Set Rain Time = 15** ; again\n"
              "\n"
              "Weather       Minutes        Marks  Star\n"
              "Rain          15             2\n"
              "Thunder       30 (default)   -\n"
              "Cloudy        30 (default)   -\n"
              "Dust Storms   30 (default)   -\n"
              "Fog           10             1      *\n"
              "Clear         30 (default)   -\n"
              "Snow          30 (default)   -\n"
              "Wind          30 (default)   -\n"
              "Snowlight     30 (default)   -\n"
              "Blizzard      30 (default)   -\n"
              "\n"
              "Cycle: custom cycle Rain \u2192 Fog \u2192 Rain, in memory only; starts with Fog (position 2)\n"
              "\n"
              "On loading this file the plug-in logs:\n"
              "  [Nubilo] Custom weather cycle detected.\n"
              "  [Nubilo] Applied weather: Fog\n"
              "\n"
              "Usable: the plug-in keeps this file.\n");
}

TEST_F(Tool, CheckNamesEveryVerdict) {
    ToolRun unknown = nubilo({"check", (corpus / "unknown-keys.ini").string()});
    EXPECT_EQ(unknown.status, 0);
    for (const char* part : {
             "line 2: unknown key \"set rain time\", ignored (did you mean \"Set Rain Time\"?)",
             "line 3: unknown key \"Set\u27E82 spaces\u27E9Dust Storms Time\", ignored (did you mean \"Set Dust Storms Time\"?)",
             "line 4: unknown key \"SetRain Time\", ignored (did you mean \"Set Rain Time\"?)",
             "line 5: unknown key \"Set Rian Time\", ignored (did you mean \"Set Rain Time\"?)",
             "line 6: setting Snow = 12 minutes\n",
             "line 7: unknown key \"Time\", ignored\n",
             "line 8: unknown key \"; indented comment\", ignored\n",
             "line 9: section header",
             "line 10: ignored: no \"=\"",
             "Cycle: no star on a setting line: Clear is re-applied after 30 minutes and the lone \"*\" is written "
             "onto it",
         })
        EXPECT_TRUE(contains(unknown.out, part)) << part << "\n" << unknown.out;

    ToolRun invalid = nubilo({"check", (corpus / "all-invalid.ini").string()});
    EXPECT_EQ(invalid.status, 1);
    for (const char* part : {
             "line 2: rejected value for \"Set Rain Time\": out of 1..1440; the line counts for nothing",
             "line 3: rejected value for \"Set Thunder Time\": out of 1..1440; the line and its 1 mark count for "
             "nothing; star lookup sees a \"*\"\n",
             "line 5: rejected value for \"Set Dust Storms Time\": no digits",
             "line 7: rejected value for \"Set Clear Time\": beyond 32 bits",
             "line 10: rejected value for \"Set Snowlight Time\": out of 1..1440; the line counts for nothing; star "
             "lookup sees a \"*\"",
             "  [Nubilo] Unusable Weather.ini saved as Nubilo.ini.bak before writing defaults.\n"
             "  [Nubilo] Default Weather.ini written.\n"
             "  [Nubilo] Applied weather: Clear\n",
             "Not usable: no line has a known key with a valid value. The plug-in copies it to Nubilo.ini.bak",
         })
        EXPECT_TRUE(contains(invalid.out, part)) << part << "\n" << invalid.out;

    ToolRun bom = nubilo({"check", (corpus / "bom-crlf.ini").string()});
    EXPECT_TRUE(contains(bom.out, "(11 lines, starts with a UTF-8 byte-order mark, skipped)"));
    // CR LF is Notepad's line end, not shown as part of the line; a CR elsewhere still is.
    EXPECT_TRUE(contains(bom.out, "  | Set Fog Time = 25* ; int required. Max: 1440, Min: 1\n"));
    EXPECT_FALSE(contains(bom.out, "\\r\n"));
    EXPECT_EQ(analyseSettings("Set Fog Time = 5\r\r\n", false).lines[0].shown, "Set Fog Time = 5\\r");
    // The file is read once: a second reading would take that CR too.
    writeFile("crcrlf.ini", "Set Fog Time = 5\r\r\n");
    EXPECT_TRUE(contains(nubilo({"check", "crcrlf.ini"}).out, "  | Set Fog Time = 5\\r\n"));
    EXPECT_TRUE(contains(bom.out, "Cycle: catalogue order from Fog;"));

    ToolRun wide = nubilo({"check", (corpus / "utf16be-custom-repeats.ini").string()});
    EXPECT_EQ(wide.status, 0);
    EXPECT_TRUE(contains(wide.out, "(4 lines, UTF-16 BE with byte-order mark, read as ASCII)"));
    EXPECT_TRUE(contains(wide.out, "  | Set Fog Time = 10*\n"));  // CR LF on disk, read as text mode reads it
    EXPECT_TRUE(contains(wide.out, "Cycle: custom cycle Rain \u2192 Fog \u2192 Rain"));
    ToolRun wideBad = nubilo({"check", (corpus / "utf16le-bad-value.ini").string()});
    EXPECT_TRUE(contains(wideBad.out, "line 4: unknown key \"Set Cl\u27E8byte 80\u27E9ar Time\", ignored (did you mean \"Set Clear Time\"?)"))
        << wideBad.out;

    ToolRun comment = nubilo({"check", (corpus / "star-in-comment.ini").string()});
    EXPECT_TRUE(contains(comment.out, "line 6: setting Fog = 30 minutes; star lookup sees a \"*\"\n"));
    EXPECT_TRUE(contains(comment.out, "note: the star lookup sees the star on Fog, so the first step goes to Clear"));

    ToolRun stuck = nubilo({"check", (corpus / "clear-two-marks.ini").string()});
    EXPECT_TRUE(contains(stuck.out, "Cycle: stuck on Rain: the star lookup finds Clear, but the file holds 2"));

    ToolRun odd = nubilo({"check", (corpus / "nul-and-odd-bytes.ini").string()});
    EXPECT_TRUE(contains(odd.out, "  | Set Rain Time = 7*\\x00\n"));
    EXPECT_TRUE(contains(odd.out, "  | \\xFF\\xFE=\\x01\n"));

    // Read as the Windows plug-in reads it, here too: a Ctrl-Z ends the text, a blank CR LF line is empty.
    ToolRun ctrlZ = nubilo({"check", (corpus / "ctrl-z.ini").string()});
    EXPECT_TRUE(contains(ctrlZ.out, "Checking " + (corpus / "ctrl-z.ini").string() + " (2 lines)\n")) << ctrlZ.out;
    EXPECT_TRUE(contains(ctrlZ.out, "Cycle: catalogue order from Rain;")) << ctrlZ.out;
    EXPECT_FALSE(contains(ctrlZ.out, "Set Fog Time")) << ctrlZ.out;
    ToolRun blank = nubilo({"check", (corpus / "blank-crlf-lines.ini").string()});
    for (const char* part : {"line 2: empty\n", "line 4: empty\n", "line 5: empty\n", "line 8: empty\n"})
        EXPECT_TRUE(contains(blank.out, part)) << part << "\n" << blank.out;
    EXPECT_FALSE(contains(blank.out, "no \"=\"")) << blank.out;

    ToolRun empty = nubilo({"check", (corpus / "empty.ini").string()});
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(contains(empty.out, "replaces this empty file with defaults"));
    EXPECT_FALSE(contains(empty.out, "Nubilo.ini.bak"));
}

TEST_F(Tool, CommandLineMistakesGiveOneLineAndStatusTwo) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"chek"},
        {"check", "--verbose"},
        {"check", "a.ini", "b.ini"},
        {"check", "missing.ini"},
        {"simulate", "--hours"},
        {"simulate", "--hours", "0"},
        {"simulate", "--hours", "-3"},
        {"simulate", "--hours", "lots"},
        {"simulate", "--hours", "9000"},
        {"simulate", "--settings", "missing.ini"},
        {"simulate", "extra"},
    };
    for (const auto& args : wrong) {
        ToolRun run = nubilo(args);
        EXPECT_EQ(run.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"check", "--help"}, {"simulate", "--help"}}) {
        ToolRun run = nubilo(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(contains(run.out, "usage: nubilo")) << run.out;
        EXPECT_TRUE(contains(run.out, "examples:")) << run.out;
    }
}

TEST_F(Tool, SimulateShowsTheDefaultCycleQuicklyAndTouchesNoFile) {
    const auto started = std::chrono::steady_clock::now();
    ToolRun run = nubilo({"simulate"});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 5.0);  // about 0.2 s here; generous for sanitizer builds
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(run.out,
                         "time      weather      game name   wind    showed\n"
                         "00:00:00  Clear        SUNNY         0.0   30m 1s\n"
                         "00:30:01  Snow         SNOW         90.0   30m 1s\n"
                         "01:00:02  Wind         STORM       120.6   30m 1s\n"))
        << run.out;
    EXPECT_TRUE(contains(run.out, "04:00:08  Dust Storms  SANDSTORM   159.6   30m 1s\n"));
    EXPECT_TRUE(contains(run.out, "|CCSSWLLBRRTOODFFCSSWLLBRRTOODFFCSSWLLBRRTOODFFCSSWLLBRRTOODFFCSSWLLBRRTO|  one mark = 20m\n"));
    EXPECT_TRUE(fs::is_empty(scratch));  // nothing left here, and the private copy is gone
}

// The private directory goes whatever happens; where none can be made, simulate says so and stops.
TEST_F(Tool, SimulateLeavesNoPrivateDirectoryBehind) {
    const char* saved = std::getenv("TMPDIR");
    const std::string before = saved != nullptr ? saved : "";
    fs::create_directory("tmp");
    setenv("TMPDIR", (scratch / "tmp").c_str(), 1);
    EXPECT_EQ(nubilo({"simulate", "--hours", "1"}).status, 0);
    EXPECT_TRUE(fs::is_empty("tmp"));
    writeFile("notADirectory", "x");
    setenv("TMPDIR", (scratch / "notADirectory").c_str(), 1);
    const ToolRun refused = nubilo({"simulate", "--hours", "1"});
    if (saved != nullptr)
        setenv("TMPDIR", before.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(contains(refused.err, "nubilo simulate: cannot make a private directory: ")) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(readFile("notADirectory"), "x");
    EXPECT_EQ(fs::current_path(), scratch);
}

TEST_F(Tool, SimulateRunsACopyOfTheGivenFileAndCanShowTheLog) {
    fs::copy_file(corpus / "custom-repeats.ini", "Nubilo.ini");
    const std::string before = readFile("Nubilo.ini");
    const std::int64_t beforeTime = writeTimeOf("Nubilo.ini");
    ToolRun run = nubilo({"simulate", "--settings", "Nubilo.ini", "--hours", "1", "--log"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(run.out,
                         "00:00:00  Fog          FOG          50.0   10m\n"
                         "00:10:00  Rain         RAIN         10.0   15m\n"
                         "00:25:00  Rain         RAIN         10.0   15m\n"
                         "00:40:00  Fog          FOG          50.0   10m\n"
                         "00:50:00  Rain         RAIN         10.0   10m (to the end)\n"))
        << run.out;
    EXPECT_TRUE(contains(run.out, "  [2026-01-01 00:00:00] [Nubilo] Custom weather cycle detected.\n"));
    EXPECT_TRUE(contains(run.out, "  [2026-01-01 00:50:00] [Nubilo] Applied weather: Rain\n"));
    EXPECT_EQ(readFile("Nubilo.ini"), before);
    EXPECT_EQ(writeTimeOf("Nubilo.ini"), beforeTime);

    EXPECT_EQ(nubilo({"check"}).status, 0);
    EXPECT_EQ(readFile("Nubilo.ini"), before);
    EXPECT_EQ(writeTimeOf("Nubilo.ini"), beforeTime);
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);

    // A rejected key is logged byte for byte; shown, an escape sequence in it is only text.
    const std::string odd = "Set Fog Tim\x1B[2Je = abc\nSet Fog Time = 5*\n";
    writeFile("odd.ini", odd);
    const ToolRun oddRun = nubilo({"simulate", "--settings", "odd.ini", "--hours", "1", "--log"});
    EXPECT_TRUE(contains(oddRun.out, "] [Nubilo] Invalid value for key Set Fog Tim\\x1B[2Je, using default.\n")) << oddRun.out;
    EXPECT_EQ(oddRun.out.find('\x1B'), std::string::npos);
    const std::string oddJson = simulationJson(simulateCycle(&odd, 3600), 3600);
    EXPECT_TRUE(contains(oddJson, "Tim\\\\x1B[2Je")) << oddJson;
}

TEST_F(Tool, SimulateShowsTheWholeLogPastACtrlZItQuotes) {
    // A key of a UTF-16 file can carry a Ctrl-Z into the log's line on it: the lines after it count too.
    std::string settings = "\xFF\xFE";
    for (char c : std::string("Set\x1A" "Odd Time = x\r\nSet Wind Time = 9*\r\n")) settings += {c, '\0'};
    const Simulation run = simulateCycle(&settings, 60);
    EXPECT_TRUE(contains(run.log, "Invalid value for key Set\x1A" "Odd Time, using default.\n")) << run.log;
    EXPECT_TRUE(contains(run.log, "[Nubilo] Applied weather: Wind\n")) << run.log;
}

TEST_F(Tool, CheckAndThePluginAgreeOnEveryCorpusFile) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        fs::remove("Weather.txt");
        fs::remove("Nubilo.ini.bak");
        fs::copy_file(entry.path(), "Nubilo.ini", fs::copy_options::overwrite_existing);
        const std::string text = readFile("Nubilo.ini");
        const CheckReport report = analyseSettings(text, text.empty());
        ToolRun run = nubilo({"check"});
        EXPECT_EQ(run.status, report.wouldReplace ? 1 : 0);

        std::int32_t startIndex = 0;
        std::vector<std::int32_t> marked;
        const IntervalMap intervals = loadSettings(startIndex, marked);
        EXPECT_EQ(intervals, report.load.read.intervals);
        EXPECT_EQ(marked, report.load.read.markedIndexes);
        EXPECT_EQ(startIndex, report.load.read.startIndex);
        EXPECT_EQ(logMessages(), report.logLines);
        // The report shows the log lines escaped, as it shows the file's.
        for (const std::string& line : report.logLines)
            EXPECT_TRUE(contains(run.out, "  " + printableLine(line, std::string::npos) + "\n")) << line;
    }
    EXPECT_GE(files, 20);
}

TEST_F(Tool, SimulationSkippingIdlePassesShowsWhatEverySecondShows) {
    // The designer and `simulate` skip the passes in which nothing can happen; a pass every
    // second must give the very same weathers at the very same seconds, and the same log.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        const std::string settings = readFile(entry.path().string());
        const Simulation skipping = simulateCycle(&settings, 8 * 3600, false);
        const Simulation everySecond = simulateCycle(&settings, 8 * 3600, true);
        ASSERT_EQ(skipping.shown.size(), everySecond.shown.size());
        for (std::size_t i = 0; i < skipping.shown.size(); ++i) {
            EXPECT_EQ(skipping.shown[i].at, everySecond.shown[i].at) << i;
            EXPECT_EQ(skipping.shown[i].displayName, everySecond.shown[i].displayName) << i;
            EXPECT_EQ(skipping.shown[i].wind, everySecond.shown[i].wind) << i;
        }
        EXPECT_EQ(skipping.log, everySecond.log);
        EXPECT_FALSE(skipping.shown.empty());
    }
    EXPECT_GE(files, 20);
    const Simulation none = simulateCycle(nullptr, 3600, false);
    EXPECT_EQ(simulationJson(none, 3600).rfind(
                  "{\"seconds\":3600,\"bands\":[{\"weather\":\"Clear\",\"game\":\"SUNNY\",\"start\":0,\"end\":1801,\"wind\":0.0},"
                  "{\"weather\":\"Snow\",\"game\":\"SNOW\",\"start\":1801,\"end\":3600,\"wind\":90.0}],\"log\":[",
                  0),
              0u);
}

TEST(ToolJson, WritesCommasOnlyBetweenValuesAndEscapesEveryByteASettingsFileCanHold) {
    JsonText json;
    jsonOpen(json, '{');
    jsonKey(json, "a");
    jsonOpen(json, '[');
    jsonNumber(json, -1);
    jsonBool(json, true);
    jsonString(json, "x");
    jsonOpen(json, '{');
    jsonClose(json, '}');
    jsonOpen(json, '[');
    jsonClose(json, ']');
    jsonClose(json, ']');
    jsonKey(json, "b");
    jsonDecimal(json, 2.46, 1);
    jsonKey(json, "c");
    jsonValue(json, "{\"d\":[]}");
    jsonClose(json, '}');
    EXPECT_EQ(json.text, "{\"a\":[-1,true,\"x\",{},[]],\"b\":2.5,\"c\":{\"d\":[]}}");
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString(std::string("\t\r\n\0\x7F\x80\xFF", 7)), "\"\\u0009\\u000D\\u000A\\u0000\\u007F\\u0080\\u00FF\"");
    EXPECT_EQ(jsonString("Set Fog Time = 5*"), "\"Set Fog Time = 5*\"");
}

namespace {

// The cycle a design runs, read from its start.
std::vector<std::int32_t> ringOf(const Design& design) {
    std::vector<std::int32_t> ring;
    for (std::size_t i = 0; i < design.order.size(); ++i) ring.push_back(design.order[(design.start + i) % design.order.size()]);
    return ring;
}

}  // namespace

TEST_F(Tool, DesignedFilesMakeThePluginRunTheDesignedCycle) {
    struct Case {
        std::vector<std::int32_t> order;
        std::size_t start;
        std::vector<std::int32_t> ring;  // what the plug-in runs
        bool canonical;                  // the plug-in's own layout, with its moving star
    };
    const Case cases[] = {
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 4, {4, 5, 6, 7, 8, 9, 0, 1, 2, 3}, true},  // catalogue order from Fog
        {{5, 6, 7, 8, 9, 0, 1, 2, 3, 4}, 0, {5, 6, 7, 8, 9, 0, 1, 2, 3, 4}, true},  // the same ring, written from Clear
        {{0, 4, 5, 0}, 0, {0, 4, 5, 0}, false},                                     // Rain, Fog, Clear, Rain again
        {{0, 4, 5, 0}, 3, {0, 0, 4, 5}, false},                                     // ... from the second Rain
        {{6, 2}, 1, {2, 6}, false},                                                 // only two weathers
        {{3}, 0, {3, 3}, false},                                                    // one alone: marked twice
        {{1, 0, 2, 3, 4, 5, 6, 7, 8, 9}, 0, {1, 0, 2, 3, 4, 5, 6, 7, 8, 9}, false}, // all ten, another order
    };
    for (const Case& c : cases) {
        Design design = defaultDesign();
        design.order = c.order;
        design.start = c.start;
        for (std::size_t i = 0; i < design.minutes.size(); ++i) design.minutes[i] = static_cast<std::int32_t>(7 + 3 * i);
        SCOPED_TRACE(designJson(design));
        const std::string text = designedSettingsText(design);
        // The marks and nothing else carry stars: one in the plug-in's layout, one and then two a line.
        EXPECT_EQ(countStars(text), c.canonical ? 1u : 1 + 2 * (c.ring.size() - 1));
        EXPECT_EQ(text.rfind("[Settings]\nSet ", 0) == 0, c.canonical);

        const CheckReport report = analyseSettings(text, false);
        EXPECT_FALSE(report.wouldReplace);
        EXPECT_FALSE(report.stuck);
        const Design read = designOf(report);
        EXPECT_EQ(ringOf(read), c.ring);
        EXPECT_EQ(read.minutes, design.minutes);

        // The plug-in's own loop on the file: the weathers come in the ring's order, each for
        // its minutes (plus the one second of the star's reload in catalogue order).
        const Simulation run = simulateCycle(&text, 6 * 3600);
        ASSERT_GE(run.shown.size(), c.ring.size() + 1);
        for (std::size_t i = 0; i + 1 < run.shown.size(); ++i) {
            const auto index = static_cast<std::size_t>(c.ring[i % c.ring.size()]);
            EXPECT_EQ(run.shown[i].displayName, weatherCatalogue[index].displayName) << i;
            EXPECT_EQ(run.shown[i + 1].at - run.shown[i].at, design.minutes[index] * 60 + (c.canonical ? 1 : 0)) << i;
        }
    }
    EXPECT_EQ(designedSettingsText(Design{}), "");
}

// Every verdict about a stuck or surprising cycle agrees with the plug-in's own loop: six
// simulated hours show one weather exactly when check says stuck (or names a one-weather design).
TEST_F(Tool, StuckVerdictsAgreeWithTheLoopAndSayWhyAndHowToFixIt) {
    struct Case {
        const char* name;
        std::string text;
        const char* reason;  // a part of the stuck reason; nullptr: not stuck
        const char* warning;  // a part of a warning; nullptr: none
    };
    const std::string defaults = canonicalText(std::vector<int>(10, 30), 5);
    const std::vector<Case> cases = {
        {"no star at all", "[Settings]\nSet Rain Time = 10\n", "no line has a \"*\"", nullptr},
        {"a second star in a comment", defaults + "; my * favourite\n", "remove the \"*\" on line 12", nullptr},
        {"two stars alone", "Set Fog Time = 30**\n", "line 1 (Fog) has two stars", nullptr},
        {"a star on a rejected line and one other", "Set Rain Time = 5000*\nSet Fog Time = 10*\n",
         "must be the only one in the file", nullptr},
        {"a star on a rejected line and one in a comment", "Set Rain Time = 5000*\nSet Fog Time = 10\n; *\n",
         "remove the \"*\" on line 3", nullptr},
        {"two single stars", "Set Fog Time = 10*\nSet Clear Time = 20*\n", nullptr,
         "custom cycle: Fog \u2192 Clear, starting with Clear"},
        {"one weather by design", "Set Snow Time = 5*\nSet Snow Time = 5**\n", nullptr, nullptr},
        {"a lone star off the setting lines", "; *\nSet Rain Time = 3\n", nullptr, nullptr},
        {"the default file", defaults, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CheckReport report = analyseSettings(c.text, false);
        EXPECT_EQ(report.stuck, c.reason != nullptr);
        if (c.reason != nullptr) {
            EXPECT_TRUE(contains(stuckReason(report), c.reason)) << stuckReason(report);
            EXPECT_TRUE(contains(stuckReason(report), "Fix: ")) << stuckReason(report);
            EXPECT_TRUE(contains(conclusionOf(report), "stuck"));
        }
        const std::string note = twoStarNote(report);
        EXPECT_EQ(note.empty(), c.warning == nullptr) << note;
        if (c.warning != nullptr) {
            EXPECT_TRUE(contains(note, c.warning)) << note;
        }

        const Simulation run = simulateCycle(&c.text, 6 * 3600);
        std::set<std::string> shown;
        for (const auto& band : run.shown) shown.insert(band.displayName);
        const bool oneWeatherByDesign = contains(cycleText(report), "one weather only");
        EXPECT_EQ(shown.size() == 1, report.stuck || oneWeatherByDesign) << shown.size() << " weathers in 6 h";
    }

    // Only the loader's star carries it; earlier single stars say where it is.
    const CheckReport two = analyseSettings("Set Fog Time = 10*\nSet Clear Time = 20*\n", false);
    ASSERT_EQ(two.lines.size(), 2u);
    EXPECT_TRUE(contains(lineVerdict(two, two.lines[0]), "the star is the one on line 2")) << lineVerdict(two, two.lines[0]);
    EXPECT_TRUE(contains(lineVerdict(two, two.lines[1]), "carries the star"));
    const std::string note = twoStarNote(two);
    EXPECT_EQ(note.rfind("lines 1 and 2 each carry one star (Fog and Clear).", 0), 0u) << note;
    EXPECT_TRUE(contains(note, "remove the star on line 1 to run all ten")) << note;

    // With the star on Blizzard, the catalogue's last, the plug-in goes on to Rain, its first.
    EXPECT_EQ(twoStarNote(analyseSettings("Set Fog Time = 10*\nSet Blizzard Time = 20*\n", false)),
              "lines 1 and 2 each carry one star (Fog and Blizzard). Marked lines make a custom cycle: Fog \u2192 Blizzard, "
              "starting with Blizzard, not all ten weathers. If you moved the star to Blizzard, remove the star on line 1 "
              "to run all ten weathers in order from there.");
    const std::string moved = "Set Fog Time = 10\nSet Blizzard Time = 20*\n";
    const std::string seen = "Set Blizzard Time = 20 ; *\n";  // the lookup's star, not the start
    EXPECT_TRUE(contains(cycleText(analyseSettings(seen, false)),
                         "note: the star lookup sees the star on Blizzard, so the first step goes to Rain"));
    for (const std::string& text : {moved, seen}) {
        const Simulation run = simulateCycle(&text, 3600);
        ASSERT_GE(run.shown.size(), 2u) << text;
        EXPECT_EQ(run.shown[1].displayName, "Rain") << text;
    }

    // However many single stars, only the last carries it, line by line and in runs; in runs the
    // equal lines fold, the loader's star alone standing apart from the lines like it.
    for (const std::string& tail : {std::string(), std::string("; end\n")}) {
        std::string many(5, '\n');
        for (int i = 0; i < 200; ++i) many += "Set Fog Time = 10*\n";
        const CheckReport each = analyseSettings(many + tail, false, LineDetail::each);
        const CheckReport runs = analyseSettings(many + tail, false, LineDetail::runs);
        ASSERT_EQ(each.lines.size(), tail.empty() ? 205u : 206u);
        ASSERT_EQ(runs.lines.size(), tail.empty() ? 3u : 4u);
        std::size_t number = 1;
        for (const CheckLine& run : runs.lines) {
            EXPECT_EQ(run.number, number);
            for (std::size_t k = 0; k < run.count; ++k, ++number)
                EXPECT_EQ(lineVerdict(runs, run), lineVerdict(each, each.lines[number - 1])) << number;
        }
        EXPECT_EQ(number, each.lines.size() + 1);
        EXPECT_EQ(lineVerdict(each, each.lines[150]),
                  "setting Fog = 10 minutes; 1 mark: marked; the star is the one on line 205; star lookup sees a \"*\"");
        EXPECT_TRUE(contains(lineVerdict(runs, runs.lines[2]), "1 mark: carries the star"));
        EXPECT_EQ(runs.lines[2].number, 205u);
    }
    // Single stars among others: runs say line by line what each line says.
    const std::string mixed = "Set Fog Time = 10*\nSet Fog Time = 10*\n\nSet Fog Time = 10*\nSet Fog Time = 10*\n"
                              "Set Rain Time = 5*\nSet Rain Time = 5*\nSet Fog Time = 10*\n\n\n";
    const CheckReport each = analyseSettings(mixed, false, LineDetail::each);
    const CheckReport runs = analyseSettings(mixed, false, LineDetail::runs);
    std::size_t line = 0;
    for (const CheckLine& run : runs.lines)
        for (std::size_t k = 0; k < run.count; ++k, ++line)
            EXPECT_EQ(lineVerdict(runs, run), lineVerdict(each, each.lines.at(line))) << line + 1;
    EXPECT_EQ(line, 10u);
    EXPECT_LT(runs.lines.size(), each.lines.size());
}

TEST_F(Tool, CheckCountsIgnoredLinesAndMarksOnlyUnsetWeathersAsDefault) {
    writeFile("Nubilo.ini", "[Settings]\nSet Rain Time = 30*\nSet Fog Time = abc\nnonsense\nSet Snow Tme = 4\n");
    const CheckReport report = analyseSettings(readFile("Nubilo.ini"), false);
    EXPECT_EQ(report.ignoredLines, (std::vector<std::size_t>{3, 4, 5}));
    const ToolRun run = nubilo({"check"});
    EXPECT_TRUE(contains(run.out, "\nRain          30             1      *\n")) << run.out;  // set to 30: no "(default)"
    EXPECT_TRUE(contains(run.out, "\nFog           30 (default)   -\n"));
    EXPECT_TRUE(contains(run.out, "\n3 lines are ignored: line 3, line 4, line 5\n")) << run.out;
    const ToolRun json = nubilo({"check", "--json"});
    EXPECT_TRUE(contains(json.out, "\"ignoredLines\":[3,4,5]")) << json.out;

    // Beyond the hundred listed the count goes on.
    std::string many = "Set Fog Time = 5*\n";
    for (int i = 0; i < 250; ++i) many += "nonsense\n";
    writeFile("Nubilo.ini", many);
    const std::string manyOut = nubilo({"check"}).out;
    EXPECT_TRUE(contains(manyOut, "\n250 lines are ignored: the first 100: line 2, line 3, ")) << manyOut;
    EXPECT_TRUE(contains(manyOut, ", line 100, line 101\n")) << manyOut;
}

TEST_F(Tool, LookAlikeKeysShowWhatMakesThemDiffer) {
    struct Case {
        const char* text;
        const char* verdict;
        bool suggested;  // "did you mean" follows
    };
    const Case cases[] = {
        {"Set\tFog Time = 5\n", "unknown key \"Set\u27E8tab\u27E9Fog Time\"", true},
        {"Set Fog\xC2\xA0Time = 5\n", "unknown key \"Set Fog\u27E8no-break space\u27E9Time\"", true},
        {"Set F\xD0\xBEg Time = 5\n", "unknown key \"Set F\u27E8non-ASCII U+043E\u27E9g Time\"", true},  // Cyrillic o
        {"Set \xE2\x80\xAE" "emiT goF = 5\n", "unknown key \"Set \u27E8non-ASCII U+202E\u27E9emiT goF\"", false},  // RTL override
        {"Set Fog Time\xFF = 5\n", "unknown key \"Set Fog Time\u27E8byte FF\u27E9\"", true},
        {"Set Fgo Time = 5\n", "unknown key \"Set Fgo Time\", ignored (did you mean", true},  // two letters off
        {"Set Fgo Tme = 5\n", "unknown key \"Set Fgo Tme\", ignored\n", false},            // three: another word
    };
    for (const Case& c : cases) {
        const CheckReport report = analyseSettings(c.text, false);
        ASSERT_EQ(report.lines.size(), 1u);
        const std::string verdict = lineVerdict(report, report.lines[0]) + "\n";
        EXPECT_TRUE(contains(verdict, c.verdict)) << verdict;
        EXPECT_EQ(contains(verdict, "(did you mean \"Set Fog Time\"?)"), c.suggested) << verdict;
    }
    // Every control byte and DEL inside a key is named, never passed through to the terminal.
    const std::string names[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "tab", "", "VT", "FF", "CR",
                                 "SO", "SI", "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM", "SUB",
                                 "ESC", "FS", "GS", "RS", "US"};
    for (int byte = 0; byte <= 0x7F; byte = byte == 0x1F ? 0x7F : byte + 1) {
        if (byte == '\n') continue;  // it ends the line
        const std::string name = byte == 0x7F ? "DEL" : names[byte];
        const std::string line = "Set Fog Tim" + std::string(1, static_cast<char>(byte)) + "e = 5\n";
        // A Ctrl-Z ends a single-byte file's text: only a UTF-16 file carries one into a key.
        std::string bytes = byte == 0x1A ? "\xFF\xFE" : line;
        if (byte == 0x1A)
            for (char c : line) bytes += {c, '\0'};
        const CheckReport report = analyseSettings(bytes, false);
        ASSERT_EQ(report.lines.size(), 1u) << byte;
        const std::string verdict = lineVerdict(report, report.lines[0]);
        EXPECT_TRUE(contains(verdict, "unknown key \"Set Fog Tim\u27E8" + name + "\u27E9e\", ignored (did you mean \"Set Fog Time\"?)"))
            << verdict;
        EXPECT_EQ(verdict.find(static_cast<char>(byte)), std::string::npos) << byte;
    }
    // Nor does DEL reach the terminal or the page by another way: a key's first or last byte, the
    // line shown under the verdict, or the log line of a rejected value.
    writeFile("Nubilo.ini", "\x7FSet Fog Time = 5\nSet Fog Time\x7F = abc\nSet Fog Time = 5*\n");
    const ToolRun text = nubilo({"check"});
    const ToolRun json = nubilo({"check", "--json"});
    EXPECT_EQ(text.out.find('\x7F'), std::string::npos) << text.out;
    EXPECT_FALSE(contains(json.out, "\\u007F")) << json.out;
    for (const std::string verdict : {"unknown key \"\u27E8DEL\u27E9Set Fog Time\", ignored (did you mean \"Set Fog Time\"?)",
                                      "rejected value for \"Set Fog Time\u27E8DEL\u27E9\": no digits; the line counts for "
                                      "nothing (did you mean \"Set Fog Time\"?)"}) {
        EXPECT_TRUE(contains(text.out, ": " + verdict + "\n")) << text.out;
        EXPECT_TRUE(contains(json.out, "{\"verdict\":" + jsonString(verdict) + ",")) << json.out;
    }
    EXPECT_TRUE(contains(text.out, "  | \\x7FSet Fog Time = 5\n")) << text.out;
    EXPECT_TRUE(contains(text.out, "  [Nubilo] Invalid value for key Set Fog Time\\x7F, using default.\n")) << text.out;
}

// The designer's own inputs go through the plug-in's readers: typed minutes, and designs.
TEST(DesignerInput, TypedMinutesAreReadAsThePluginReadsThemAndDesignsOnlyAsWritten) {
    EXPECT_EQ(minutesJson("45"), "{\"ok\":true,\"minutes\":45,\"note\":\"\"}");
    EXPECT_EQ(minutesJson("7.5"), "{\"ok\":true,\"minutes\":7,\"note\":\"Nubilo reads \\\"7.5\\\" as 7 minutes.\"}");
    for (const char* rejected : {"0", "2000", "abc", "-3", "", "99999999999"}) {
        const std::string json = minutesJson(rejected);
        EXPECT_EQ(json.rfind("{\"ok\":false,\"reason\":\"Nubilo would reject", 0), 0u) << json;
        EXPECT_TRUE(contains(json, "from 1 to 1440")) << json;
    }

    Design design = defaultDesign();
    design.order = {4, 5, 4};
    design.start = 2;
    design.minutes[4] = 1440;
    // The page hands a design over as numbers: the order, then the ten minutes.
    const auto numbersOf = [](const Design& d) {
        std::vector<std::int32_t> numbers = d.order;
        numbers.insert(numbers.end(), d.minutes.begin(), d.minutes.end());
        return numbers;
    };
    Design read;
    ASSERT_TRUE(designFromNumbers(numbersOf(design), design.order.size(), 2, read));
    std::vector<std::int32_t> longer = numbersOf(design);
    longer.push_back(30);
    EXPECT_FALSE(designFromNumbers(longer, design.order.size(), 2, read));  // the count must fit
    EXPECT_FALSE(designFromNumbers({}, 0, 0, read));
    EXPECT_EQ(designJson(read), designJson(design));
    EXPECT_EQ(designJson(read), "{\"order\":[4,5,4],\"start\":2,\"minutes\":[30,30,30,30,1440,30,30,30,30,30]}");
    struct Bad {
        std::vector<std::int32_t> order;
        std::int64_t start;
        std::int32_t minutes;  // every weather's
    };
    const Bad bads[] = {{{}, 0, 30}, {{1, 2}, 2, 30}, {{1}, -1, 30}, {{10}, 0, 30}, {{1, -2}, 0, 30}, {{1}, 0, 0}, {{1}, 0, 1441}};
    for (const Bad& bad : bads) {
        Design given{bad.order, 0, std::vector<std::int32_t>(10, bad.minutes)};
        EXPECT_FALSE(designFromNumbers(numbersOf(given), bad.order.size(), bad.start, read)) << designJson(given);
    }
    EXPECT_EQ(designJson(read), designJson(design));  // a refusal leaves the design as it was
    EXPECT_TRUE(contains(designerFactsJson(), "\"defaultDesign\":" + designJson(defaultDesign())));
}

// A loaded custom cycle is written back as the player wrote it: the same lines in the same order,
// not the same ring from another first entry.
TEST_F(Tool, ALoadedCustomCycleIsWrittenBackInItsOwnOrder) {
    for (const char* text : {"Set Rain Time = 20**\nSet Fog Time = 10*\nSet Rain Time = 15**\n",
                             "Set Snow Time = 5**\nSet Wind Time = 6**\nSet Fog Time = 7*\n"}) {
        SCOPED_TRACE(text);
        const CheckReport loaded = analyseSettings(text, false);
        const CheckReport again = analyseSettings(designedSettingsText(designOf(loaded)), false);
        EXPECT_EQ(again.load.read.markedIndexes, loaded.load.read.markedIndexes);
        EXPECT_EQ(again.firstWeather, loaded.firstWeather);
        EXPECT_EQ(cycleText(again), cycleText(loaded));
    }
}

// Every edit of the order moves the start by one rule: it stays on its entry; where its entry goes,
// it passes to the next entry that stays, read round the cycle. Rain stands twice in the order.
TEST(DesignerEdit, TheStartStaysOnItsEntryOrPassesToTheNextThatStays) {
    struct Case {
        std::size_t start;
        OrderEdit edit;
        std::int64_t which, to;
        std::vector<std::int32_t> order;  // after the edit
        std::size_t startAfter;
    };
    const std::vector<std::int32_t> rainTwice = {0, 4, 0, 5};  // Rain, Fog, Rain, Clear
    const Case cases[] = {
        {2, OrderEdit::removeWeather, 4, 0, {0, 0, 5}, 1},  // the second Rain stays the start, not the first
        {2, OrderEdit::removeWeather, 0, 0, {4, 5}, 1},     // both Rains go: the start passes on to Clear
        {1, OrderEdit::removeWeather, 4, 0, {0, 0, 5}, 1},  // Fog goes: the Rain after it
        {3, OrderEdit::removeWeather, 5, 0, {0, 4, 0}, 0},  // Clear, the last, goes: round to the first
        {2, OrderEdit::removeEntry, 0, 0, {4, 0, 5}, 1},    // before the start
        {2, OrderEdit::removeEntry, 3, 0, {0, 4, 0}, 2},    // after it
        {2, OrderEdit::removeEntry, 2, 0, {0, 4, 5}, 2},    // the start itself: Clear, which came next
        {0, OrderEdit::removeEntry, 0, 0, {4, 0, 5}, 0},    // the first Rain: Fog, not the other Rain
        {3, OrderEdit::removeEntry, 3, 0, {0, 4, 0}, 0},    // the start, last: round to the first
        {2, OrderEdit::moveEntry, 2, 0, {0, 0, 4, 5}, 0},   // the start moved: it goes with it
        {2, OrderEdit::moveEntry, 0, 3, {4, 0, 5, 0}, 1},   // another moved from before it to after it
        {2, OrderEdit::moveEntry, 3, 1, {0, 5, 4, 0}, 3},   // and from after it to before it
    };
    for (const Case& c : cases) {
        Design design{rainTwice, c.start, defaultDesign().minutes};
        SCOPED_TRACE(designJson(design) + " edit " + std::to_string(static_cast<int>(c.edit)) + " " + std::to_string(c.which));
        ASSERT_TRUE(editOrder(design, c.edit, c.which, c.to));
        EXPECT_EQ(design.order, c.order);
        EXPECT_EQ(design.start, c.startAfter);
        EXPECT_EQ(design.minutes, defaultDesign().minutes);
    }
    // A removal leaves the cycle, read from its start, running on as before less what went.
    for (std::size_t start = 0; start < rainTwice.size(); ++start)
        for (std::int64_t entry = 0; entry < 4; ++entry) {
            Design design{rainTwice, start, defaultDesign().minutes};
            std::vector<std::int32_t> ring = ringOf(design);
            ring.erase(ring.begin() + static_cast<std::ptrdiff_t>((static_cast<std::size_t>(entry) + 4 - start) % 4));
            ASSERT_TRUE(editOrder(design, OrderEdit::removeEntry, entry, 0));
            EXPECT_EQ(ringOf(design), ring) << start << " " << entry;
        }

    // The last weather removed leaves no cycle, which the writer refuses; nothing else is guessed.
    Design alone{{3}, 0, defaultDesign().minutes};
    ASSERT_TRUE(editOrder(alone, OrderEdit::removeWeather, 3, 0));
    EXPECT_TRUE(alone.order.empty());
    EXPECT_EQ(designedSettingsText(alone), "");
    const Case refused[] = {{0, OrderEdit::removeWeather, 6, 0, {}, 0}, {0, OrderEdit::removeEntry, 4, 0, {}, 0},
                            {0, OrderEdit::moveEntry, 0, 4, {}, 0},     {0, OrderEdit::moveEntry, -1, 0, {}, 0},
                            {0, static_cast<OrderEdit>(3), 0, 0, {}, 0}, {4, OrderEdit::removeEntry, 0, 0, {}, 0}};
    for (const Case& c : refused) {
        Design design{rainTwice, c.start, defaultDesign().minutes};
        EXPECT_FALSE(editOrder(design, c.edit, c.which, c.to)) << static_cast<int>(c.edit) << " " << c.which;
        EXPECT_EQ(design.order, rainTwice);
    }
    // The page is given the codes, not left to know them.
    EXPECT_TRUE(contains(designerFactsJson(), "\"edits\":{\"removeWeather\":0,\"removeEntry\":1,\"moveEntry\":2}"));
}
