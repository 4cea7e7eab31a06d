#include "pictures/files/safe_save.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <new>
#include <system_error>
#include <vector>

namespace sigillon {
namespace {

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports the error close found (a delayed write error
    // on some file systems).
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// The folder part of a path, with its final '/', or "" for a bare name.
std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReadLink(const std::string& path, std::string_view prefix) {
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0) ThrowFileError(prefix, errno, "cannot read the link " + path);
        if (std::size_t(length) < buffer.size())
            return std::string(buffer.data(), std::size_t(length));
        buffer.resize(buffer.size() * 2);
    }
}

// Follows symbolic links to the file they finally name, so that replacing
// that file leaves every link in place. A name that does not exist yet (a
// new file, or the missing target of a dangling link) is returned as is.
std::string FinalTarget(std::string path, std::string_view prefix) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno == ENOENT) return path;
            ThrowFileError(prefix, errno, "cannot inspect " + path);
        }
        if (!S_ISLNK(info.st_mode)) return path;
        std::string target = ReadLink(path, prefix);
        if (target.empty()) ThrowFileError(prefix, ENOENT, "empty link " + path);
        path = target.front() == '/' ? target : FolderOf(path) + target;
    }
    ThrowFileError(prefix, ELOOP, "too many links from " + path);
}

// Temporary files of one target, in its own folder so that the final
// rename stays on one file system: hidden, named after the target (cut
// short enough for any file system) and numbered, so that a later save of
// the target finds what a killed one left without reading the folder.
constexpr int kTemporarySlots = 8;

std::string TemporaryName(const std::string& target, int slot) {
    return FolderOf(target) + "." + NameOf(target).substr(0, 200) + ".sigillon-" +
           std::to_string(slot);
}

// A writer holds an exclusive lock on its temporary file for as long as it
// lives, and the system drops the lock when the process dies; so a
// temporary file that can be locked was left by a killed writer.
void RemoveIfStale(const std::string& name) {
    int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    FileDescriptor file(fd);
    struct stat opened, named;
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return;
    // Still the same file under that name: not one a new writer just made.
    if (::lstat(name.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino)
        ::unlink(name.c_str());
}

void RemoveStaleTemporaries(const std::string& target) {
    for (int slot = 1; slot <= kTemporarySlots; ++slot) RemoveIfStale(TemporaryName(target, slot));
}

// The path under which a file without a name can be given one.
std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Gives the open file fd the name, without replacing anything there; on
// failure errno says why (EEXIST: the name is taken).
bool LinkOpenFile(int fd, const std::string& name) {
    if (::linkat(AT_FDCWD, ProcPath(fd).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno == EEXIST) return false;
    // Without /proc, the descriptor itself (a privilege of some processes).
    int procError = errno;
    if (::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != EEXIST) errno = procError;
    return false;
}

// Makes the rename itself durable. A folder that cannot be opened for
// reading, or a file system that cannot sync folders, still got the renamed
// file; only an error the disk reports fails the save. 0, or that error.
int SyncFolder(const std::string& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    FileDescriptor closer(fd);
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) return errno;
    return 0;
}

}  // namespace

void ThrowFileError(std::string_view prefix, int error, const std::string& what) {
    // The words std::system_error has always given these failures.
    throw BitmapError(std::string(prefix) + what + ": " + std::generic_category().message(error));
}

ByteBlock::ByteBlock(const std::uint8_t* data, std::size_t size) {
    if (!Resize(size)) throw std::bad_alloc();
    if (size) std::memcpy(data_, data, size);
}

ByteBlock::ByteBlock(ByteBlock&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
}

