// Native timing of the ASF structure check (built and run by asf_check.sh
// beside it; not a test): asf_check_bench <file>... prints, per file, the
// check's verdict, the time of one check with the file first dropped from the
// page cache (as far as the system lets it go), and the best of seven checks
// with the file in the page cache (as a file just listed is found), each the
// wall-clock time of a whole check reading through pread.
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
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        double t0 = Now();
        asf::Fault fault = asf::CheckStructure((uint64_t)st.st_size, ReadAt, &fd);
        double cold = Now() - t0;
        double best = 1e9;
        for (int run = 0; run < 7; ++run) {
            t0 = Now();
            fault = asf::CheckStructure((uint64_t)st.st_size, ReadAt, &fd);
            double t = Now() - t0;
            if (t < best) best = t;
        }
        close(fd);
        printf("%-40s %10lld bytes  fault %2d  uncached %8.3f ms  cached %8.3f ms (%.0f MB/s)\n", argv[i],
               (long long)st.st_size, (int)fault, cold * 1e3, best * 1e3, st.st_size / best / 1e6);
        if (fault != asf::Fault::None) ++failed;
    }
    return failed ? 1 : 0;
}
