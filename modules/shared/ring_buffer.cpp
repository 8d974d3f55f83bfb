#include "ring_buffer.h"

#include <string.h>

RingBuffer* RingBuffer_Create(int32_t capacity)
{
    if (capacity <= 0 || capacity > 0x3FFFFFFF) return nullptr;
    HANDLE heap = GetProcessHeap();
    auto* ring = static_cast<RingBuffer*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(RingBuffer)));
    if (!ring) return nullptr;
    ring->data = static_cast<unsigned char*>(HeapAlloc(heap, 0, 2 * (SIZE_T)capacity));
    if (!ring->data) {
        HeapFree(heap, 0, ring);
        return nullptr;
    }
    ring->capacity = (uint32_t)capacity;
    InitializeCriticalSection(&ring->lock);
    return ring;
}

uint32_t RingBuffer_Read(void* dst, uint32_t n, RingBuffer* ring)
{
    if (!ring) return 0;
    EnterCriticalSection(&ring->lock);
    if (n > ring->used) n = ring->used;
    if (dst && n) memcpy(dst, ring->data + ring->readPos, n);
    ring->used -= n;
    ring->readPos = (ring->readPos + n) % ring->capacity;
    LeaveCriticalSection(&ring->lock);
    return n;
}

uint32_t RingBuffer_Write(const void* src, uint32_t n, RingBuffer* ring)
{
    if (!ring || !src || n == 0 || n > ring->capacity - ring->used) return 0;
    EnterCriticalSection(&ring->lock);
    // Recheck under the lock: a reset from a third thread only frees space,
    // but keep the write all-or-nothing whatever happened meanwhile.
    if (n > ring->capacity - ring->used) {
        LeaveCriticalSection(&ring->lock);
        return 0;
    }
    const unsigned char* s = static_cast<const unsigned char*>(src);
    uint32_t cap = ring->capacity;
    uint32_t room = cap - ring->writePos;
    if (n > room) {
        memcpy(ring->data + ring->writePos, s, room);
        memcpy(ring->data + ring->writePos + cap, s, room);
        memcpy(ring->data, s + room, n - room);
        memcpy(ring->data + cap, s + room, n - room);
    } else {
        memcpy(ring->data + ring->writePos, s, n);
        memcpy(ring->data + ring->writePos + cap, s, n);
    }
    ring->used += n;
    ring->writePos = (ring->writePos + n) % cap;
    LeaveCriticalSection(&ring->lock);
    return n;
}

uint32_t RingBuffer_Used(const RingBuffer* ring) { return ring ? *(const volatile uint32_t*)&ring->used : 0; }

uint32_t RingBuffer_Free(const RingBuffer* ring) { return ring ? ring->capacity - *(const volatile uint32_t*)&ring->used : 0; }

void RingBuffer_Reset(RingBuffer* ring)
{
    if (!ring) return;
    EnterCriticalSection(&ring->lock);
    ring->writePos = 0;
    ring->readPos = 0;
    ring->used = 0;
    LeaveCriticalSection(&ring->lock);
}

void RingBuffer_Destroy(RingBuffer* ring)
{
    if (!ring) return;
    HANDLE heap = GetProcessHeap();
    HeapFree(heap, 0, ring->data);
    DeleteCriticalSection(&ring->lock);
    HeapFree(heap, 0, ring);
}
