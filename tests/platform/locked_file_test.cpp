#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_folder.h"

namespace quelvar::platform {
namespace {

// Record locks of one process never stand in its own way, so another
// process holds them, or looks for them.
class OtherProcess {
public:
    // Holds a lock of that type on the file until the object ends.
    OtherProcess(const std::string& path, short type) {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        EXPECT_EQ(pipe(release_), 0);
        child_ = fork();
        if (child_ == 0) {
            const int descriptor = open(path.c_str(), type == F_RDLCK ? O_RDONLY : O_RDWR);
            struct flock lock {};
            lock.l_type = type;
            lock.l_whence = SEEK_SET;
            const char done = fcntl(descriptor, F_SETLK, &lock) == 0 ? 'y' : 'n';
            static_cast<void>(write(ready[1], &done, 1));
            char ignored;
            static_cast<void>(read(release_[0], &ignored, 1));
            _exit(0);
        }
        char done = 'n';
        EXPECT_EQ(read(ready[0], &done, 1), 1);
        EXPECT_EQ(done, 'y');
        close(ready[0]);
        close(ready[1]);
    }
    ~OtherProcess() {
        static_cast<void>(write(release_[1], "x", 1));
        waitpid(child_, nullptr, 0);
        close(release_[0]);
        close(release_[1]);
    }

    // Whether another process could lock the file for writing now.
    static bool couldLock(const std::string& path) {
        const pid_t child = fork();
        if (child == 0) {
            const int descriptor = open(path.c_str(), O_RDWR);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            _exit(fcntl(descriptor, F_SETLK, &lock) == 0 ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    pid_t child_ = -1;
    int release_[2] = {-1, -1};
};

TEST(FileInUse, SeesAnOfficeLockFileAndAnotherProcesssRecordLock) {
    TempFolder folder;
    const std::string path = folder / "201711.xls";
    EXPECT_FALSE(fileInUse(path));
    writeBytes(path, "workbook");
    EXPECT_FALSE(fileInUse(path));
    writeBytes(folder / ".~lock.201711.xls#",
               ",someone,host,01.11.2017 10:20,file:///home/someone/.config/libreoffice/4;");
    EXPECT_TRUE(fileInUse(path));
    std::filesystem::remove(folder / ".~lock.201711.xls#");
    {
        // Even a reader's lock stands in the way of writing.
        const OtherProcess reader(path, F_RDLCK);
        EXPECT_TRUE(fileInUse(path));
    }
    EXPECT_FALSE(fileInUse(path));
}

TEST(LockedFile, KeepsOthersOutFromOpenToCloseAcrossTheReplacement) {
    TempFolder folder;
    const std::string path = folder / "book.xls";
    LockedFile file;
    ASSERT_TRUE(file.open(path).is(Status::Code::notFound));
    ASSERT_TRUE(file.replace({"first"}).ok());
    EXPECT_FALSE(OtherProcess::couldLock(path));
    file.close();
    EXPECT_TRUE(OtherProcess::couldLock(path));

    chmod(path.c_str(), 0640);
    ASSERT_TRUE(file.open(path).ok());
    EXPECT_FALSE(OtherProcess::couldLock(path));
    std::string contents;
    ASSERT_TRUE(file.read(contents).ok());
    EXPECT_EQ(contents, "first");
    ASSERT_TRUE(file.replace({"second"}).ok());
    EXPECT_FALSE(OtherProcess::couldLock(path));
    file.close();
    EXPECT_EQ(readBytes(path), "second");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), std::filesystem::directory_iterator()),
              1);

    const OtherProcess holder(path, F_WRLCK);
    EXPECT_TRUE(file.open(path).is(Status::Code::busy));
    EXPECT_TRUE(file.open(folder.path().string()).is(Status::Code::failed));
}

}  // namespace
}  // namespace quelvar::platform
