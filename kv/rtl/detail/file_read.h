// Internal: reading a whole file with a limit, and telling regular files from the rest.
#pragma once

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

// What a file of the given st_mode is, for messages ("a directory", "a FIFO", ...); nullptr for a
// regular file.
const char* SpecialFileKind(unsigned Mode) noexcept;

} // namespace kv::detail
