// ID3 tags mended in place: the muxer's TXXX "comment" becomes COMM, ID3v1 text Latin-1.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "core/Id3Tags.h"
#include "tests/common/Fixtures.h"

using Bytes = std::vector<uint8_t>;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Size(uint32_t n, int version) {
    if (version == 4) return {uint8_t(n >> 21 & 0x7f), uint8_t(n >> 14 & 0x7f), uint8_t(n >> 7 & 0x7f), uint8_t(n & 0x7f)};
    return {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
}

Bytes Frame(const std::string& id, const Bytes& body, int version = 3) {
    return Cat({Text(id), Size(static_cast<uint32_t>(body.size()), version), {0, 0}, body});
}

// A tag of the frames with `padding` zero bytes after them.
Bytes Tag(const Bytes& frames, size_t padding, int version = 3) {
    return Cat({Text("ID3"), {uint8_t(version), 0, 0}, Size(static_cast<uint32_t>(frames.size() + padding), 4),
                frames, Bytes(padding, 0)});
}

const Bytes Title = Frame("TIT2", Cat({{0}, Text("Song")}));
const Bytes Utf16Comment = {0xff, 0xfe, 'c', 0, 'o', 0, 'm', 0, 'm', 0, 'e', 0, 'n', 0, 't', 0};
const Bytes Utf16Value = {0xff, 0xfe, 'N', 0, 0xef, 0, 'c', 0, 'e', 0};

}  // namespace

TEST(Id3Tags, CommentFramesReplaceTheMuxersUserTextFrames) {
    struct {
        const char* name;
        Bytes tag;
        int converted;
        Bytes frames;  // what the tag holds afterwards, before its padding
    } const cases[] = {
        {"Latin-1", Tag(Cat({Title, Frame("TXXX", Cat({{0}, Text("comment"), {0}, Text("Nice")}))}), 10), 1,
         Cat({Title, Frame("COMM", Cat({{0}, Text("eng"), {0}, Text("Nice")}))})},
        {"UTF-16 with its byte order marks",
         Tag(Frame("TXXX", Cat({{1}, Utf16Comment, {0, 0}, Utf16Value, {0, 0}})), 0), 1,
         Frame("COMM", Cat({{1}, Text("eng"), {0xff, 0xfe, 0, 0}, Utf16Value, {0, 0}}))},
        {"ID3v2.4 sizes", Tag(Frame("TXXX", Cat({{3}, Text("Comment"), {0}, Text("x")}), 4), 0, 4), 1,
         Frame("COMM", Cat({{3}, Text("eng"), {0}, Text("x")}), 4)},
        {"other user texts stay", Tag(Frame("TXXX", Cat({{0}, Text("creation_time"), {0}, Text("2026")})), 0), 0, {}},
        {"no comment", Tag(Title, 4), 0, {}},
    };
    for (const auto& c : cases) {
        Bytes tag = c.tag;
        EXPECT_EQ(ConvertId3Comments(tag), c.converted) << c.name;
        ASSERT_EQ(tag.size(), c.tag.size()) << c.name;
        if (c.converted == 0) {
            EXPECT_EQ(tag, c.tag) << c.name;
            continue;
        }
        const Bytes head(tag.begin() + 10, tag.begin() + 10 + static_cast<long>(c.frames.size()));
        EXPECT_EQ(head, c.frames) << c.name;
        for (size_t i = 10 + c.frames.size(); i < tag.size(); ++i) ASSERT_EQ(tag[i], 0) << c.name << " at " << i;
    }
}

TEST(Id3Tags, TagsItCannotReadAreLeftAlone) {
    const Bytes comment = Frame("TXXX", Cat({{0}, Text("comment"), {0}, Text("Nice")}));
    Bytes overlong = Tag(comment, 0);
    overlong[17] = 0x7f;  // the frame claims more than the tag holds
    Bytes flagged = Tag(comment, 0);
    flagged[5] = 0x80;  // unsynchronised
    Bytes frameFlags = Tag(comment, 0);
    frameFlags[18] = 0x40;
    Bytes cut = Tag(comment, 0);
    cut.resize(cut.size() - 1);
    Bytes version2 = Tag(comment, 0);
    version2[3] = 2;
    const Bytes cases[] = {
        {},
        Text("ID3"),
        overlong,
        flagged,
        frameFlags,
        cut,
        version2,
        Tag(Frame("TXXX", Cat({{0}, Text("comment")})), 0),        // no end of its description
        Tag(Frame("TXXX", Cat({{7}, Text("comment"), {0}})), 0),  // no such encoding
        Tag(Frame("TXXX", {}), 0),
        Tag(Frame("TXXX", Cat({{1}, {'c', 0, 'o'}})), 0),
        Tag(Cat({Text("TXXX"), {0xff, 0xff, 0xff, 0xff, 0, 0}}), 0),
    };
    for (const Bytes& input : cases) {
        Bytes tag = input;
        EXPECT_EQ(ConvertId3Comments(tag), 0);
        EXPECT_EQ(tag, input);
    }
}

