#include "CArchive.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace
{
Bytes stored(const CString& s)
{
    CArchive ar(CArchive::store);
    ar << s;
    return ar.Buffer();
}

CString loaded(Bytes b)
{
    CArchive ar(std::move(b));
    CString s;
    ar >> s;
    EXPECT_EQ(ar.Remaining(), 0u);
    return s;
}

Bytes prefixOf(std::size_t n)
{
    Bytes b = stored(CString('a', static_cast<int>(n)));
    b.resize(b.size() - n);
    return b;
}
} // namespace

TEST(ArchiveString, LengthPrefixFormsAtTheirBoundaries)
{
    EXPECT_EQ(prefixOf(0), (Bytes{0x00}));
    EXPECT_EQ(prefixOf(254), (Bytes{0xFE}));
    EXPECT_EQ(prefixOf(255), (Bytes{0xFF, 0xFF, 0x00}));
    EXPECT_EQ(prefixOf(65533), (Bytes{0xFF, 0xFD, 0xFF}));
    // 65534 would collide with the wide-text marker in the 16-bit slot.
    EXPECT_EQ(prefixOf(65534), (Bytes{0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}));
    EXPECT_EQ(prefixOf(70000), (Bytes{0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}));
}

TEST(ArchiveString, RoundTripsEveryPrefixForm)
{
    for (int n : {0, 1, 254, 255, 256, 65533, 65534, 65535, 70000})
    {
        CString s('x', n);
        EXPECT_EQ(loaded(stored(s)), s) << n;
    }
    CString binary("a\xff\x00z", 4);
    EXPECT_EQ(loaded(stored(binary)), binary);
}

TEST(ArchiveString, ReadsTheWideFormAsEightBitText)
{
    EXPECT_EQ(loaded({0xFF, 0xFE, 0xFF, 0x04, '2', 0, '0', 0, '1', 0, '0', 0}), "2010");
    // A character outside 8-bit text cannot be kept and becomes a question mark.
    EXPECT_EQ(loaded({0xFF, 0xFE, 0xFF, 0x02, 'A', 0, 0xAC, 0x20}), "A?");
    EXPECT_EQ(loaded({0xFF, 0xFE, 0xFF, 0x00}), "");
}

TEST(ArchiveString, ReadsTheSixtyFourBitForm)
{
    Bytes b{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'};
    EXPECT_EQ(loaded(b), "abc");
}

TEST(ArchiveString, HostileOrShortStreamsThrowEndOfFile)
{
    auto expectEnd = [](Bytes b) {
        CArchive ar(std::move(b));
        CString s;
        try
        {
            ar >> s;
            ADD_FAILURE() << "no exception";
        }
        catch (const CArchiveException& e)
        {
            EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
        }
    };
    expectEnd({});
    expectEnd({0x05, 'a', 'b'});
    expectEnd({0xFF, 0x10});
    expectEnd({0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    // 2^63 characters announced: must fail before any allocation is attempted.
    expectEnd({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0x80});
    expectEnd({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
               0xFF, 0xFF});
    // Wide text of n characters needs 2n bytes.
    expectEnd({0xFF, 0xFE, 0xFF, 0x03, 'a', 0, 'b', 0});
}

TEST(ArchiveString, RejectsARepeatedWideMarker)
{
    CArchive ar(Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0x00});
    CString s;
    EXPECT_THROW(ar >> s, CArchiveException);
}

TEST(ArchiveIntegers, AreLittleEndianAndCheckedForLength)
{
    CArchive out(CArchive::store);
    out << DWORD{9600} << LONG{-1} << WORD{0x1234} << BYTE{7};
    EXPECT_EQ(out.Buffer(), (Bytes{0x80, 0x25, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x34, 0x12, 7}));

    CArchive in(out.Buffer());
    DWORD d;
    LONG l;
    WORD w;
    BYTE b;
    in >> d >> l >> w >> b;
    EXPECT_EQ(d, 9600u);
    EXPECT_EQ(l, -1);
    EXPECT_EQ(w, 0x1234);
    EXPECT_EQ(b, 7);
    EXPECT_THROW(in >> b, CArchiveException);

    CArchive shortInt(Bytes{1, 2, 3});
    EXPECT_THROW(shortInt >> d, CArchiveException);
}

TEST(ArchiveModes, StoringArchiveRefusesToReadAndViceVersa)
{
    CArchive out(CArchive::store);
    DWORD d;
    EXPECT_THROW(out >> d, CArchiveException);
    CArchive in(Bytes{});
    EXPECT_THROW(in << DWORD{1}, CArchiveException);
}