ByteBlock& ByteBlock::operator=(ByteBlock&& other) noexcept {
    if (this != &other) {
        std::free(data_);
        data_ = other.data_;
        size_ = other.size_;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

ByteBlock::~ByteBlock() { std::free(data_); }

bool ByteBlock::Resize(std::size_t size) noexcept {
    if (size == 0) {
        std::free(data_);
        data_ = nullptr;
        size_ = 0;
        return true;
    }
    void* moved = std::realloc(data_, size);
    if (!moved) {
        if (size > size_) return false;
        moved = data_;  // a block that could not shrink in place still holds the bytes
    }
    data_ = static_cast<std::uint8_t*>(moved);
    size_ = size;
    return true;
}

int OpenRegularFile(const std::string& path, std::uint64_t* size, std::string_view prefix) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) ThrowFileError(prefix, errno, "cannot open " + path);
    FileDescriptor file(fd);
    struct stat info;
    if (::fstat(fd, &info) != 0) ThrowFileError(prefix, errno, "cannot inspect " + path);
    if (S_ISDIR(info.st_mode)) ThrowFileError(prefix, EISDIR, path);
    if (!S_ISREG(info.st_mode)) ThrowFileError(prefix, EINVAL, path + " is not a regular file");
    *size = std::uint64_t(info.st_size);
    return file.Release();
}

ByteBlock ReadFileBytes(const std::string& path, std::uint64_t limit, std::string_view prefix) {
    std::uint64_t size = 0;
    FileDescriptor file(OpenRegularFile(path, &size, prefix));
    const int fd = file.get();
    std::uint64_t wanted = size < limit ? size : limit;
    ByteBlock bytes;
    if (!bytes.Resize(static_cast<std::size_t>(wanted)))
        throw BitmapError(std::string(prefix) + "out of memory for the file");
    std::size_t have = 0;
    while (have < bytes.size()) {
        ssize_t got = ::read(fd, bytes.data() + have, bytes.size() - have);
        if (got < 0) {
            if (errno == EINTR) continue;
            ThrowFileError(prefix, errno, "cannot read " + path);
        }
        if (got == 0) break;  // the file shrank while we read it
        have += std::size_t(got);
    }
    bytes.Resize(have);  // shrinking always succeeds
    return bytes;
}

