#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "ring_buffer.h"

namespace {

std::vector<unsigned char> Pattern(size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = (unsigned char)(i * 7 + seed);
    return v;
}

TEST(RingBuffer, FillEmptyAndAllOrNothing)
{
    RingBuffer* r = RingBuffer_Create(100);
    ASSERT_NE(r, nullptr);
    auto a = Pattern(100, 1);
    EXPECT_EQ(RingBuffer_Write(a.data(), 0, r), 0u);
    EXPECT_EQ(RingBuffer_Used(r), 0u);
    EXPECT_EQ(RingBuffer_Write(a.data(), 60, r), 60u);
    EXPECT_EQ(RingBuffer_Free(r), 40u);
    EXPECT_EQ(RingBuffer_Write(a.data(), 41, r), 0u);  // one byte too many: nothing stored
    EXPECT_EQ(RingBuffer_Used(r), 60u);
    EXPECT_EQ(RingBuffer_Write(a.data() + 60, 40, r), 40u);  // exactly the free space
    EXPECT_EQ(RingBuffer_Free(r), 0u);
    std::vector<unsigned char> out(200);
    EXPECT_EQ(RingBuffer_Read(out.data(), 200, r), 100u);  // more than stored
    EXPECT_EQ(memcmp(out.data(), a.data(), 100), 0);
    EXPECT_EQ(RingBuffer_Read(out.data(), 10, r), 0u);
    RingBuffer_Destroy(r);
}

TEST(RingBuffer, WrappedWriteReadsContiguouslyAndNullReadDrops)
{
    RingBuffer* r = RingBuffer_Create(64);
    ASSERT_NE(r, nullptr);
    auto a = Pattern(64, 3);
    ASSERT_EQ(RingBuffer_Write(a.data(), 50, r), 50u);
    EXPECT_EQ(RingBuffer_Read(nullptr, 40, r), 40u);  // dropped
    EXPECT_EQ(RingBuffer_Used(r), 10u);
    EXPECT_EQ(r->readPos, 40u);
    auto b = Pattern(40, 9);
    ASSERT_EQ(RingBuffer_Write(b.data(), 40, r), 40u);  // crosses the end of the area
    EXPECT_EQ(r->writePos, 26u);
    // One contiguous run at readPos thanks to the mirror.
    EXPECT_EQ(memcmp(r->data + r->readPos, a.data() + 40, 10), 0);
    EXPECT_EQ(memcmp(r->data + r->readPos + 10, b.data(), 40), 0);
    std::vector<unsigned char> out(50);
    ASSERT_EQ(RingBuffer_Read(out.data(), 50, r), 50u);
    EXPECT_EQ(memcmp(out.data(), a.data() + 40, 10), 0);
    EXPECT_EQ(memcmp(out.data() + 10, b.data(), 40), 0);

    ASSERT_EQ(RingBuffer_Write(a.data(), 5, r), 5u);
    RingBuffer_Reset(r);
    EXPECT_EQ(RingBuffer_Used(r), 0u);
    ASSERT_EQ(RingBuffer_Write(b.data(), 3, r), 3u);
    EXPECT_EQ(r->readPos, 0u);
    EXPECT_EQ(memcmp(r->data, b.data(), 3), 0);
    RingBuffer_Destroy(r);
}

struct Pipe {
    RingBuffer* ring;
    size_t total;
};

DWORD WINAPI Producer(void* arg)
{
    auto* p = static_cast<Pipe*>(arg);
    size_t sent = 0;
    unsigned char block[997];
    while (sent < p->total) {
        size_t n = p->total - sent < sizeof block ? p->total - sent : sizeof block;
        for (size_t i = 0; i < n; ++i) block[i] = (unsigned char)((sent + i) * 31 >> 3);
        while (RingBuffer_Write(block, (uint32_t)n, p->ring) == 0) Sleep(0);
        sent += n;
    }
    return 0;
}

TEST(RingBuffer, ProducerAndConsumerThreadsKeepOrder)
{
    Pipe p{RingBuffer_Create(4096), 2000000};
    ASSERT_NE(p.ring, nullptr);
    HANDLE t = CreateThread(nullptr, 0, Producer, &p, 0, nullptr);
    size_t got = 0;
    bool ok = true;
    unsigned char buf[1500];
    while (got < p.total) {
        uint32_t n = RingBuffer_Read(buf, sizeof buf, p.ring);
        for (uint32_t i = 0; i < n; ++i)
            if (buf[i] != (unsigned char)((got + i) * 31 >> 3)) ok = false;
        got += n;
        if (!n) Sleep(0);
    }
    WaitForSingleObject(t, 10000);
    CloseHandle(t);
    EXPECT_TRUE(ok);
    EXPECT_EQ(got, p.total);
    RingBuffer_Destroy(p.ring);
}

}  // namespace
