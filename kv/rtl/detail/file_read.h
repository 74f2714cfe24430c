// Internal: reading a whole file with a limit, and telling regular files from the rest.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kv::detail {

// The content of FileName, read to its end. Only a regular file is read (a symbolic link is
// followed): a directory, FIFO, device or socket is refused before a byte is read, without
// waiting for a writer. A file that claims more than MaxBytes bytes is refused before it is read,
// and one that turns out to hold more (it grew, or its size lied) is refused as soon as byte
// MaxBytes + 1 arrives. The buffer grows with what has been read (at most doubling), never by the
// size the file claims. Every failure raises EXmlError naming FileName and the reason.
std::string ReadRegularFile(const std::string& FileName, uint64_t MaxBytes);

// Reads a source to its end: ReadSome(Into, Room) stores at most Room bytes at Into and returns
// how many, 0 at the end (it raises on a failure); TooLarge() raises, and is called as soon as
// byte MaxBytes + 1 arrives. The buffer grows with what has been read (at most doubling, from 64
// KiB), never by a size the source claims.
template <class TReadSome, class TTooLarge>
std::string ReadWithLimit(uint64_t MaxBytes, const TReadSome& ReadSome, const TTooLarge& TooLarge) {
    // One byte beyond the limit is room enough to see that the source is too long.
    const uint64_t Room = MaxBytes < UINT64_MAX ? MaxBytes + 1 : MaxBytes;
    std::string Bytes;
    size_t Used = 0;
    Bytes.resize(static_cast<size_t>(std::min<uint64_t>(Room, uint64_t(1) << 16)));
    for (;;) {
        if (Used == Bytes.size()) {
            if (Used >= Room)
                TooLarge();
            Bytes.resize(static_cast<size_t>(std::min<uint64_t>(Room, uint64_t(Used) * 2)));
        }
        const size_t N = ReadSome(Bytes.data() + Used, Bytes.size() - Used);
        if (N == 0)
            break;
        Used += N;
    }
    if (Used > MaxBytes)
        TooLarge();
    Bytes.resize(Used);
    return Bytes;
}

// What a file of the given st_mode is, for messages ("a directory", "a FIFO", ...); nullptr for a
// regular file.
const char* SpecialFileKind(unsigned Mode) noexcept;

} // namespace kv::detail
