#include "pictures/files/safe_save.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>

#include "pictures/picture_files.h"
#include "tests/support/files_test_support.h"

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

using Temporary = SafeFileWriter::Temporary;
constexpr Temporary kBothKinds[] = {Temporary::Unnamed, Temporary::Named};

// SaveFileSafely, or the same through a writer whose temporary file has a
// name, so that the promises are checked for both kinds.
void Save(const std::string& path, const Bytes& bytes, Temporary kind = Temporary::Unnamed) {
    if (kind == Temporary::Unnamed) {
        SaveFileSafely(path, bytes.data(), bytes.size(), "");
        return;
    }
    SafeFileWriter writer(path, "", kind);
    EXPECT_FALSE(writer.IsUnnamed());
    writer.Append(bytes.data(), bytes.size());
    writer.Commit();
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
    for (Temporary kind : kBothKinds) {
        for (mode_t mode : {0640, 0600, 0755, 0664}) {
            testing::WriteAll(path, {1, 2, 3});
            ASSERT_EQ(::chmod(path.c_str(), mode), 0);
            Save(path, {4, 5}, kind);
            EXPECT_EQ(ModeOf(path), mode);
            EXPECT_EQ(testing::ReadAll(path), (Bytes{4, 5}));
        }
    }
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"a.bin"});
}

TEST(SafeSave, NewFileGetsThePermissionsTheUmaskGives) {
    TempFolder folder;
    mode_t previous = ::umask(027);
    Save(folder / "new.bin", {1});
    Save(folder / "named.bin", {1}, Temporary::Named);
    ::umask(previous);
    EXPECT_EQ(ModeOf(folder / "new.bin"), 0640);
    EXPECT_EQ(ModeOf(folder / "named.bin"), 0640);
}

TEST(SafeSave, SymbolicLinkKeepsPointingWhereItDid) {
    TempFolder folder;
    ASSERT_EQ(::mkdir((folder / "real").c_str(), 0700), 0);
    testing::WriteAll(folder / "real/target.bin", {1, 2, 3});
    ASSERT_EQ(::symlink("real/target.bin", (folder / "link.bin").c_str()), 0);
    ASSERT_EQ(::symlink("link.bin", (folder / "link2.bin").c_str()), 0);

    Save(folder / "link2.bin", {9, 7}, Temporary::Named);
    EXPECT_EQ(testing::ReadAll(folder / "real/target.bin"), (Bytes{9, 7}));
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
        for (Temporary kind : kBothKinds) {
            try {
                Save(path, {4}, kind);
                return 13;
            } catch (const BitmapError& error) {
                if (error.what() != "cannot write " + path + ": " + std::strerror(EACCES)) return 12;
            }
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(testing::ReadAll(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"locked.bin"});
}

TEST(SafeSave, FolderAndMissingFolderAreRefused) {
    TempFolder folder;
    ASSERT_EQ(::mkdir((folder / "sub").c_str(), 0700), 0);
    for (Temporary kind : kBothKinds) {
        EXPECT_THROW(Save(folder / "sub", {1}, kind), BitmapError);
        EXPECT_THROW(Save(folder / "missing/a.bin", {1}, kind), BitmapError);
    }
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"sub"});
}

TEST(SafeFileWriter, PiecesWrittenAtOffsetsAndAppendedMakeTheFile) {
    TempFolder folder;
    for (Temporary kind : kBothKinds) {
        SafeFileWriter writer(folder / "a.bin", "", kind);
        EXPECT_EQ(writer.IsUnnamed(), kind == Temporary::Unnamed) << "this folder has files without a name";
        const Bytes head{1, 2, 3};
        writer.Append(head.data(), head.size());
        // The last rows first, as a bottom-up BMP file is written.
        std::uint8_t c[] = {7, 8}, b[] = {5, 6}, a[] = {4};
        iovec late[] = {{c, 2}};
        iovec early[] = {{a, 1}, {b, 2}};
        writer.WriteAt(6, late, 1);
        writer.WriteAt(3, early, 2);
        // The second round replaces the file of the first.
        const std::vector<std::string> during =
            kind == Temporary::Unnamed ? std::vector<std::string>{}
                                       : std::vector<std::string>{".a.bin.sigillon-1", "a.bin"};
        EXPECT_EQ(folder.Names(), during);
        writer.Commit();
        EXPECT_EQ(testing::ReadAll(folder / "a.bin"), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"a.bin"});
    }
}

// A writer killed half-way: the child writes part of the file, says so
// through a pipe, and is killed as it waits.
void KillWriterHalfWay(const std::string& path, Temporary kind) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        SafeFileWriter writer(path, "", kind);
        const Bytes part = testing::RandomBytes(4096, 9);
        writer.Append(part.data(), part.size());
        char done = 1;
        if (::write(ready[1], &done, 1) != 1) ::_exit(1);
        ::pause();
        ::_exit(2);
    }
    ::close(ready[1]);
    char done = 0;
    EXPECT_EQ(::read(ready[0], &done, 1), 1);
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
}

TEST(SafeFileWriter, AKilledWriterLeavesTheTargetAndAnyFileItLeftGoesWithTheNextSave) {
    TempFolder folder;
    const std::string path = folder / "photo.jpg";
    const Bytes original = testing::RandomBytes(300, 8);
    testing::WriteAll(path, original);

    // Without a name nothing is left at all.
    KillWriterHalfWay(path, Temporary::Unnamed);
    EXPECT_EQ(testing::ReadAll(path), original);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"photo.jpg"});
    KillWriterHalfWay(folder / "new.jpg", Temporary::Unnamed);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"photo.jpg"});

    // A named one stays until the target is saved again, whichever kind
    // of writer that is.
    KillWriterHalfWay(path, Temporary::Named);
    EXPECT_EQ(testing::ReadAll(path), original);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{".photo.jpg.sigillon-1", "photo.jpg"}));
    KillWriterHalfWay(path, Temporary::Named);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{".photo.jpg.sigillon-1", "photo.jpg"}));
    Save(path, {1, 2});
    EXPECT_EQ(testing::ReadAll(path), (Bytes{1, 2}));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"photo.jpg"});
}

TEST(SafeFileWriter, AWriterAtWorkKeepsItsFileWhileAnotherSavesTheSameTarget) {
    TempFolder folder;
    const std::string path = folder / "a.bin";
    SafeFileWriter first(path, "", Temporary::Named);
    const Bytes one{1};
    first.Append(one.data(), 1);
    Save(path, {2}, Temporary::Named);
    Save(path, {3});
    EXPECT_EQ(testing::ReadAll(path), Bytes{3});
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{".a.bin.sigillon-1", "a.bin"}));
    first.Commit();
    EXPECT_EQ(testing::ReadAll(path), Bytes{1});
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"a.bin"});
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
        ByteBlock block = ReadFileBytes(path, limit, "");
        return Bytes(block.data(), block.data() + block.size());
    };
    EXPECT_EQ(read(folder / "a.bin", 5000), bytes);
    EXPECT_EQ(read(folder / "a.bin", 10), Bytes(bytes.begin(), bytes.begin() + 10));
    EXPECT_THROW(ReadFileBytes(folder.path(), 5000, ""), BitmapError);
    EXPECT_THROW(ReadFileBytes("/dev/null", 5000, ""), BitmapError);
    EXPECT_THROW(ReadFileBytes(folder / "missing", 5000, ""), BitmapError);
}

}  // namespace
}  // namespace sigillon
