// Source tags to the names the mp3 muxer writes as ID3 frames.
#include <gtest/gtest.h>

#include "batch/TagMap.h"

TEST(TagMap, SourceTagsBecomeTheFramesPlayersShow) {
    struct {
        const char* name;
        TTags source;
        TTags want;
    } const cases[] = {
        {"RealMedia",
         {{"title", "T"}, {"author", "A"}, {"copyright", "C"}, {"comment", "M"}},
         {{"title", "T"}, {"artist", "A"}, {"copyright", "C"}, {"comment", "M"}}},
        {"Vorbis comments in capitals",
         {{"TITLE", "T"}, {"ARTIST", "A"}, {"DATE", "2001"}, {"TRACKNUMBER", "3"}, {"track", "4/9"}},
         {{"title", "T"}, {"artist", "A"}, {"date", "2001"}, {"track", "4/9"}}},
        {"artist wins over author, whatever the order",
         {{"author", "Old"}, {"artist", "New"}},
         {{"artist", "New"}}},
        {"the first of a repeated key wins", {{"title", "One"}, {"Title", "Two"}}, {{"title", "One"}}},
        {"empty values and unknown keys go",
         {{"title", ""}, {"encoder", "Lavf59"}, {"creation_time", "2001"}, {"description", "D"}},
         {{"comment", "D"}}},
        {"a stream's tag fills what the file lacks", {{"album", "Al"}, {"ALBUM", "Other"}, {"genre", "G"}},
         {{"album", "Al"}, {"genre", "G"}}},
        {"nothing", {}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(MapTags(c.source), c.want) << c.name;
}

TEST(TagMap, TextThatIsNoUtf8IsReadAsWindows1252) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"Caf\xc3\xa9 \xce\xa9", "Caf\xc3\xa9 \xce\xa9"},            // UTF-8 stays
        {"Caf\xe9", "Caf\xc3\xa9"},                                  // Latin-1 e acute
        {"\x93quoted\x94 \x80", "\xe2\x80\x9cquoted\xe2\x80\x9d \xe2\x82\xac"},  // curly quotes, euro
        {"\xc3", "\xc3\x83"},                                        // a cut sequence
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xe2\x82\xac"},            // an encoded surrogate is no UTF-8
        {"\xc0\xaf", "\xc3\x80\xc2\xaf"},                            // nor an overlong form
        {"\x81\xff", "\xc2\x81\xc3\xbf"},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(TagText(in), want) << in;
    EXPECT_EQ(MapTags({{"title", "Caf\xe9"}}), (TTags{{"title", "Caf\xc3\xa9"}}));
}