TEST(Id3Tags, MangledTagsNeverReadOrWriteOutside) {
    const Bytes base = Tag(Cat({Title, Frame("TXXX", Cat({{1}, Utf16Comment, {0, 0}, Utf16Value, {0, 0}}))}), 6);
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        Bytes tag = base;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int k = 0; k < changes; ++k) tag[random() % tag.size()] = static_cast<uint8_t>(random());
        if (round % 3 == 0) tag.resize(random() % tag.size());
        const size_t size = tag.size();
        ConvertId3Comments(tag);
        ASSERT_EQ(tag.size(), size);
    }
}

TEST(Id3Tags, Id3v1TextBecomesLatin1) {
    auto v1 = [](const std::string& title, const std::string& comment, uint8_t track) {
        Bytes tag = Cat({Text("TAG"), Bytes(125, 0)});
        std::copy(title.begin(), title.end(), tag.begin() + 3);
        std::copy(comment.begin(), comment.end(), tag.begin() + 97);
        tag[126] = track;
        tag[127] = 12;
        return tag;
    };
    const std::string full28 = "abcdefghijklmnopqrstuvwxyz\xc3\xa9";
    struct {
        const char* name;
        Bytes in, want;
    } const cases[] = {
        {"Latin letters and beyond", v1("Caf\xc3\xa9 \xce\xa9", "d\xc3\xa9j\xc3\xa0", 0),
         v1("Caf\xe9 ?", "d\xe9j\xe0", 0)},
        {"a sequence cut at the field's end", v1("abcdefghijklmnopqrstuvwxyz123\xc3", "", 0),
         v1("abcdefghijklmnopqrstuvwxyz123", "", 0)},
        {"the track number stays", v1("x", full28, 7), v1("x", "abcdefghijklmnopqrstuvwxyz\xe9", 7)},
        {"ASCII stays", v1("plain", "text", 3), v1("plain", "text", 3)},
        {"no UTF-8 stays", v1("Caf\xe9!", "\xff\xfe", 0), v1("Caf\xe9!", "\xff\xfe", 0)},
        {"no tag", Bytes(128, 'x'), Bytes(128, 'x')},
        {"short", Text("TAG\xc3\xa9"), Text("TAG\xc3\xa9")},
    };
    for (const auto& c : cases) {
        Bytes tag = c.in;
        EXPECT_EQ(Id3v1ToLatin1(tag), c.in != c.want) << c.name;
        EXPECT_EQ(tag, c.want) << c.name;
    }
}

TEST(Id3Tags, FileIsRewrittenInPlace) {
    ardentix::test::TempDir dir;
    const Bytes tag = Tag(Frame("TXXX", Cat({{0}, Text("comment"), {0}, Text("Nice")})), 4);
    Bytes audio = {0xff, 0xfb, 0x90, 0x00, 1, 2, 3, 'T', 'A', 'G', 0xc3, 0xa9};
    audio.resize(audio.size() + 128 - 5, 0);
    const std::string path = dir.File("a.mp3");
    {
        std::ofstream out(path, std::ios::binary);
        const Bytes all = Cat({tag, audio});
        out.write(reinterpret_cast<const char*>(all.data()), static_cast<std::streamsize>(all.size()));
    }
    MendId3Tags(path);
    auto read = [&] {
        std::ifstream in(path, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const Bytes back = read();
    ASSERT_EQ(back.size(), tag.size() + audio.size());
    EXPECT_EQ(Bytes(back.begin() + 10, back.begin() + 14), Text("COMM"));
    EXPECT_EQ(Bytes(back.end() - static_cast<long>(audio.size()), back.end() - 128), Bytes(audio.begin(), audio.end() - 128));
    EXPECT_EQ(Bytes(back.end() - 128, back.end() - 124), Text("TAG\xe9"));
    MendId3Tags(path);
    EXPECT_EQ(read(), back) << "mending twice changes nothing";
    MendId3Tags(dir.File("missing.mp3"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing.mp3")));
}
