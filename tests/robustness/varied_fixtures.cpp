#include "tests/robustness/varied_fixtures.h"

namespace {

Bytes PictureBytes(std::size_t size, std::uint8_t seed)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return bytes;
}

std::vector<NamedFixture> MakeFixtures()
{
    std::vector<NamedFixture> fixtures;
    fixtures.push_back({"id3v2-prefix", FlacBuilder()
                                            .Id3v2Prefix(120)
                                            .StreamInfo()
                                            .VorbisComment({"TITLE=Prefixed", "ARTIST=Someone", "TRACKNUMBER=4/9"})
                                            .Padding(256)
                                            .Audio(6000, 3)
                                            .Build()});
    fixtures.push_back({"several-padding", FlacBuilder()
                                               .StreamInfo({48000, 1, 24, 480000})
                                               .Padding(40)
                                               .VorbisComment({"ALBUM=Gaps", "DATE=1999", "GENRE=a", "GENRE=b"})
                                               .Padding(12)
                                               .Block(2, Bytes{'t', 'e', 's', 't', 1, 2, 3, 4})
                                               .Padding(0)
                                               .Audio(5000, 9)
                                               .Build()});
    std::vector<std::string> many;
    for (int i = 0; i < 120; ++i) {
        many.push_back("COMMENT=" + std::string(60, static_cast<char>('a' + i % 26)) + std::to_string(i));
    }
    many.push_back("TITLE=Large");
    many.push_back("ARTIST=\xC3\x98rjan \xC3\x85s");
    fixtures.push_back({"large-vorbis-comment",
                        FlacBuilder().StreamInfo().VorbisComment(many, std::string(300, 'v')).Audio(4000, 5).Build()});
    fixtures.push_back({"several-pictures", FlacBuilder()
                                                .StreamInfo({22050, 2, 16, 100000})
                                                .Picture(4, "image/png", PictureBytes(300, 1), "back")
                                                .VorbisComment({"TITLE=Covers"})
                                                .Picture(3, "image/jpeg", PictureBytes(500, 2), "front")
                                                .Picture(0, "-->", Bytes{'h', 't', 't', 'p'})
                                                .Padding(100)
                                                .Audio(3000, 7)
                                                .Build()});
    Bytes seekTable;
    for (int i = 0; i < 3; ++i) {
        AppendBigEndian(seekTable, static_cast<std::uint64_t>(i) * 4096, 8);
        AppendBigEndian(seekTable, static_cast<std::uint64_t>(i) * 1000, 8);
        AppendBigEndian(seekTable, 4096, 2);
    }
    fixtures.push_back({"odd-block-order", FlacBuilder()
                                               .StreamInfo({96000, 6, 8, 9600000})
                                               .Padding(30)
                                               .Picture(3, "image/png", PictureBytes(80, 4))
                                               .VorbisComment({"title=lower", "Artist=Mixed=Case", "RATING=50"})
                                               .Block(3, seekTable)
                                               .Block(4, Bytes{0, 0, 0, 0, 0, 0, 0, 0})
                                               .Block(2, Bytes{'x', 'y', 'z', 'w'})
                                               .Audio(7000, 11)
                                               .Build()});
    return fixtures;
}

} // namespace

const std::vector<NamedFixture>& VariedFixtures()
{
    static const std::vector<NamedFixture> fixtures = MakeFixtures();
    return fixtures;
}
