// Reading a whole regular file with a limit (POSIX).
#include "kv/rtl/detail/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "kv/rtl/exceptions.h"

namespace kv::detail {

namespace {

[[noreturn]] void Fail(const std::string& FileName, const std::string& Why) {
    throw EXmlError(Format("Cannot read the file \"%s\": %s", FileName, Why));
}

// Closes the descriptor on every path.
class TReadHandle {
public:
    explicit TReadHandle(int Handle) noexcept : FHandle(Handle) {}
    TReadHandle(const TReadHandle&) = delete;
    TReadHandle& operator=(const TReadHandle&) = delete;
    ~TReadHandle() {
        if (FHandle >= 0)
            ::close(FHandle);
    }
    int Get() const noexcept { return FHandle; }

private:
    int FHandle;
};

[[noreturn]] void TooLarge(const std::string& FileName, uint64_t MaxBytes) {
    Fail(FileName, Format("it holds more than the %llu bytes a document may have",
                          static_cast<unsigned long long>(MaxBytes)));
}

} // namespace

const char* SpecialFileKind(unsigned Mode) noexcept {
    if (S_ISREG(Mode))
        return nullptr;
    if (S_ISDIR(Mode))
        return "a directory";
    if (S_ISFIFO(Mode))
        return "a FIFO (named pipe)";
    if (S_ISCHR(Mode))
        return "a character device";
    if (S_ISBLK(Mode))
        return "a block device";
    if (S_ISSOCK(Mode))
        return "a socket";
    return "not a regular file";
}

std::string ReadRegularFile(const std::string& FileName, uint64_t MaxBytes) {
    // Opening without blocking: a FIFO without a writer would otherwise wait forever here.
    const TReadHandle File(::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (File.Get() < 0) {
        const int Error = errno;
        throw EXmlError(Format("Cannot open the file \"%s\": %s", FileName, std::strerror(Error)));
    }
    struct stat Info {};
    if (::fstat(File.Get(), &Info) != 0)
        Fail(FileName, std::strerror(errno));
    if (const char* Kind = SpecialFileKind(Info.st_mode))
        Fail(FileName, Format("it is %s, not a regular file", Kind));
    if (Info.st_size > 0 && static_cast<uint64_t>(Info.st_size) > MaxBytes)
        Fail(FileName, Format("it has %llu bytes, more than the %llu a document may have",
                              static_cast<unsigned long long>(Info.st_size),
                              static_cast<unsigned long long>(MaxBytes)));
    const int Flags = ::fcntl(File.Get(), F_GETFL);
    if (Flags < 0 || ::fcntl(File.Get(), F_SETFL, Flags & ~O_NONBLOCK) != 0)
        Fail(FileName, std::strerror(errno));

    return ReadWithLimit(
        MaxBytes,
        [&](char* Into, size_t Room) -> size_t {
            for (;;) {
                const ssize_t N = ::read(File.Get(), Into, Room);
                if (N >= 0)
                    return static_cast<size_t>(N);
                if (errno != EINTR)
                    Fail(FileName, std::strerror(errno));
            }
        },
        [&] { TooLarge(FileName, MaxBytes); });
}

} // namespace kv::detail
