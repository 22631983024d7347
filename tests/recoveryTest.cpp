// What a start finds beside the settings file after an earlier run was cut off: an aside file
// alone kept and never deleted, a link's interrupted rewrite put right beside its target, no
// defaults through a link to nothing, and every leftover removed said in the log.
#include <filesystem>

#include "cycle/mainLoop.h"
#include "substitute/substituteHost.h"
#include "testSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string started = "[Nubilo] Nubilo.ASI started. Adjusting Weather...";
const std::string notFound = "[Nubilo] Weather.ini not found, using defaults.";
const std::string defaultsWritten = "[Nubilo] Default Weather.ini written.";

// The player's file, none of its minutes the default, the star on Fog.
std::string playersText() { return canonicalText({12, 7, 45, 3, 20, 90, 14, 25, 60, 5}, 4); }

std::string keptLine(const std::string& aside, const std::string& keptAs) {
    return "[Nubilo] An interrupted rewrite left only " + aside + ": kept as " + keptAs + ".";
}

// The game started again on the folder as it is.
void restart() {
    substituteReset();
    resetCycle();
    startPlugin(1);
}

}  // namespace

using StartRecovery = ScratchTest;

TEST_F(StartRecovery, AnAsideFileFoundAloneIsKeptNeverOverAnEarlierCopy) {
    // No Nubilo.ini and no temporary beside it (the player tidied it away, a scanner took it):
    // the aside file is the only copy. Kept as the backup; the defaults as for a missing file.
    writeFile("Nubilo.ini.nubilo-old", playersText());
    startPlugin(1);
    EXPECT_EQ(readFile("Nubilo.ini.bak"), playersText());
    EXPECT_FALSE(fs::exists("Nubilo.ini.nubilo-old"));
    EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());
    EXPECT_EQ(logMessages(), (std::vector<std::string>{started, keptLine("Nubilo.ini.nubilo-old", "Nubilo.ini.bak"),
                                                       notFound, defaultsWritten, "[Nubilo] Applied weather: Clear"}));

    // The backup and the first name of ours taken: the next name of ours; neither touched.
    writeFile("Nubilo.ini.nubilo-kept", "kept at an earlier start\n");
    fs::remove("Nubilo.ini");
    writeFile("Nubilo.ini.nubilo-old", "another only copy\n");
    restart();
    EXPECT_EQ(readFile("Nubilo.ini.nubilo-kept-2"), "another only copy\n");
    EXPECT_EQ(readFile("Nubilo.ini.bak"), playersText());
    EXPECT_EQ(readFile("Nubilo.ini.nubilo-kept"), "kept at an earlier start\n");
    EXPECT_EQ(logMessages()[1], keptLine("Nubilo.ini.nubilo-old", "Nubilo.ini.nubilo-kept-2"));

    // Every name taken: it stays where it is, and nothing takes the settings' name meanwhile.
    for (int number = 3; number <= 9; ++number) writeFile("Nubilo.ini.nubilo-kept-" + std::to_string(number), "x\n");
    fs::remove("Nubilo.ini");
    writeFile("Nubilo.ini.nubilo-old", "a third only copy\n");
    restart();
    EXPECT_EQ(readFile("Nubilo.ini.nubilo-old"), "a third only copy\n");
    EXPECT_FALSE(fs::exists("Nubilo.ini"));
    EXPECT_EQ(logMessages(), (std::vector<std::string>{started,
                                                       "[Nubilo] ERROR: Could not keep Nubilo.ini.nubilo-old, left alone "
                                                       "by an interrupted rewrite, under another name; no defaults written.",
                                                       notFound, "[Nubilo] Applied weather: Clear"}));
}

