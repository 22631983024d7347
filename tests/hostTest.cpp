// Attach and detach against the substitute host, and the keyboard callback's lack of effect.
#include "cycle/cycleState.h"
#include "plugin/entry.h"
#include "substitute/substituteHost.h"
#include "testSupport.h"

static_assert(noexcept(libraryEntry(nullptr, 0)));
static_assert(noexcept(scriptMain()));
static_assert(noexcept(handleKeyboardMessage(0, 0, 0, 0, 0, 0, 0)));

using Host = ScratchTest;

TEST_F(Host, AttachRegistersScriptThenKeyboardAndDetachUnregistersInTheSameOrder) {
    EXPECT_EQ(libraryEntry(testModule(), 1), 1);
    EXPECT_EQ(libraryEntry(testModule(), 2), 1);  // thread attach
    EXPECT_EQ(libraryEntry(testModule(), 3), 1);  // thread detach
    EXPECT_EQ(libraryEntry(testModule(), 0), 1);
    EXPECT_EQ(libraryEntry(testModule(), 77), 1);
    const auto& events = substituteHost.events;
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, HostEventKind::scriptRegistered);
    EXPECT_EQ(events[0].module, testModule());
    EXPECT_EQ(events[0].script, &scriptMain);
    EXPECT_EQ(events[1].kind, HostEventKind::keyboardRegistered);
    EXPECT_EQ(events[1].keyboard, &handleKeyboardMessage);
    EXPECT_EQ(events[2].kind, HostEventKind::scriptUnregistered);
    EXPECT_EQ(events[2].module, testModule());
    EXPECT_EQ(events[3].kind, HostEventKind::keyboardUnregistered);
    EXPECT_EQ(events[3].keyboard, &handleKeyboardMessage);
    EXPECT_FALSE(substituteRunPasses(1));  // nothing left to run
}

TEST_F(Host, KeyboardMessagesChangeNothing) {
    startPlugin(3);
    const std::string settings = readFile("Nubilo.ini");
    const std::string log = readFile("Weather.txt");
    const auto calls = substituteHost.nativeCalls.size();
    const CycleState before = cycleState;
    for (HostDword key = 0; key < 256; ++key) {
        substituteDeliverKey(key, 1, static_cast<HostByte>(key), key & 1, key & 2, key & 4, key & 8);
        substituteDeliverKey(0xFFFFFFFF, 0xFFFF, 0xFF, -1, -1, -1, -1);
    }
    ASSERT_TRUE(substituteRunPasses(3));
    EXPECT_EQ(readFile("Nubilo.ini"), settings);
    EXPECT_EQ(readFile("Weather.txt"), log);
    EXPECT_EQ(substituteHost.nativeCalls.size(), calls);
    EXPECT_EQ(cycleState.currentPosition, before.currentPosition);
    EXPECT_EQ(cycleState.lastChangeTime, before.lastChangeTime);
    EXPECT_EQ(cycleState.settingsWriteTime, before.settingsWriteTime);
}
