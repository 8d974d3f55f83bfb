// Locked byte FIFO between one producer thread and one consumer thread. Every
// stored byte is kept twice (at p and p + capacity) so a read is one
// contiguous copy.
#pragma once
#include <windows.h>
#include <stdint.h>

struct RingBuffer {
    unsigned char* data;  // 2 x capacity bytes
    uint32_t readPos;
    uint32_t writePos;
    uint32_t used;
    uint32_t capacity;
    CRITICAL_SECTION lock;
};

RingBuffer* RingBuffer_Create(int32_t capacity);
// Takes min(n, used) bytes; a NULL destination drops them.
uint32_t RingBuffer_Read(void* dst, uint32_t n, RingBuffer* ring);
// All or nothing: n when stored, 0 when it does not fit (or n is 0).
uint32_t RingBuffer_Write(const void* src, uint32_t n, RingBuffer* ring);
// Unlocked hints; the locked operations recheck.
uint32_t RingBuffer_Used(const RingBuffer* ring);
uint32_t RingBuffer_Free(const RingBuffer* ring);
void RingBuffer_Reset(RingBuffer* ring);
void RingBuffer_Destroy(RingBuffer* ring);