TEST_F(StartRecovery, AnAsideFileStaysBesideANameThatHoldsNoFile) {
    // Nubilo.ini there but no file (a folder here; a share that cannot be asked, elsewhere): the
    // aside file may be the only copy, and the pair is left for a start that can tell.
    fs::create_directory("Nubilo.ini");
    writeFile("Nubilo.ini.nubilo-old", playersText());
    writeFile("Nubilo.ini.nubilo-tmp", "half a rewrite\n");
    startPlugin(1);
    EXPECT_EQ(readFile("Nubilo.ini.nubilo-old"), playersText());
    EXPECT_EQ(readFile("Nubilo.ini.nubilo-tmp"), "half a rewrite\n");
    fs::remove("Nubilo.ini");
    restart();
    EXPECT_EQ(readFile("Nubilo.ini"), playersText());
    EXPECT_FALSE(fs::exists("Nubilo.ini.nubilo-old"));
    EXPECT_FALSE(fs::exists("Nubilo.ini.nubilo-tmp"));
}

TEST_F(StartRecovery, TheBackupsOwnAsideFileGoesBackBeforeTheSettingsOneIsKept) {
    // Both rewrites cut off, both temporaries gone: the earlier backup back under its name, the
    // settings' aside file beside it -- neither taken for the leftover of a finished rewrite.
    writeFile("Nubilo.ini.bak.nubilo-old", "the earlier backup\n");
    writeFile("Nubilo.ini.nubilo-old", playersText());
    startPlugin(1);
    EXPECT_EQ(readFile("Nubilo.ini.bak"), "the earlier backup\n");
    EXPECT_EQ(readFile("Nubilo.ini.nubilo-kept"), playersText());
    const std::vector<std::string> messages = logMessages();
    ASSERT_EQ(messages.size(), 6u) << joinLines(messages);
    EXPECT_EQ(messages[1], keptLine("Nubilo.ini.bak.nubilo-old", "Nubilo.ini.bak"));
    EXPECT_EQ(messages[2], keptLine("Nubilo.ini.nubilo-old", "Nubilo.ini.nubilo-kept"));
}

TEST_F(StartRecovery, ALinksInterruptedRewriteIsPutRightBesideItsTarget) {
    // Cut off between the renames of a rewrite of the link's target: the link leads nowhere, the
    // pair is beside where it leads.
    fs::create_directory("profiles");
    fs::create_symlink("profiles/winter.ini", "Nubilo.ini");
    writeFile("profiles/winter.ini.nubilo-old", playersText());
    writeFile("profiles/winter.ini.nubilo-tmp", canonicalText({12, 7, 45, 3, 20, 90, 14, 25, 60, 5}, 5));
    startPlugin(1);
    EXPECT_TRUE(fs::is_symlink("Nubilo.ini"));
    EXPECT_EQ(readFile("profiles/winter.ini"), playersText());
    EXPECT_EQ(std::distance(fs::directory_iterator("profiles"), fs::directory_iterator()), 1);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{
                                 started, "[Nubilo] Weather.ini restored after an interrupted rewrite.",
                                 "[Nubilo] Removed profiles/winter.ini.nubilo-tmp left by an earlier run.",
                                 "[Nubilo] single index at 4.", "[Nubilo] Applied weather: Fog"}));

    // The target gone, its aside file alone: kept as the backup. No defaults go through the
    // link, which stays, leading nowhere, until the player mends it.
    fs::rename("profiles/winter.ini", "profiles/winter.ini.nubilo-old");
    restart();
    EXPECT_TRUE(fs::is_symlink("Nubilo.ini"));
    EXPECT_FALSE(fs::exists("profiles/winter.ini"));
    EXPECT_EQ(readFile("Nubilo.ini.bak"), playersText());
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{
                  started, keptLine("profiles/winter.ini.nubilo-old", "Nubilo.ini.bak"), notFound,
                  "[Nubilo] ERROR: Weather.ini is a link to a missing file; the link is kept, defaults not written.",
                  "[Nubilo] Applied weather: Clear"}));
    runFor(1800, 2);  // nothing to rewrite, nothing made
    EXPECT_TRUE(fs::is_symlink("Nubilo.ini"));
    EXPECT_TRUE(fs::is_empty("profiles"));
}
