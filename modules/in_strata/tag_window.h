// A read-only window over a file for tag reading: reads near each other cost
// one file read per 64 KiB instead of a seek and a read each. The file is
// reached through a read-at function, so the same code serves the module
// (a Windows handle) and the native tag benchmark.
#ifndef VQ_IN_STRATA_TAG_WINDOW_H
#define VQ_IN_STRATA_TAG_WINDOW_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

class TagWindow {
public:
    // Reads exactly n bytes at pos; false when that cannot be done.
    typedef bool (*ReadAtFn)(void* file, int64_t pos, void* dst, uint32_t n);

    TagWindow(ReadAtFn readAt, void* file, int64_t end) : readAt_(readAt), file_(file), end_(end) {}
    ~TagWindow() { free(buf_); }
    TagWindow(const TagWindow&) = delete;
    TagWindow& operator=(const TagWindow&) = delete;

    int64_t End() const { return end_; }

    // Exactly n bytes at pos, all before the end; reads too large for the
    // window go to the file directly.
    bool Read(int64_t pos, void* dst, size_t n)
    {
        if (pos < 0 || pos > end_ || (int64_t)n > end_ - pos) return false;
        if (n > kWindow) return n <= UINT32_MAX && readAt_(file_, pos, dst, (uint32_t)n);
        const unsigned char* p;
        if (n && Bytes(pos, &p) < n) {
            if (!Load(pos)) return readAt_(file_, pos, dst, (uint32_t)n);
            p = buf_;
        }
        memcpy(dst, p, n);
        return true;
    }

    // The bytes at pos that the window holds, loading it there if need be:
    // at least one unless pos is at the end or the file cannot be read.
    size_t Peek(int64_t pos, const unsigned char** p)
    {
        size_t n = Bytes(pos, p);
        if (n || pos < 0 || pos >= end_ || !Load(pos)) return n;
        return Bytes(pos, p);
    }

private:
    static const uint32_t kWindow = 64 * 1024;

    size_t Bytes(int64_t pos, const unsigned char** p) const
    {
        if (pos < start_ || pos >= start_ + (int64_t)length_) return 0;
        *p = buf_ + (pos - start_);
        return (size_t)(start_ + length_ - pos);
    }
    bool Load(int64_t pos)
    {
        if (!buf_ && !(buf_ = static_cast<unsigned char*>(malloc(kWindow)))) return false;
        int64_t left = end_ - pos;
        length_ = (uint32_t)(left < kWindow ? left : kWindow);
        start_ = pos;
        if (readAt_(file_, pos, buf_, length_)) return true;
        length_ = 0;
        return false;
    }

    ReadAtFn readAt_;
    void* file_;
    int64_t end_, start_ = 0;
    uint32_t length_ = 0;
    unsigned char* buf_ = nullptr;
};

#endif