SafeFileWriter::SafeFileWriter(const std::string& path, std::string_view prefix,
                               Temporary temporary)
    : prefix_(prefix), target_(FinalTarget(path, prefix)) {
    struct stat old;
    targetExists_ = ::stat(target_.c_str(), &old) == 0;
    if (!targetExists_ && errno != ENOENT) Throw(errno, "cannot inspect " + target_);
    if (targetExists_) {
        if (S_ISDIR(old.st_mode)) Throw(EISDIR, target_);
        if (!S_ISREG(old.st_mode)) Throw(EINVAL, target_ + " is not a regular file");
        // Renaming over a write-protected file would get round the protection.
        if (::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0)
            Throw(errno, "cannot write " + target_);
    }
    RemoveStaleTemporaries(target_);

    // Created with 0666 so that a new file gets the permissions the umask
    // gives, as a file opened for writing would.
    if (temporary == Temporary::Unnamed) {
        const std::string folder = FolderOf(target_);
        fd_ = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            Throw(errno, "cannot create a file beside " + target_);
        // A file without a name can only be given one through /proc.
        if (fd_ >= 0 && ::access(ProcPath(fd_).c_str(), F_OK) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    if (fd_ < 0) CreateNamed();
    // The lock tells other writers of this target that the file is in use.
    // A file without a name has it before anyone can see the file.
    if (::flock(fd_, LOCK_EX) != 0) {
        int error = errno;
        Discard();
        Throw(error, "cannot lock a file beside " + target_);
    }

    if (targetExists_) {
        // Only a privileged process may give the file away; others keep
        // their own ownership, as an overwrite in place would not, so try.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)!::fchown(fd_, old.st_uid, old.st_gid);
        if (::fchmod(fd_, old.st_mode & 07777) != 0) {
            int error = errno;
            Discard();
            Throw(error, "cannot keep the permissions of " + target_);
        }
    }
}

void SafeFileWriter::CreateNamed() {
    for (int slot = 1; slot <= kTemporarySlots; ++slot) {
        std::string name = TemporaryName(target_, slot);
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temporaryName_ = std::move(name);
            return;
        }
        if (errno != EEXIST) Throw(errno, "cannot create a file beside " + target_);
    }
    Throw(EEXIST, "no free temporary name beside " + target_);
}

SafeFileWriter::~SafeFileWriter() {
    if (!committed_) Discard();
}

void SafeFileWriter::Discard() noexcept {
    if (!temporaryName_.empty()) ::unlink(temporaryName_.c_str());
    temporaryName_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void SafeFileWriter::Written(std::size_t bytes) noexcept {
    // The disk starts on what is written while the rest is still being
    // made, so that the flush at the end has little left to wait for.
    unflushed_ += bytes;
    if (unflushed_ < kFlushStep) return;
    unflushed_ = 0;
    (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

int SafeFileWriter::TryAppend(const std::uint8_t* data, std::size_t size) noexcept {
    Written(size);
    while (size > 0) {
        std::size_t chunk = size < (std::size_t(1) << 30) ? size : (std::size_t(1) << 30);
        ssize_t written = ::write(fd_, data, chunk);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += written;
        size -= std::size_t(written);
    }
    return 0;
}

void SafeFileWriter::Append(const std::uint8_t* data, std::size_t size) {
    if (int error = TryAppend(data, size)) ThrowWriteError(error);
}

void SafeFileWriter::ThrowWriteError(int error) const { Throw(error, "write failed"); }

void SafeFileWriter::Throw(int error, const std::string& what) const {
    ThrowFileError(prefix_, error, what);
}

void SafeFileWriter::WriteAt(std::uint64_t offset, const iovec* pieces, int count) {
    std::vector<iovec> left(pieces, pieces + count);
    std::size_t total = 0;
    for (const iovec& piece : left) total += piece.iov_len;
    Written(total);
    std::size_t first = 0;
    while (first < left.size()) {
        int batch = int(std::min<std::size_t>(left.size() - first, IOV_MAX));
        ssize_t written = ::pwritev(fd_, left.data() + first, batch, off_t(offset));
        if (written < 0) {
            if (errno == EINTR) continue;
            ThrowWriteError(errno);
        }
        offset += std::uint64_t(written);
        // Skip what was written, and resume inside a piece written in part.
        for (std::size_t done = std::size_t(written); done > 0 && first < left.size();) {
            if (done >= left[first].iov_len) {
                done -= left[first].iov_len;
                ++first;
            } else {
                left[first].iov_base = static_cast<char*>(left[first].iov_base) + done;
                left[first].iov_len -= done;
                done = 0;
            }
        }
        while (first < left.size() && left[first].iov_len == 0) ++first;
    }
}

void SafeFileWriter::Commit() {
    if (committed_ || fd_ < 0) Throw(EBADF, "nothing to save as " + target_);
    if (::fsync(fd_) != 0) Throw(errno, "cannot flush the file for " + target_);

    std::string placed;  // the name the file has when it is closed
    if (temporaryName_.empty()) {
        // A new target can be given the file directly; in one step nothing
        // can be left half-done.
        if (!targetExists_ && LinkOpenFile(fd_, target_)) {
            placed = target_;
        } else {
            if (!targetExists_ && errno != EEXIST) Throw(errno, "cannot create " + target_);
            for (int slot = 1; slot <= kTemporarySlots && placed.empty(); ++slot) {
                std::string name = TemporaryName(target_, slot);
                if (LinkOpenFile(fd_, name))
                    placed = name;
                else if (errno != EEXIST)
                    Throw(errno, "cannot create a file beside " + target_);
            }
            if (placed.empty()) Throw(EEXIST, "no free temporary name beside " + target_);
            temporaryName_ = placed;
        }
    } else {
        placed = temporaryName_;
    }

    int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) {
        int error = errno;
        ::unlink(placed.c_str());
        temporaryName_.clear();
        Throw(error, "cannot close the file for " + target_);
    }
    if (placed != target_ && ::rename(placed.c_str(), target_.c_str()) != 0) {
        int error = errno;
        ::unlink(placed.c_str());
        temporaryName_.clear();
        Throw(error, "cannot replace " + target_);
    }
    temporaryName_.clear();
    committed_ = true;
    const std::string folder = FolderOf(target_);
    if (int error = SyncFolder(folder)) Throw(error, "cannot sync the folder " + folder);
}

void SaveFileSafely(const std::string& path, const std::uint8_t* data, std::size_t size,
                    std::string_view prefix) {
    SafeFileWriter writer(path, prefix);
    writer.Append(data, size);
    writer.Commit();
}

}  // namespace sigillon
