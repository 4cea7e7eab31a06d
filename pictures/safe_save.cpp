#include "pictures/safe_save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <system_error>
#include <vector>

namespace sigillon {
namespace {

[[noreturn]] void ThrowErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

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
    int Close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
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

std::string ReadLink(const std::string& path) {
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0) ThrowErrno(errno, "cannot read the link " + path);
        if (std::size_t(length) < buffer.size())
            return std::string(buffer.data(), std::size_t(length));
        buffer.resize(buffer.size() * 2);
    }
}

// Follows symbolic links to the file they finally name, so that replacing
// that file leaves every link in place. A name that does not exist yet (a
// new file, or the missing target of a dangling link) is returned as is.
std::string FinalTarget(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno == ENOENT) return path;
            ThrowErrno(errno, "cannot inspect " + path);
        }
        if (!S_ISLNK(info.st_mode)) return path;
        std::string target = ReadLink(path);
        if (target.empty()) ThrowErrno(ENOENT, "empty link " + path);
        path = target.front() == '/' ? target : FolderOf(path) + target;
    }
    ThrowErrno(ELOOP, "too many links from " + path);
}

// A name for the temporary file in the target's own folder (so that the
// final rename stays on one file system), hidden, and short enough for any
// file system however long the target's name is.
std::string TemporaryName(const std::string& target) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%012llx.tmp",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    return FolderOf(target) + "." + NameOf(target).substr(0, 200) + suffix;
}

void WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        std::size_t chunk = size < (std::size_t(1) << 30) ? size : (std::size_t(1) << 30);
        ssize_t written = ::write(fd, data, chunk);
        if (written < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno, "write failed");
        }
        data += written;
        size -= std::size_t(written);
    }
}

// Makes the rename itself durable. A folder that cannot be opened for
// reading, or a file system that cannot sync folders, still got the renamed
// file; only an error the disk reports fails the save.
void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    FileDescriptor closer(fd);
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        ThrowErrno(errno, "cannot sync the folder " + folder);
}

}  // namespace

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

ByteBlock ReadFileBytes(const std::string& path, std::uint64_t limit) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) ThrowErrno(errno, "cannot open " + path);
    FileDescriptor file(fd);
    struct stat info;
    if (::fstat(fd, &info) != 0) ThrowErrno(errno, "cannot inspect " + path);
    if (S_ISDIR(info.st_mode)) ThrowErrno(EISDIR, path);
    if (!S_ISREG(info.st_mode)) ThrowErrno(EINVAL, path + " is not a regular file");

    std::uint64_t wanted =
        std::uint64_t(info.st_size) < limit ? std::uint64_t(info.st_size) : limit;
    ByteBlock bytes;
    if (!bytes.Resize(static_cast<std::size_t>(wanted))) throw std::bad_alloc();
    std::size_t have = 0;
    while (have < bytes.size()) {
        ssize_t got = ::read(fd, bytes.data() + have, bytes.size() - have);
        if (got < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno, "cannot read " + path);
        }
        if (got == 0) break;  // the file shrank while we read it
        have += std::size_t(got);
    }
    bytes.Resize(have);  // shrinking always succeeds
    return bytes;
}

void SaveFileSafely(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const std::string target = FinalTarget(path);

    struct stat old;
    bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) ThrowErrno(errno, "cannot inspect " + target);
    if (exists) {
        if (S_ISDIR(old.st_mode)) ThrowErrno(EISDIR, target);
        if (!S_ISREG(old.st_mode)) ThrowErrno(EINVAL, target + " is not a regular file");
        // Renaming over a write-protected file would get round the protection.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            ThrowErrno(errno, "cannot write " + target);
    }

    // Created with 0666 so that a new file gets the permissions the umask
    // gives, as a file opened for writing would.
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = TemporaryName(target);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) ThrowErrno(errno, "cannot create a file beside " + target);
    }
    if (fd < 0) ThrowErrno(EEXIST, "no free temporary name beside " + target);

    // Removes the temporary file on every way out that did not rename it.
    struct Remover {
        const std::string& name;
        bool keep = false;
        ~Remover() {
            if (!keep) ::unlink(name.c_str());
        }
    } remover{temporary};
    FileDescriptor file(fd);

    if (exists) {
        // Only a privileged process may give the file away; others keep
        // their own ownership, as an overwrite in place would not, so try.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)!::fchown(fd, old.st_uid, old.st_gid);
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            ThrowErrno(errno, "cannot keep the permissions of " + target);
    }
    WriteAll(fd, data, size);
    if (::fsync(fd) != 0) ThrowErrno(errno, "cannot flush " + temporary);
    if (file.Close() != 0) ThrowErrno(errno, "cannot close " + temporary);
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        ThrowErrno(errno, "cannot replace " + target);
    remover.keep = true;
    SyncFolder(FolderOf(target));
}

}  // namespace sigillon
