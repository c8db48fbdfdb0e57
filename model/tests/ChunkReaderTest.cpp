#include "ChunkReader.h"

#include "TestSupport.h"

#include <vector>

using namespace modelwriter;

namespace {

class ChunkReaderTest : public ContentTest {
protected:
    // Opens a reader on a file holding exactly `bytes`.
    void Open(CChunkReader& reader, const Bytes& bytes)
    {
        ASSERT_EQ(reader.Open(HostPath(WriteBytes("chunks.bin", bytes))), 1);
    }

    static std::vector<int> WalkIds(CChunkReader& reader)
    {
        std::vector<int> ids;
        CChunkReader child;
        for (int id; (id = reader.NextChunk(&child)) != -1;)
            ids.push_back(id);
        return ids;
    }

    // Chunks 7, 0 and 42 back to back, then `tail`.
    static Bytes ThreeChunksThen(const Bytes& tail)
    {
        return Concat({Chunk(7, {1, 2, 3}), Chunk(0, {}), Chunk(42, {9}), tail});
    }
};

TEST_F(ChunkReaderTest, OpenFailsUnlessThePathIsAFileWithBytes)
{
    CChunkReader missing, empty, directory;
    EXPECT_EQ(missing.Open(HostPath(folder.Path() + "/nothing.model")), 0);
    EXPECT_EQ(empty.Open(HostPath(WriteBytes("empty.model", {}))), 0);
    EXPECT_EQ(directory.Open(HostPath(folder.Path())), 0);
    EXPECT_EQ(missing.NextChunk(nullptr), -1); // a failed open leaves a reader with nothing to walk
}

TEST_F(ChunkReaderTest, PagesReleasedAfterReadingReadTheSameAgain)
{
    Bytes bytes(5 * 4096 + 123);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + i / 4096);
    CChunkReader reader;
    Open(reader, bytes);
    const uint8_t* view = reader.Begin();
    PrepareReadPages(view + 100, bytes.size() - 200);
    ReleaseReadPages(view + 100, bytes.size() - 200); // whole pages inside: the second to the fifth
    EXPECT_EQ(Bytes(view, view + bytes.size()), bytes) << "a released page reads back from the file";
}

TEST_F(ChunkReaderTest, WalksChunksBackToBack)
{
    CChunkReader reader;
    Open(reader, ThreeChunksThen(Bytes()));
    EXPECT_EQ(WalkIds(reader), (std::vector<int>{7, 0, 42}));
    EXPECT_EQ(reader.NextChunk(nullptr), -1) << "the end stays the end";
}

TEST_F(ChunkReaderTest, IgnoresATailShorterThanAChunkHead)
{
    for (size_t tail = 1; tail < 8; ++tail) {
        CChunkReader reader;
        Open(reader, ThreeChunksThen(Bytes(tail, 0xAB)));
        EXPECT_EQ(WalkIds(reader), (std::vector<int>{7, 0, 42})) << "tail " << tail;
        EXPECT_EQ(reader.NextChunk(nullptr), -1) << "the end stays the end";
    }
}

TEST_F(ChunkReaderTest, RangeShorterThanAChunkHeadYieldsNoChunk)
{
    for (uint8_t length = 1; length < 8; ++length) {
        CChunkReader reader;
        Open(reader, Bytes(length, 0));
        EXPECT_EQ(reader.NextChunk(nullptr), -1);
    }
}

TEST_F(ChunkReaderTest, EmptyPayloadGivesAnEmptyChildWithoutEndingTheWalk)
{
    CChunkReader reader, child, grandchild;
    Open(reader, Concat({Chunk(5, {}), Chunk(6, {0xEE})}));
    ASSERT_EQ(reader.NextChunk(&child), 5);
    EXPECT_EQ(child.Remaining(), 0u);
    EXPECT_EQ(child.NextChunk(&grandchild), -1);
    EXPECT_EQ(reader.NextChunk(&child), 6);
    EXPECT_EQ(child.ReadU8(), 0xEE);
}

TEST_F(ChunkReaderTest, NextChunkLandsOnTheNextChunkHoweverMuchWasRead)
{
    const Bytes file = Concat({Chunk(1, ByteWriter().U32(0x11111111).U32(0x22222222).Take()), Chunk(2, {})});
    for (uint32_t consumed : {0u, 4u, 8u, 12u}) { // nothing, half, all, more than the payload
        CChunkReader reader, child;
        Open(reader, file);
        ASSERT_EQ(reader.NextChunk(&child), 1);
        Bytes sink(consumed);
        reader.ReadBytes(sink.data(), consumed);
        EXPECT_EQ(reader.NextChunk(&child), 2) << "after reading " << consumed;
    }
}

