// The parser on strings: line kinds, values, marks, keys, and what a whole text adds up to.
#include <gtest/gtest.h>

#include "settings/settingsText.h"
#include "testSupport.h"


TEST(SettingsLineKinds, AreDecidedByTheFirstCharacterAndTheFirstEquals) {
    EXPECT_EQ(parseSettingsLine("").kind, LineKind::empty);
    EXPECT_EQ(parseSettingsLine("; Set Rain Time = 5").kind, LineKind::comment);
    // A header swallows a complete setting that follows it on the same line.
    EXPECT_EQ(parseSettingsLine("[Settings] Set Rain Time = 5").kind, LineKind::section);
    EXPECT_EQ(parseSettingsLine("just words").kind, LineKind::noEquals);
    EXPECT_EQ(parseSettingsLine(" ").kind, LineKind::noEquals);

    // Blanks before ';' make it a setting whose key starts with ';' and is not recognised.
    SettingsLine indented = parseSettingsLine("  ; Set Rain Time = 5");
    EXPECT_EQ(indented.kind, LineKind::setting);
    EXPECT_EQ(indented.key, "; Set Rain Time");
    EXPECT_EQ(indented.catalogueIndex, -1);
    EXPECT_EQ(indented.verdict, ValueVerdict::valid);
}

TEST(SettingsLineKeys, AreExactCaseAndSpacing) {
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i)
        EXPECT_EQ(recognisedKeyIndex(settingsKey(weatherCatalogue[i])), static_cast<int>(i));
    EXPECT_EQ(recognisedKeyIndex("Set Dust Storms Time"), 3);
    EXPECT_EQ(recognisedKeyIndex("Set Dust  Storms Time"), -1);
    EXPECT_EQ(recognisedKeyIndex("set clear time"), -1);
    EXPECT_EQ(recognisedKeyIndex("Set clear Time"), -1);
    EXPECT_EQ(recognisedKeyIndex("Set  Clear Time"), -1);
    EXPECT_EQ(recognisedKeyIndex("Set Time"), -1);
    EXPECT_EQ(recognisedKeyIndex("Time"), -1);
    EXPECT_EQ(recognisedKeyIndex("Set Dust Time"), -1);

    SettingsLine tight = parseSettingsLine("Set Fog Time=12");
    EXPECT_EQ(tight.catalogueIndex, 4);
    EXPECT_EQ(tight.minutes, 12);
    SettingsLine tabbed = parseSettingsLine("\t Set Snow Time \t=\t 7 \r");
    EXPECT_EQ(tabbed.key, "Set Snow Time");
    EXPECT_EQ(tabbed.minutes, 7);
}

TEST(SettingsLineValues, FollowStringToIntegerRulesWithinOneToFourteenForty) {
    struct Case {
        const char* value;
        ValueVerdict verdict;
        int minutes;
    };
    const Case cases[] = {
        {"30", ValueVerdict::valid, 30},          {"1", ValueVerdict::valid, 1},
        {"1440", ValueVerdict::valid, 1440},      {"0", ValueVerdict::outOfRange, 0},
        {"1441", ValueVerdict::outOfRange, 0},    {"-5", ValueVerdict::outOfRange, 0},
        {"abc", ValueVerdict::noDigits, 0},       {"", ValueVerdict::noDigits, 0},
        {"   ", ValueVerdict::noDigits, 0},       {"+", ValueVerdict::noDigits, 0},
        {"- 5", ValueVerdict::noDigits, 0},       {"45 minutes", ValueVerdict::valid, 45},
        {"+45", ValueVerdict::valid, 45},         {"0045", ValueVerdict::valid, 45},
        {"4 5", ValueVerdict::valid, 4},          {"2147483647", ValueVerdict::outOfRange, 0},
        {"2147483648", ValueVerdict::beyond32Bits, 0},
        {"-2147483648", ValueVerdict::outOfRange, 0},
        {"-2147483649", ValueVerdict::beyond32Bits, 0},
        {"99999999999999999999999", ValueVerdict::beyond32Bits, 0},
        {"00000000000000000000030", ValueVerdict::valid, 30},
    };
    for (const Case& c : cases) {
        SettingsLine line = parseSettingsLine(std::string("Set Rain Time = ") + c.value);
        EXPECT_EQ(line.verdict, c.verdict) << "value '" << c.value << "'";
        if (c.verdict == ValueVerdict::valid) {
            EXPECT_EQ(line.minutes, c.minutes) << "value '" << c.value << "'";
        }
    }
}

