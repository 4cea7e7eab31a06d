#include "pictures/safe_save.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <system_error>

#include "pictures/picture_files.h"
#include "tests/files/files_test_support.h"

// Under AddressSanitizer an allocation that cannot be made aborts the
// program; these tests need it to fail as it does in a normal build.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace sigillon {
namespace {

using testing::Bytes;
using testing::TempFolder;

// Runs body in a child process and returns its exit status (or -signal).
int InChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

mode_t ModeOf(const std::string& path) {
    struct stat info;
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

void Save(const std::string& path, const Bytes& bytes) {
    SaveFileSafely(path, bytes.data(), bytes.size());
}

TEST(SafeSave, WriteThatFailsLeavesTheOldFileWholeAndNoTemporaryFile) {
    TempFolder folder;
    // Noise compresses badly, so both files are far larger than the limit.
    auto picture = testing::RandomPicture(Depth24, 200, 200, 100);
    for (const char* name : {"photo.bmp", "photo.jpg"}) {
        SCOPED_TRACE(name);
        const std::string path = folder / name;
        const Bytes original = testing::RandomBytes(3000, 101);
        testing::WriteAll(path, original);
        const std::vector<std::string> names = folder.Names();

        // The child may not write files over 16 KiB: the write fails
        // half-way with EFBIG (SIGXFSZ ignored), as on a full disk.
        int status = InChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{16384, 16384};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
            FileResult result = SavePictureFileQuiet(*picture, path);
            return result == FileOutcome::Failed &&
                           result.reason.find("File too large") != std::string::npos
                       ? 0
                       : 11;
        });
        EXPECT_EQ(status, 0) << "the child saw the save fail for its cause";
        EXPECT_EQ(testing::ReadAll(path), original);
        EXPECT_EQ(folder.Names(), names) << "no temporary file is left";
    }
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"photo.bmp", "photo.jpg"}));
}

TEST(SafeSave, SuccessfulSaveReplacesTheContentsAndLeavesNothingElse) {
    TempFolder folder;
    const std::string path = folder / "a.bin";
    testing::WriteAll(path, testing::RandomBytes(5000, 102));
    const Bytes next = testing::RandomBytes(100, 103);
    Save(path, next);
    EXPECT_EQ(testing::ReadAll(path), next);
    Save(path, {});
    EXPECT_TRUE(testing::ReadAll(path).empty());
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"a.bin"});
}

TEST(SafeSave, ExistingFileKeepsItsPermissions) {
    TempFolder folder;
    const std::string path = folder / "a.bin";
    for (mode_t mode : {0640, 0600, 0755, 0664}) {
        testing::WriteAll(path, {1, 2, 3});
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        Save(path, {4, 5});
        EXPECT_EQ(ModeOf(path), mode);
        EXPECT_EQ(testing::ReadAll(path), (Bytes{4, 5}));
    }
}

TEST(SafeSave, NewFileGetsThePermissionsTheUmaskGives) {
    TempFolder folder;
    mode_t previous = ::umask(027);
    Save(folder / "new.bin", {1});
    ::umask(previous);
    EXPECT_EQ(ModeOf(folder / "new.bin"), 0640);
}

TEST(SafeSave, SymbolicLinkKeepsPointingWhereItDid) {
    TempFolder folder;
    ASSERT_EQ(::mkdir((folder / "real").c_str(), 0700), 0);
    testing::WriteAll(folder / "real/target.bin", {1, 2, 3});
    ASSERT_EQ(::symlink("real/target.bin", (folder / "link.bin").c_str()), 0);
    ASSERT_EQ(::symlink("link.bin", (folder / "link2.bin").c_str()), 0);

    Save(folder / "link2.bin", {9, 8});
    for (const char* link : {"link.bin", "link2.bin"}) {
        struct stat info;
        ASSERT_EQ(::lstat((folder / link).c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << link;
    }
    char target[256] = {};
    ASSERT_GT(::readlink((folder / "link.bin").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "real/target.bin");
    EXPECT_EQ(testing::ReadAll(folder / "real/target.bin"), (Bytes{9, 8}));
    std::vector<std::string> inReal;
    for (const auto& e : std::filesystem::directory_iterator(folder / "real"))
        inReal.push_back(e.path().filename().string());
    EXPECT_EQ(inReal, std::vector<std::string>{"target.bin"});
}

TEST(SafeSave, DanglingLinkGetsItsTargetCreated) {
    TempFolder folder;
    ASSERT_EQ(::symlink("made.bin", (folder / "link.bin").c_str()), 0);
    Save(folder / "link.bin", {7});
    struct stat info;
    ASSERT_EQ(::lstat((folder / "link.bin").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(testing::ReadAll(folder / "made.bin"), Bytes{7});
}

TEST(SafeSave, WriteProtectedFileIsNotReplaced) {
    TempFolder folder;
    const std::string path = folder / "locked.bin";
    testing::WriteAll(path, {1, 2, 3});
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    // Whoever may write to the folder could rename over the file; the save
    // must refuse as opening the file for writing would. Root may write
    // anything, so the check runs as an ordinary user.
    int status = InChild([&] {
        if (::geteuid() == 0) {
            if (::chmod(folder.path().c_str(), 0777) != 0) return 10;
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 11;
        }
        try {
            Save(path, {4});
        } catch (const std::system_error& error) {
            return error.code().value() == EACCES ? 0 : 12;
        }
        return 13;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(testing::ReadAll(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"locked.bin"});
}

TEST(SafeSave, FolderAndMissingFolderAreRefused) {
    TempFolder folder;
    ASSERT_EQ(::mkdir((folder / "sub").c_str(), 0700), 0);
    EXPECT_THROW(Save(folder / "sub", {1}), std::system_error);
    EXPECT_THROW(Save(folder / "missing/a.bin", {1}), std::system_error);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"sub"});
}

TEST(ByteBlock, GrowsAndShrinksKeepingItsBytes) {
    const Bytes bytes = testing::RandomBytes(100, 105);
    ByteBlock block(bytes.data(), bytes.size());
    ASSERT_TRUE(block.Resize(1 << 20));
    EXPECT_EQ(Bytes(block.data(), block.data() + 100), bytes);
    ASSERT_TRUE(block.Resize(10));
    EXPECT_EQ(Bytes(block.data(), block.data() + 10), Bytes(bytes.begin(), bytes.begin() + 10));
    ByteBlock moved = std::move(block);
    EXPECT_EQ(moved.size(), 10u);
    EXPECT_TRUE(block.empty());
    EXPECT_FALSE(moved.Resize(std::size_t(-1) / 2)) << "an impossible size is refused";
    EXPECT_EQ(moved.size(), 10u);
}

TEST(ReadFile, ReadsUpToTheLimitAndOnlyRegularFiles) {
    TempFolder folder;
    const Bytes bytes = testing::RandomBytes(1000, 104);
    testing::WriteAll(folder / "a.bin", bytes);
    auto read = [](const std::string& path, std::uint64_t limit) {
        ByteBlock block = ReadFileBytes(path, limit);
        return Bytes(block.data(), block.data() + block.size());
    };
    EXPECT_EQ(read(folder / "a.bin", 5000), bytes);
    EXPECT_EQ(read(folder / "a.bin", 10), Bytes(bytes.begin(), bytes.begin() + 10));
    EXPECT_THROW(ReadFileBytes(folder.path(), 5000), std::system_error);
    EXPECT_THROW(ReadFileBytes("/dev/null", 5000), std::system_error);
    EXPECT_THROW(ReadFileBytes(folder / "missing", 5000), std::system_error);
}

}  // namespace
}  // namespace sigillon
