// Reads the ID3 tag of files with id3lib built natively for this machine (by
// tools/bench/tag_bench.sh; not a test), the way the MPEG input module reads
// one: the tag linked with every tag type through a window over the file,
// then the frames it looks for.
//   tag_read_native <n> <file>...
// Prints "<file> native-seconds <fastest of n> frames <frames in the tag>"
// for each file, or "<file> threw" where the library threw (out of memory).
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <id3/tag.h>

#include "tag_window_reader.h"

namespace {

double CpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

bool ReadAt(void* file, int64_t pos, void* dst, uint32_t n)
{
    return pread(*static_cast<int*>(file), dst, n, pos) == (ssize_t)n;
}

size_t ReadTag(const char* path)
{
    int fd = open(path, O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0) close(fd);
        return 0;
    }
    TagWindow window(ReadAt, &fd, st.st_size);
    TagWindowReader reader(&window);
    ID3_Tag tag;
    tag.Link(reader, ID3TT_ALL);
    close(fd);
    const ID3_FrameID wanted[] = {ID3FID_LEADARTIST, ID3FID_BAND,     ID3FID_CONDUCTOR,   ID3FID_COMPOSER,
                                  ID3FID_ALBUM,      ID3FID_TITLE,    ID3FID_YEAR,        ID3FID_COMMENT,
                                  ID3FID_TRACKNUM,   ID3FID_CONTENTTYPE, ID3FID_BPM,      ID3FID_PLAYCOUNTER};
    for (ID3_FrameID id : wanted) tag.Find(id);
    return tag.NumFrames();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: tag_read_native <n> <file>...\n");
        return 2;
    }
    int n = atoi(argv[1]);
    for (int f = 2; f < argc; ++f) {
        double best = -1;
        size_t frames = 0;
        try {
            for (int i = 0; i < n; ++i) {
                double t0 = CpuSeconds();
                frames = ReadTag(argv[f]);
                double t = CpuSeconds() - t0;
                if (best < 0 || t < best) best = t;
            }
            printf("%s native-seconds %.4f frames %zu\n", argv[f], best, frames);
        } catch (...) {
            printf("%s threw\n", argv[f]);
        }
        fflush(stdout);
    }
    return 0;
}
