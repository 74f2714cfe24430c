// Internal: replacing a file's content as one step.
#pragma once

#include <string>
#include <string_view>

namespace kv::detail {

// Writes Bytes to a new temporary file in the directory of FileName, flushes it to the disk and
// renames it over FileName, so that FileName holds either its old content or all of Bytes, never
// a part. A symbolic link has the file it names replaced. Only a regular file is replaced: a
// target that is a directory, FIFO, device or socket (after following links), or a symbolic link
// that names no file, is refused before anything is written. An existing file's permissions pass
// to the new one; a new file gets the usual ones (0666 less the process's umask). On any failure
// (the memory running out included) the temporary file is removed and EXmlError names FileName
// and the reason.
void ReplaceFile(const std::string& FileName, std::string_view Bytes);

} // namespace kv::detail