TEST(SettingsLineMarks, AreStarsBeforeTheInlineCommentWhereverTheyStand) {
    for (const char* value : {"30*", "*30", "3*0", " * 30 ", "30 *"}) {
        SettingsLine line = parseSettingsLine(std::string("Set Clear Time = ") + value + " ; comment");
        EXPECT_EQ(line.markCount, 1) << value;
        EXPECT_EQ(line.verdict, ValueVerdict::valid) << value;
        EXPECT_EQ(line.minutes, 30) << value;
    }
    SettingsLine two = parseSettingsLine("Set Clear Time = 30** ; int required");
    EXPECT_EQ(two.markCount, 2);
    EXPECT_EQ(two.minutes, 30);

    SettingsLine inComment = parseSettingsLine("Set Fog Time = 30 ; *");
    EXPECT_EQ(inComment.markCount, 0);
    EXPECT_EQ(inComment.starsOnLine, 1u);

    SettingsLine inKey = parseSettingsLine("Set Fog* Time = 30");
    EXPECT_EQ(inKey.markCount, 0);
    EXPECT_EQ(inKey.catalogueIndex, -1);
    EXPECT_EQ(inKey.starsOnLine, 1u);

    // Stars between the sign and the digits go before the number is read.
    EXPECT_EQ(parseSettingsLine("Set Rain Time = +*5").minutes, 5);
    EXPECT_EQ(parseSettingsLine("Set Rain Time = 5000*").verdict, ValueVerdict::outOfRange);
}