TEST_F(ChunkReaderTest, ReadsOfAChildDoNotMoveItsParent)
{
    CChunkReader reader, child;
    Open(reader, Chunk(3, ByteWriter().U32(0xDEADBEEF).U8(0x7F).Take()));
    ASSERT_EQ(reader.NextChunk(&child), 3);
    EXPECT_EQ(child.GetChunkId(), 3u) << "a fresh child answers the id of the chunk it covers";
    EXPECT_EQ(child.ReadU32(), 0xDEADBEEFu);
    EXPECT_EQ(reader.ReadU32(), 0xDEADBEEFu) << "the child's reads do not move the parent";
    EXPECT_EQ(child.ReadU8(), 0x7F);
}

TEST_F(ChunkReaderTest, WalkWithoutAChildLeavesThePayloadToTheParent)
{
    CChunkReader noChild;
    Open(noChild, Chunk(3, ByteWriter().U32(0xDEADBEEF).Take()));
    ASSERT_EQ(noChild.NextChunk(nullptr), 3);
    EXPECT_EQ(noChild.ReadU32(), 0xDEADBEEFu);
}

TEST_F(ChunkReaderTest, ChunkIdAllOnesEndsTheWalk)
{
    CChunkReader reader;
    Open(reader, Concat({Chunk(1, {}), Chunk(0xFFFFFFFF, {}), Chunk(2, {})}));
    EXPECT_EQ(WalkIds(reader), (std::vector<int>{1}));
}

TEST_F(ChunkReaderTest, ReadsValuesLittleEndianAtAnyOffset)
{
    CChunkReader reader, child;
    Open(reader, Chunk(1, ByteWriter().U8(0).U32(0x04030201).String("").String("abc").Take()));
    ASSERT_EQ(reader.NextChunk(&child), 1);
    EXPECT_EQ(child.ReadU8(), 0);
    EXPECT_EQ(child.ReadU32(), 0x04030201u) << "unaligned";
    EXPECT_EQ(child.ReadString(), "");
    EXPECT_EQ(child.Remaining(), 4u) << "an empty string still consumes its zero";
    EXPECT_EQ(child.ReadString(), "abc");
    EXPECT_FALSE(child.Overrun());
}

TEST_F(ChunkReaderTest, ReadsPastTheRangeYieldZerosWithoutLeavingIt)
{
    CChunkReader reader, child;
    Open(reader, Concat({Chunk(1, {0xAA, 0xBB}), Chunk(2, {0x55, 0x55, 0x55, 0x55})}));
    ASSERT_EQ(reader.NextChunk(&child), 1);
    EXPECT_EQ(child.ReadU32(), 0xBBAAu) << "the bytes that are there, zeros for the rest";
    EXPECT_TRUE(child.Overrun());
    EXPECT_EQ(child.Remaining(), 0u);
    EXPECT_EQ(child.ReadU8(), 0) << "never the next chunk's bytes";
    EXPECT_EQ(child.Take(1), nullptr);
    EXPECT_EQ(reader.NextChunk(&child), 2);
    EXPECT_FALSE(child.Overrun()) << "a fresh child starts clean";
}

TEST_F(ChunkReaderTest, UnterminatedStringStopsAtTheRangeEnd)
{
    CChunkReader reader, child;
    Open(reader, Concat({Chunk(1, {'a', 'b'}), Chunk(2, {'c', 0})}));
    ASSERT_EQ(reader.NextChunk(&child), 1);
    EXPECT_EQ(child.ReadString(), "ab");
    EXPECT_TRUE(child.Overrun());
    EXPECT_EQ(child.ReadString(), "");
}

TEST_F(ChunkReaderTest, ChunkClaimingMoreThanTheFileHoldsIsClampedToItsEnd)
{
    CChunkReader reader, child;
    Open(reader, Concat({Chunk(1, {}), ChunkDeclaring(2, 1000, {1, 2, 3}), Bytes(5, 0)}));
    ASSERT_EQ(reader.NextChunk(&child), 1);
    EXPECT_FALSE(child.Truncated());
    ASSERT_EQ(reader.NextChunk(&child), 2);
    EXPECT_TRUE(child.Truncated());
    EXPECT_EQ(child.Remaining(), 8u) << "clamped to the bytes left in the file";
    EXPECT_EQ(reader.NextChunk(&child), -1);
}

TEST_F(ChunkReaderTest, ChunkClaimingMoreThanItsParentHoldsIsClampedToTheParent)
{
    // The inner chunk cannot reach past its parent's payload into the next chunk.
    CChunkReader outer, inner, innermost;
    Open(outer, Concat({Chunk(9, ChunkDeclaring(4, 100, {7})), Chunk(10, Bytes(200, 0xCC))}));
    ASSERT_EQ(outer.NextChunk(&inner), 9);
    ASSERT_EQ(inner.NextChunk(&innermost), 4);
    EXPECT_EQ(innermost.Remaining(), 1u);
    EXPECT_EQ(inner.NextChunk(&innermost), -1);
    EXPECT_EQ(outer.NextChunk(&inner), 10);
}

} // namespace
