// id3lib's reader over a TagWindow.
#ifndef VQ_IN_STRATA_TAG_WINDOW_READER_H
#define VQ_IN_STRATA_TAG_WINDOW_READER_H

#include <id3/reader.h>

#include "tag_window.h"

// id3lib's reader over a window: the library asks for the position and moves
// it before and after every frame and field, which costs nothing here.
class TagWindowReader : public ID3_Reader {
public:
    // end must fit the library's 32-bit positions.
    explicit TagWindowReader(TagWindow* window) : window_(window), end_((pos_type)window->End()) {}

    void close() override {}
    pos_type getEnd() override { return end_; }
    pos_type getCur() override { return cur_; }
    pos_type setCur(pos_type pos) override { return cur_ = pos < end_ ? pos : end_; }
    int_type peekChar() override
    {
        const unsigned char* p;
        return window_->Peek(cur_, &p) ? (int_type)*p : END_OF_READER;
    }
    int_type readChar() override
    {
        int_type c = peekChar();
        if (c != END_OF_READER) ++cur_;
        return c;
    }
    size_type readChars(char_type buf[], size_type len) override
    {
        size_type done = 0;
        while (done < len) {
            const unsigned char* p;
            size_t n = window_->Peek(cur_, &p);
            if (!n) break;
            if (n > len - done) n = len - done;
            memcpy(buf + done, p, n);
            done += (size_type)n;
            cur_ += (pos_type)n;
        }
        return done;
    }
    size_type readChars(char buf[], size_type len) override
    {
        return readChars(reinterpret_cast<char_type*>(buf), len);
    }
    size_type skipChars(size_type len) override
    {
        size_type n = len < end_ - cur_ ? len : end_ - cur_;
        cur_ += n;
        return n;
    }

private:
    TagWindow* window_;
    pos_type end_, cur_ = 0;
};

#endif
