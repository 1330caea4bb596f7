// The I/O floor of scripts/bench: the least that any reader of these files has to do. For every
// file named on the command line it opens the file, maps it whole, reads one byte of its first
// page and one of its last, and unmaps and closes it; nothing is parsed. Prints the number of
// files it could map and a checksum of the bytes read, so that the reads cannot be optimised
// away. Exits 0 whatever the files held.
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Maps the file and returns its first byte plus its last; false when it cannot be mapped.
bool touch(const char *path, std::uint64_t &sum) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat status {};
    bool mapped = false;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        const auto length = static_cast<std::size_t>(status.st_size);
        void *view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
        if (view != MAP_FAILED) {
            const auto *bytes = static_cast<const volatile std::uint8_t *>(view);
            sum += bytes[0];
            sum += bytes[length - 1];
            ::munmap(view, length);
            mapped = true;
        }
    }
    ::close(fd);
    return mapped;
}

} // namespace

int main(int argc, char **argv) {
    std::uint64_t sum = 0;
    int mapped = 0;
    for (int i = 1; i < argc; ++i)
        mapped += touch(argv[i], sum) ? 1 : 0;
    std::printf("%d files mapped, checksum %llu\n", mapped, static_cast<unsigned long long>(sum));
    return 0;
}