TEST(SettingsTextLines, SplitAtLineFeedsSkippingOneLeadingByteOrderMark) {
    std::vector<std::string> lines;
    auto collect = [&](std::string_view text) {
        lines.clear();
        forEachSettingsLine(text, [&](std::string_view line) {
            lines.emplace_back(line);
            return true;
        });
        return lines;
    };
    EXPECT_EQ(collect("a\nb"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(collect("a\nb\n"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(collect("\n\nx"), (std::vector<std::string>{"", "", "x"}));
    EXPECT_EQ(collect("\xEF\xBB\xBF[Settings]\n"), (std::vector<std::string>{"[Settings]"}));
    EXPECT_EQ(collect("x\n\xEF\xBB\xBF;y"), (std::vector<std::string>{"x", "\xEF\xBB\xBF;y"}));
    EXPECT_EQ(collect(std::string_view("a\0b\nc", 5)), (std::vector<std::string>{std::string("a\0b", 3), "c"}));
    EXPECT_TRUE(collect("").empty());

    int seen = 0;
    forEachSettingsLine("1\n2\n3\n", [&](std::string_view) { return ++seen < 2; });
    EXPECT_EQ(seen, 2);
}

TEST(SettingsRead, GathersIntervalsMarksAndStartInFileOrder) {
    LoadReport report = readSettingsText(
        "Set Rain Time = 45\n"            // before any header: read all the same
        "[Settings]\n"
        "Set Fog Time = 0*\n"             // rejected: contributes no mark
        "Set Thunder Time = 12**\n"
        "Set Rain Time = 50*\n"           // later value wins, own mark
        "Time = abc\n"                    // unknown key, bad value: still reported
        "Time = 20\n"                     // unknown key, good value: silent
        "Set Snow Time = 7*\n",
        0);
    const SettingsRead& read = report.read;
    EXPECT_EQ(read.intervals.at("Rain"), 50);
    EXPECT_EQ(read.intervals.at("Fog"), 30);
    EXPECT_EQ(read.intervals.at("Thunder"), 12);
    EXPECT_EQ(read.intervals.at("Snow"), 7);
    EXPECT_EQ(read.intervals.size(), 10u);
    EXPECT_EQ(read.markedIndexes, (std::vector<std::int32_t>{1, 0, 6}));
    EXPECT_EQ(read.startIndex, 6);  // the last single-star line
    EXPECT_TRUE(read.usableLine);
    EXPECT_EQ(report.outcome, LoadOutcome::customCycle);
    EXPECT_EQ(report.messages, (std::vector<std::string>{"[Nubilo] Invalid value for key Set Fog Time, using default.",
                                                         "[Nubilo] Invalid value for key Time, using default.",
                                                         "[Nubilo] Custom weather cycle detected."}));
}

TEST(SettingsRead, EndsInTheOutcomeTheMarksCallFor) {
    struct Case {
        std::string text;
        LoadOutcome outcome;
        std::int32_t startIndex;
        std::vector<std::int32_t> marked;
        std::string message;
    };
    std::string reversed;
    for (int i = 9; i >= 0; --i) reversed += settingsKey(weatherCatalogue[static_cast<std::size_t>(i)]) + " = 10*\n";
    const std::vector<Case> cases = {
        {defaultSettingsText(), LoadOutcome::singleMark, 5, {5}, "[Nubilo] single index at 5."},
        {"[Settings]\n", LoadOutcome::noUsableLine, 5, {}, ""},
        {"", LoadOutcome::noUsableLine, 5, {}, ""},
        {"Set Rain Time = 0\nSet Fog Time = x*\n", LoadOutcome::noUsableLine, 5, {}, ""},
        {"Set Rain Time = 20\n", LoadOutcome::noMark, 5, {}, "[Nubilo] No custom cycle marked. Starting from Clear."},
        {"Set Rain Time = 20*\nSet Fog Time = 20*\n", LoadOutcome::customCycle, 4, {0, 4},
         "[Nubilo] Custom weather cycle detected."},
        {"Set Rain Time = 20**\nSet Fog Time = 20**\n", LoadOutcome::customCycle, 0, {0, 4},
         "[Nubilo] Custom weather cycle detected."},
        {"Set Dust Storms Time = 20**\n", LoadOutcome::singleMark, 0, {3}, "[Nubilo] single index at 0."},
        {reversed, LoadOutcome::customCycle, 0, {9, 8, 7, 6, 5, 4, 3, 2, 1, 0}, "[Nubilo] Custom weather cycle detected."},
    };
    for (const Case& c : cases) {
        LoadReport report = readSettingsText(c.text, 0);
        EXPECT_EQ(report.outcome, c.outcome) << c.text;
        EXPECT_EQ(report.read.startIndex, c.startIndex) << c.text;
        EXPECT_EQ(report.read.markedIndexes, c.marked) << c.text;
        EXPECT_EQ(outcomeMessage(report.outcome, report.read.startIndex), c.message) << c.text;
    }
}

TEST(StarLookup, SeesAStarAnywhereOnARecognisedSettingLine) {
    EXPECT_EQ(findStarIndexInText(defaultSettingsText()), 5);
    EXPECT_EQ(findStarIndexInText("Set Fog Time = 30 ; *\n"), 4);         // in the inline comment
    EXPECT_EQ(findStarIndexInText("Set Rain Time = 5000*\n"), 0);          // value rejected by the loader
    EXPECT_EQ(findStarIndexInText("Set Rain Time = 5*\nSet Fog Time = 5*\n"), -1);
    EXPECT_EQ(findStarIndexInText("Set Rain Time = 5*\nSet Rain Time = 5*\n"), -1);
    EXPECT_EQ(findStarIndexInText("; *\n[*]\nOther Time = 5*\nSet Snow Time = 5\n"), -1);
    EXPECT_EQ(findStarIndexInText("; *\nSet Snow Time = 5**\n"), 6);
    EXPECT_EQ(findStarIndexInText(" Set Snow Time = 5*\n"), 6);            // trimmed key
    EXPECT_EQ(findStarIndexInText("\xEF\xBB\xBFSet Snow Time = 5*"), 6);
    EXPECT_EQ(findStarIndexInText(""), -1);

    EXPECT_EQ(countStars(defaultSettingsText()), 1u);
    EXPECT_EQ(countStars("; *\nSet Snow Time = 5*\n"), 2u);
}

TEST(CanonicalLayout, IsTheDefaultFileByteForByte) {
    IntervalMap intervals;
    for (const WeatherEntry& entry : weatherCatalogue) intervals[entry.displayName] = 30;
    std::string text = canonicalSettingsText(intervals, weatherCatalogue, 5);
    EXPECT_EQ(text, defaultSettingsText());
    EXPECT_EQ(text.size(), 563u);
    intervals["Rain"] = 1440;
    EXPECT_EQ(canonicalSettingsText(intervals, weatherCatalogue, 9),
              canonicalText({1440, 30, 30, 30, 30, 30, 30, 30, 30, 30}, 9));
}

TEST(Catalogue, HoldsTheTenWeathersInOrder) {
    ASSERT_EQ(weatherCatalogue.size(), 10u);
    const char* display[] = {"Rain", "Thunder", "Cloudy", "Dust Storms", "Fog", "Clear", "Snow", "Wind", "Snowlight", "Blizzard"};
    const char* game[] = {"RAIN", "THUNDER", "OVERCAST", "SANDSTORM", "FOG", "SUNNY", "SNOW", "STORM", "SNOWLIGHT", "BLIZZARD"};
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(weatherCatalogue[i].displayName, display[i]);
        EXPECT_EQ(weatherCatalogue[i].gameName, game[i]);
    }
    EXPECT_EQ(weatherCatalogue[defaultStartIndex].displayName, "Clear");
}

namespace {

// The text as Notepad's "Unicode" (little-endian) or a big-endian editor saves it.
std::string utf16(std::u16string_view text, bool little, bool crlf) {
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t unit : text) {
        for (int copy = unit == u'\n' && crlf ? 2 : 1; copy > 0; --copy) {
            const char16_t written = copy == 2 ? u'\r' : unit;
            const char low = static_cast<char>(written & 0xFF), high = static_cast<char>(written >> 8);
            bytes += little ? low : high;
            bytes += little ? high : low;
        }
    }
    return bytes;
}

std::u16string widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

TEST(Utf16Files, ReadExactlyLikeTheirSingleByteTwins) {
    const std::string twins[] = {
        defaultSettingsText(),
        "[Settings]\nSet Rain Time = 20**\nSet Fog Time = 10*\nSet Rain Time = 15** ; again\n",
        "Set Rain Time = 0\nSet Fog Time = 45* ; mine\nSet Blizzard Time = x\n",
    };
    for (const std::string& ascii : twins) {
        const LoadReport expected = readSettingsText(ascii, 0);
        for (bool little : {true, false}) {
            for (bool crlf : {true, false}) {
                SCOPED_TRACE(ascii.substr(0, 20) + (little ? " LE" : " BE") + (crlf ? " CRLF" : " LF"));
                const std::string bytes = utf16(widen(ascii), little, crlf);
                EXPECT_EQ(detectEncoding(bytes),
                          little ? SettingsEncoding::utf16LittleEndian : SettingsEncoding::utf16BigEndian);
                const std::string text = settingsTextOf(bytes);
                EXPECT_EQ(text, ascii);
                const LoadReport report = readSettingsText(text, 0);
                EXPECT_EQ(report.messages, expected.messages);
                EXPECT_EQ(report.read.intervals, expected.read.intervals);
                EXPECT_EQ(report.read.markedIndexes, expected.read.markedIndexes);
                EXPECT_EQ(findStarIndexInText(text), findStarIndexInText(ascii));
                EXPECT_EQ(countStars(text), countStars(ascii));
            }
        }
    }
}

TEST(Utf16Files, NonAsciiUnitsNeverDecodeIntoKeysDigitsOrMarks) {
    // U+012A and U+0A2A carry a '*' byte, U+0431 a '1', U+0430 looks like 'a': none of them counts.
    const std::string bytes = utf16(u"Set Clear Time = 3\u0431\u012A\nSet Cle\u0430r Time = 9*\nSet Fog Time = 7\u0A2A\n", true, false);
    const std::string text = settingsTextOf(bytes);
    EXPECT_EQ(text, "Set Clear Time = 3\x80\x80\nSet Cle\x80r Time = 9*\nSet Fog Time = 7\x80\n");
    const LoadReport report = readSettingsText(text, 0);
    EXPECT_EQ(report.read.intervals.at("Clear"), 3);
    EXPECT_EQ(report.read.intervals.at("Fog"), 7);
    EXPECT_TRUE(report.read.markedIndexes.empty());
    EXPECT_EQ(countStars(text), 1u);  // the one on the misspelt line

    // A surrogate pair is one character; a lone surrogate is one too, and eats nothing after it.
    EXPECT_EQ(settingsTextOf(utf16(u"a\U0001F32Bb", true, false)), "a\x80" "b");
    EXPECT_EQ(settingsTextOf(utf16(u"a\xD83C=b", false, false)), "a\x80=b");
    EXPECT_EQ(settingsTextOf(utf16(u"\xDF2B*", true, false)), "\x80*");

    // Only the mark: nothing. A byte short of a whole unit: one unmatched byte. A lone CR stays.
    EXPECT_EQ(settingsTextOf("\xFF\xFE"), "");
    EXPECT_EQ(settingsTextOf(utf16(u"=5", true, false) + "7"), "=5\x80");
    EXPECT_EQ(settingsTextOf(utf16(u"a\rb\r\n", true, false)), "a\rb\n");
    // A UTF-8 mark is kept (the line reader skips it).
    EXPECT_EQ(settingsTextOf("\xEF\xBB\xBFSet"), "\xEF\xBB\xBFSet");
    EXPECT_EQ(detectEncoding("\xEF\xBB\xBFSet"), SettingsEncoding::utf8Mark);
    EXPECT_EQ(detectEncoding("\xFF"), SettingsEncoding::singleByte);
}

TEST(SettingsBytes, ReadAsWindowsTextModeReadsThemOnEveryPlatform) {
    // A Ctrl-Z ends the text, whatever follows it, and wherever it falls.
    EXPECT_EQ(settingsTextOf("[Settings]\r\nSet Rain Time = 20*\r\n\x1A\r\nSet Fog Time = 10**\r\n"),
              "[Settings]\nSet Rain Time = 20*\n");
    EXPECT_EQ(settingsTextOf("\x1A" "Set Fog Time = 5\n"), "");
    EXPECT_EQ(settingsTextOf("Set Fog Time = 5\x1A" "*\n"), "Set Fog Time = 5");
    EXPECT_EQ(settingsTextOf("\xEF\xBB\xBF[Settings]\r\n\x1A"), "\xEF\xBB\xBF[Settings]\n");
    // CR LF becomes LF, in one pass: a lone CR stays, so does the first CR of CR CR LF.
    EXPECT_EQ(settingsTextOf("\r\n\r\nSet Fog Time = 5\r\n"), "\n\nSet Fog Time = 5\n");
    EXPECT_EQ(settingsTextOf("a\rb\r\r\nc\r"), "a\rb\r\nc\r");
}

TEST(SettingsBytes, AUtf16FileIsReadWholePastEveryCtrlZByte) {
    // U+001A and units carrying a 0x1A byte (U+011A, U+1A2A) end nothing; only CR LF is taken.
    const std::u16string written = u"Set Rain Time = 20*\n\x1A\nSet Fog\x011A\x1A2A = 1\nSet Fog Time = 10**\n";
    for (bool little : {true, false}) {
        SCOPED_TRACE(little ? "LE" : "BE");
        const std::string text = settingsTextOf(utf16(written, little, true));
        EXPECT_EQ(text, "Set Rain Time = 20*\n\x1A\nSet Fog\x80\x80 = 1\nSet Fog Time = 10**\n");
        EXPECT_EQ(readSettingsText(text, 0).outcome, LoadOutcome::customCycle);
    }
}
