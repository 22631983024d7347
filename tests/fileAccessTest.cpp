// The one-step replace that every settings write goes through.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fileAccess/fileAccess.h"
#include "fileAccess/fileAccessPlatform.h"
#include "testSupport.h"

namespace fs = std::filesystem;

using FileAccess = ScratchTest;

TEST_F(FileAccess, ReplaceWritesTheWholeContentAndLeavesNoTemporary) {
    ASSERT_TRUE(replaceFileContent("a.ini", "first\n", false));
    EXPECT_EQ(readFile("a.ini"), "first\n");
    ASSERT_TRUE(replaceFileContent("a.ini", "second\n", false));
    EXPECT_EQ(readFile("a.ini"), "second\n");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(".")) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"a.ini"}));
}

TEST_F(FileAccess, EveryReplaceGetsANewLastWriteTime) {
    writeFile("a.ini", "x");
    setWriteTime("a.ini", 4102444800LL * 1000000000LL);  // 2100: later than the clock
    std::vector<std::int64_t> seen{writeTimeOf("a.ini")};
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(replaceFileContent("a.ini", "y", false));
        FileIdentity now;
        ASSERT_TRUE(queryFileIdentity("a.ini", now));
        EXPECT_NE(now.writeTime, seen.back()) << "rewrite " << i;
        seen.push_back(now.writeTime);
    }
}

TEST_F(FileAccess, SymbolicLinkStaysAndItsTargetIsReplaced) {
    fs::create_directory("real");
    writeFile("real/settings.ini", "old");
    fs::create_symlink("real/settings.ini", "link.ini");
    fs::create_symlink("link.ini", "chain.ini");
    ASSERT_TRUE(replaceFileContent("chain.ini", "new", false));
    EXPECT_TRUE(fs::is_symlink("chain.ini"));
    EXPECT_TRUE(fs::is_symlink("link.ini"));
    EXPECT_EQ(readFile("real/settings.ini"), "new");
    EXPECT_FALSE(fs::exists("real/settings.ini.nubilo-tmp"));
    EXPECT_FALSE(fs::exists("chain.ini.nubilo-tmp"));
}

