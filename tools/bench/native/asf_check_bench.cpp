// Native timing of the ASF structure check (built and run by asf_check.sh
// beside it; not a test): asf_check_bench <file>... prints, per file, the
// check's verdict and the best of seven wall-clock times of one whole check
// (the file read through pread from the page cache, as a second open of a
// file just listed finds it).
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "asf_structure.h"

namespace {

bool ReadAt(void* file, uint64_t offset, uint8_t* to, size_t bytes)
{
    int fd = *static_cast<int*>(file);
    while (bytes > 0) {
        ssize_t got = pread(fd, to, bytes, (off_t)offset);
        if (got <= 0) return false;
        to += got;
        offset += (uint64_t)got;
        bytes -= (size_t)got;
    }
    return true;
}

double Now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

}  // namespace

int main(int argc, char** argv)
{
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        int fd = open(argv[i], O_RDONLY);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0) {
            fprintf(stderr, "%s: cannot open\n", argv[i]);
            return 2;
        }
        asf::Fault fault = asf::Fault::None;
        double best = 1e9;
        for (int run = 0; run < 7; ++run) {
            double t0 = Now();
            fault = asf::CheckStructure((uint64_t)st.st_size, ReadAt, &fd);
            double t = Now() - t0;
            if (t < best) best = t;
        }
        close(fd);
        printf("%-40s %10lld bytes  fault %2d  %8.3f ms  (%.0f MB/s)\n", argv[i], (long long)st.st_size, (int)fault,
               best * 1e3, st.st_size / best / 1e6);
        if (fault != asf::Fault::None) ++failed;
    }
    return failed ? 1 : 0;
}
