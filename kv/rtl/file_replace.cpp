// Replacing a file through a temporary file and a rename (POSIX).
#include "kv/rtl/detail/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "kv/rtl/detail/file_read.h"
#include "kv/rtl/exceptions.h"

namespace kv::detail {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& FileName, const char* What, int Error) {
    throw EXmlError(
        Format("Cannot write the file \"%s\": %s: %s", FileName, What, std::strerror(Error)));
}

// The file a write to FileName reaches: a symbolic link is followed, so the file it names is
// replaced and the link stays. Only a regular file is replaced, or a new one made: a target that
// exists and is not a regular file (after following links: a directory, a FIFO, a device, a
// socket) is refused, and so is a symbolic link that names no file (dangling, or a loop), since
// the file it would reach is not the one it names.
fs::path WriteTarget(const std::string& FileName) {
    fs::path Target(FileName);
    struct stat Link {};
    if (::lstat(FileName.c_str(), &Link) != 0)
        return Target; // a new file (or one that cannot be reached: creating it will say why)
    if (S_ISLNK(Link.st_mode)) {
        std::error_code EC;
        fs::path Resolved = fs::canonical(Target, EC);
        if (EC)
            throw EXmlError(Format("Cannot write the file \"%s\": it is a symbolic link that "
                                   "names no file (%s)",
                                   FileName, EC.message()));
        Target = std::move(Resolved);
    }
    struct stat Info {};
    if (::stat(Target.c_str(), &Info) == 0)
        if (const char* Kind = SpecialFileKind(Info.st_mode))
            throw EXmlError(Format("Cannot write the file \"%s\": it is %s, not a regular file, "
                                   "and is not replaced",
                                   FileName, Kind));
    return Target;
}

// A name for the temporary file beside Target that no other writer uses at the same time.
fs::path TemporaryName(const fs::path& Target, unsigned Attempt) {
    static std::atomic<unsigned> Counter{0};
    const auto Ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    fs::path Name = Target;
    Name += Format(".%ld-%u-%llx-%u.tmp", static_cast<long>(::getpid()), Counter++, Ticks, Attempt);
    return Name;
}

// Closes the descriptor and removes the temporary file unless the rename has taken it.
class TTemporaryFile {
public:
    explicit TTemporaryFile(const fs::path& Target, const std::string& FileName) {
        for (unsigned Attempt = 0;; ++Attempt) {
            FPath = TemporaryName(Target, Attempt);
            FHandle = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (FHandle >= 0)
                return;
            if (errno != EEXIST || Attempt == 100)
                Fail(FileName, "cannot create a temporary file beside it", errno);
        }
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;
    ~TTemporaryFile() {
        if (FHandle >= 0)
            ::close(FHandle);
        if (!FRenamed)
            ::unlink(FPath.c_str());
    }

    int Handle() const noexcept { return FHandle; }
    const fs::path& Path() const noexcept { return FPath; }
    // Closes the descriptor; the result of close() (0, or -1 with errno).
    int Close() noexcept {
        const int Result = ::close(FHandle);
        FHandle = -1;
        return Result;
    }
    void Renamed() noexcept { FRenamed = true; }

private:
    fs::path FPath;
    int FHandle = -1;
    bool FRenamed = false;
};

void WriteAll(int Handle, std::string_view Bytes, const std::string& FileName) {
    const char* P = Bytes.data();
    size_t Left = Bytes.size();
    while (Left > 0) {
        const ssize_t N = ::write(Handle, P, Left);
        if (N < 0) {
            if (errno == EINTR)
                continue;
            Fail(FileName, "writing failed", errno);
        }
        P += N;
        Left -= static_cast<size_t>(N);
    }
}

// Makes the rename itself durable; a directory that cannot be synchronised is no failure of the
// write (the new content is complete either way).
void SyncDirectory(const fs::path& Directory) noexcept {
    const int Handle = ::open(Directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Handle >= 0) {
        ::fsync(Handle);
        ::close(Handle);
    }
}

// ReplaceFile's work; the caller turns foreign exceptions into EXmlError.
void ReplaceRegularFile(const std::string& FileName, std::string_view Bytes) {
    const fs::path Target = WriteTarget(FileName);
    TTemporaryFile Temporary(Target, FileName);
    struct stat Old {};
    if (::stat(Target.c_str(), &Old) == 0 && S_ISREG(Old.st_mode))
        ::fchmod(Temporary.Handle(), Old.st_mode & 07777);
    WriteAll(Temporary.Handle(), Bytes, FileName);
    if (::fsync(Temporary.Handle()) != 0)
        Fail(FileName, "flushing failed", errno);
    if (Temporary.Close() != 0)
        Fail(FileName, "closing failed", errno);
    if (::rename(Temporary.Path().c_str(), Target.c_str()) != 0)
        Fail(FileName, "cannot replace it", errno);
    Temporary.Renamed();
    fs::path Directory = Target.parent_path();
    SyncDirectory(Directory.empty() ? fs::path(".") : Directory);
}

} // namespace

void ReplaceFile(const std::string& FileName, std::string_view Bytes) {
    if (FileName.empty())
        throw EXmlError("Cannot write a file without a name");
    try {
        ReplaceRegularFile(FileName, Bytes);
    } catch (const std::bad_alloc&) {
        throw EXmlError(Format("Cannot write the file \"%s\": the memory ran out", FileName));
    } catch (const fs::filesystem_error& E) {
        throw EXmlError(Format("Cannot write the file \"%s\": %s", FileName, E.what()));
    }
}

} // namespace kv::detail