TEST_F(FileAccess, KeepsThePermissionsOfTheFileItReplaces) {
    writeFile("a.ini", "x");
    fs::permissions("a.ini", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(replaceFileContent("a.ini", "y", false));
    EXPECT_EQ(fs::status("a.ini").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(FileAccess, NeverRewritesInPlaceWhenNoTemporaryCanBeMade) {
    // In place, a crash could leave a torn file: no temporary, no write.
    writeFile("a.ini", "old");
    fs::create_directory("a.ini.nubilo-tmp");
    EXPECT_FALSE(replaceFileContent("a.ini", "new", false));
    EXPECT_EQ(readFile("a.ini"), "old");
    EXPECT_TRUE(fs::is_directory("a.ini.nubilo-tmp"));
}

TEST_F(FileAccess, RefusesWhatCouldNotBeRewrittenInPlace) {
    fs::create_directory("dir.ini");
    EXPECT_FALSE(replaceFileContent("dir.ini", "x", false));
    EXPECT_TRUE(fs::is_directory("dir.ini"));
    EXPECT_FALSE(fs::exists("dir.ini.nubilo-tmp"));
    if (geteuid() != 0) {
        writeFile("locked.ini", "keep");
        fs::permissions("locked.ini", fs::perms::owner_read);
        EXPECT_FALSE(replaceFileContent("locked.ini", "x", false));
        EXPECT_EQ(readFile("locked.ini"), "keep");
    }
}

TEST_F(FileAccess, ReadTellsAMissingFileFromOneThatWillNotOpen) {
    std::string content;
    FileRead missing = readWholeFile("nothing.ini", content, false);
    EXPECT_FALSE(missing.opened);
    EXPECT_TRUE(missing.notFound);
    FileRead missingDir = readWholeFile("no/such/dir.ini", content, false);
    EXPECT_TRUE(missingDir.notFound);
    fs::create_symlink("loop.ini", "loop.ini");
    FileRead loop = readWholeFile("loop.ini", content, false);
    EXPECT_FALSE(loop.opened);
    EXPECT_FALSE(loop.notFound);
    // Neither these nor a folder are files in use: no later try will read them.
    EXPECT_FALSE(missing.inUse || missingDir.inUse || loop.inUse);
    fs::create_directory("folder.ini");
    EXPECT_FALSE(readWholeFile("folder.ini", content, false).inUse);
    // A file whose bytes are refused us is: an open denied, or a read that stops early.
    asUnprivileged([] {
        std::string bytes;
        writeFile("denied.ini", "x\n");
        fs::permissions("denied.ini", fs::perms::none);
        const FileRead denied = readWholeFile("denied.ini", bytes, true);
        EXPECT_TRUE(denied.inUse && !denied.opened && !denied.notFound);
    });
    const FileRead stopped = readWholeFile("/proc/self/mem", content, true);  // its first page is unmapped
    EXPECT_TRUE(stopped.opened && stopped.readError && stopped.inUse);

    const std::string bytes("a\0\r\n\xFF", 5);
    writeFile("bin.ini", bytes);
    FileRead read = readWholeFile("bin.ini", content, true);
    EXPECT_TRUE(read.opened);
    EXPECT_FALSE(read.readError);
    EXPECT_EQ(content, bytes);
}

TEST_F(FileAccess, TextReadsBackLineEndsAndKeepsEveryOtherByte) {
    writeFile("log.txt", "a\r\nb\x1A" "c\rd\r\r\n");
    std::string content;
    ASSERT_TRUE(readWholeFile("log.txt", content, false).opened);
    EXPECT_EQ(content, "a\nb\x1A" "c\rd\r\n");
}

// A file renamed aside and back (a busy replace's way back) may come back with another file id
// (FAT): with its bytes known the same, it is still the file a load read, and a replace goes on.
TEST(FileIdentities, AFileIsKnownByItsBytesWhereBothReadingsHaveThemElseByItsId) {
    const FileIdentity loaded{true, 1700000000, 120, 7, contentHashOf("Set Rain Time = 30*\n")};
    FileIdentity renamedBack = loaded;
    renamedBack.fileId = 9;
    EXPECT_TRUE(sameFile(loaded, renamedBack));
    FileIdentity edited = renamedBack;
    edited.contentHash = contentHashOf("Set Rain Time = 31*\n");  // a save of the same size and time
    EXPECT_FALSE(sameFile(loaded, edited));
    FileIdentity queried = renamedBack;  // a path query: no content, so the id decides
    queried.contentHash = 0;
    EXPECT_FALSE(sameFile(loaded, queried));
    queried.fileId = loaded.fileId;
    EXPECT_TRUE(sameFile(loaded, queried));
}

TEST_F(FileAccess, ReplaceIfWritesOnlyOverTheFileTheCallerExpected) {
    writeFile("a.ini", "old\n");
    FileIdentity seen;
    ASSERT_TRUE(queryFileIdentity("a.ini", seen));
    FileIdentity written;
    ASSERT_EQ(replaceFileContentIf("a.ini", "new\n", false, seen, &written), ReplaceOutcome::written);
    FileIdentity now;
    ASSERT_TRUE(queryFileIdentity("a.ini", now));
    EXPECT_TRUE(sameFile(written, now));
    EXPECT_EQ(written.contentHash, contentHashOf("new\n"));
    EXPECT_EQ(now.size, 4);

    // Stale expectations: an older time, the same time with another size, a file now gone, and
    // a file that was expected absent. Nothing is written and no temporary stays.
    EXPECT_EQ(replaceFileContentIf("a.ini", "x", false, seen, nullptr), ReplaceOutcome::changedMeanwhile);
    FileIdentity otherSize = now;
    otherSize.size = 5;
    EXPECT_EQ(replaceFileContentIf("a.ini", "x", false, otherSize, nullptr), ReplaceOutcome::changedMeanwhile);
    EXPECT_EQ(replaceFileContentIf("a.ini", "x", false, FileIdentity{}, nullptr), ReplaceOutcome::changedMeanwhile);
    EXPECT_EQ(readFile("a.ini"), "new\n");
    fs::remove("a.ini");
    EXPECT_EQ(replaceFileContentIf("a.ini", "x", false, now, nullptr), ReplaceOutcome::changedMeanwhile);
    EXPECT_FALSE(fs::exists("a.ini"));
    EXPECT_EQ(replaceFileContentIf("a.ini", "made\n", false, FileIdentity{}, nullptr), ReplaceOutcome::written);
    EXPECT_EQ(readFile("a.ini"), "made\n");
    EXPECT_FALSE(fs::exists("a.ini.nubilo-tmp"));
}
