// The platform seam's contract, written against the seam alone so that the
// same tests hold each system's implementation to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_faults.h"
#include "platform/files.h"
#include "platform/udp.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quelvar::platform {
namespace {

namespace fs = std::filesystem;

using Code = Status::Code;

// A fresh folder for one test; paths into it are joined with the
// platform's own separator, as the collector joins them.
class SeamFolder {
public:
    SeamFolder() {
        std::random_device random;
        path_ = fs::temp_directory_path() / ("quelvar-seam-" + std::to_string(random()));
        fs::create_directory(path_);
    }
    ~SeamFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    SeamFolder(const SeamFolder&) = delete;
    SeamFolder& operator=(const SeamFolder&) = delete;

    std::string operator/(const std::string& names) const {
        std::string joined = path_.string() + pathSeparator + names;
        std::replace(joined.begin() + static_cast<long>(path_.string().size()), joined.end(), '|', pathSeparator);
        return joined;
    }

private:
    fs::path path_;
};

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ExecutablePath, EndsInAFileOfAnExistingFolder) {
    const std::string path = executablePath();
    const std::size_t cut = path.rfind(pathSeparator);
    ASSERT_NE(cut, std::string::npos) << path;
    EXPECT_TRUE(isFolder(path.substr(0, cut))) << path;
    EXPECT_TRUE(pathExists(path));
    EXPECT_FALSE(isFolder(path));
}

TEST(Folders, MakeWhatIsMissingAndTellAFileOnTheWay) {
    const SeamFolder root;
    EXPECT_TRUE(makeFolder(root / "A").ok());
    EXPECT_TRUE(makeFolder(root / "A").ok());
    EXPECT_TRUE(makeFolder(root / "missing|child").is(Code::notFound));
    EXPECT_FALSE(pathExists(root / "missing"));

    EXPECT_TRUE(makeFolderChain(root / "A|B|C").ok());
    EXPECT_TRUE(isFolder(root / "A|B|C"));
    EXPECT_TRUE(makeFolderChain(root / "A|B|C").ok());
    EXPECT_TRUE(makeFolderChain(root / "A|B|C|").ok());

    writeBytes(root / "A|F", "file");
    EXPECT_FALSE(makeFolder(root / "A|F").ok());
    EXPECT_TRUE(makeFolderChain(root / "A|F|G").is(Code::exists));
    const Status onTheWay = makeFolderChain(root / "A|F");
    EXPECT_TRUE(onTheWay.is(Code::exists));
    EXPECT_EQ(onTheWay.subject(), root / "A|F") << "the name on the way";
    EXPECT_FALSE(onTheWay.reason().empty());
    EXPECT_TRUE(makeFolderChain("").is(Code::notFound));
    EXPECT_TRUE(pathExists(root / "A|F"));
    EXPECT_FALSE(isFolder(root / "A|F"));

    std::vector<std::string> names;
    ASSERT_TRUE(listFolder(root / "A", names).ok());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"B", "F"}));
    EXPECT_TRUE(listFolder(root / "missing", names).is(Code::notFound));
}

TEST(Files, KeepEveryByteAndPutTheHeaderOnlyIntoAnEmptyFile) {
    const SeamFolder root;
    // No text mode anywhere: line ends and zero bytes go through as they are.
    const std::string line = std::string("a\r\nb\nc\0d\r\n", 10);
    const std::string file = root / "new|CDR_2024_03_07.txt";
    const Status missing = appendWithHeader(file, "#head\r\n", line);
    EXPECT_TRUE(missing.is(Code::notFound)) << "a folder of the path is missing";
    EXPECT_EQ(missing.subject(), file);
    EXPECT_FALSE(pathExists(file));

    ASSERT_TRUE(makeFolder(root / "new").ok());
    EXPECT_TRUE(appendWithHeader(file, "#head\r\n", line).ok());
    EXPECT_TRUE(appendWithHeader(file, "#head\r\n", "second\r\n").ok());
    EXPECT_EQ(readBytes(file), "#head\r\n" + line + "second\r\n");
    writeBytes(file, "");
    EXPECT_TRUE(appendWithHeader(file, "#head\r\n", "third\r\n").ok());
    EXPECT_EQ(readBytes(file), "#head\r\nthird\r\n");

    const std::string log = root / "20240307.log";
    EXPECT_TRUE(appendToFile(log, line).ok());
    EXPECT_TRUE(appendToFile(log, "more").ok());
    std::string contents;
    ASSERT_TRUE(readFile(log, contents).ok());
    EXPECT_EQ(contents, line + "more");
    EXPECT_TRUE(appendToFile(root / "missing|x.log", "x").is(Code::notFound));

    const Status unread = readFile(root / "missing.ini", contents);
    EXPECT_TRUE(unread.is(Code::notFound));
    EXPECT_TRUE(contents.empty());
    EXPECT_FALSE(unread.reason().empty());
    EXPECT_EQ(unread.text(), "open " + (root / "missing.ini") + ": " + unread.reason());

    EXPECT_TRUE(createNewFile(root / "tele.ini", "110\r\n").ok());
    EXPECT_TRUE(createNewFile(root / "tele.ini", "other").is(Code::exists));
    EXPECT_EQ(readBytes(root / "tele.ini"), "110\r\n");
    EXPECT_TRUE(createNewFile(root / "empty.txt", {}).ok());
    EXPECT_EQ(fs::file_size(root / "empty.txt"), 0u);
}

// A symbolic link for a test; false where the system does not let it be
// made (Windows without the right to, Wine).
bool makeLink(const std::string& target, const std::string& link, bool folder = false) {
    std::error_code error;
    if (folder) fs::create_directory_symlink(target, link, error);
    else fs::create_symlink(target, link, error);
    return !error;
}

TEST(RegularFiles, AreReadUpToTheLimitAndNothingElseIsRead) {
    const SeamFolder root;
    writeBytes(root / "tele.ini", "95588\r\n110\r\n");
    const struct {
        std::size_t limit;
        const char* contents;
        bool whole;
    } cases[] = {{0, "", false}, {5, "95588", false}, {11, "95588\r\n110\r", false}, {12, "95588\r\n110\r\n", true},
                 {1 << 20, "95588\r\n110\r\n", true}};
    for (const auto& each : cases) {
        std::string contents = "old";
        bool whole = !each.whole;
        FileVersion version;
        ASSERT_TRUE(readRegularFile(root / "tele.ini", each.limit, contents, whole, version).ok()) << each.limit;
        EXPECT_EQ(contents, each.contents) << each.limit;
        EXPECT_EQ(whole, each.whole) << each.limit;
        EXPECT_EQ(version.size, 12u) << "the size of the whole file";
    }

    std::string contents = "old";
    bool whole = false;
    FileVersion version;
    EXPECT_TRUE(readRegularFile(root / "missing.ini", 100, contents, whole, version).is(Code::notFound));
    ASSERT_TRUE(makeFolder(root / "folder.ini").ok());
    for (const std::string& refused : {root / "folder.ini", std::string(pathSeparator == '/' ? "/dev/zero" : "NUL")}) {
        const Status read = readRegularFile(refused, 100, contents, whole, version);
        EXPECT_TRUE(read.is(Code::failed)) << refused << ": " << read.text();
        // A folder in the system's own words, as ever.
        if (refused != root / "folder.ini") {
            EXPECT_EQ(read.text(), "open " + refused + ": Not a regular file");
        }
        EXPECT_TRUE(contents.empty());
        EXPECT_EQ(readFile(refused, contents).text(), read.text()) << "readFile refuses it too";
    }
    if (!makeLink(root / "tele.ini", root / "linked.ini")) GTEST_SKIP() << "no symbolic link can be made here";
    ASSERT_TRUE(readRegularFile(root / "linked.ini", 100, contents, whole, version).ok()) << "a link is followed";
    EXPECT_EQ(contents, "95588\r\n110\r\n");
    if (pathSeparator == '/') {
        ASSERT_TRUE(makeLink("/dev/zero", root / "zero.ini"));
        EXPECT_EQ(readRegularFile(root / "zero.ini", 100, contents, whole, version).reason(), "Not a regular file");
    }
}

TEST(FileVersions, TellEveryChangeOfSizeOrFile) {
    const SeamFolder root;
    const std::string path = root / "tele.ini";
    writeBytes(path, "95588\r\n");
    FileVersion first;
    ASSERT_TRUE(fileVersion(path, first).ok());
    FileVersion again;
    ASSERT_TRUE(fileVersion(path, again).ok());
    EXPECT_EQ(first, again);
    std::string contents;
    bool whole = false;
    FileVersion read;
    ASSERT_TRUE(readRegularFile(path, 100, contents, whole, read).ok());
    EXPECT_EQ(read, first) << "the version read is the version looked at";
    EXPECT_EQ(first.size, 7u);
    // Long since settled, and stamped ahead of the clock.
    EXPECT_FALSE(changedLately(FileVersion{}));
    FileVersion ahead;
    ahead.written = std::numeric_limits<std::int64_t>::max();
    EXPECT_TRUE(changedLately(ahead));

    writeBytes(path, "95588\r\n1");
    FileVersion longer;
    ASSERT_TRUE(fileVersion(path, longer).ok());
    EXPECT_NE(longer, first);
    // Another file of the same size and time put in its place.
    writeBytes(root / "other.ini", "95588\r\n2");
    fs::last_write_time(root / "other.ini", fs::last_write_time(path));
    fs::rename(root / "other.ini", path);
    FileVersion replaced;
    ASSERT_TRUE(fileVersion(path, replaced).ok());
    EXPECT_EQ(replaced.size, longer.size);
    EXPECT_NE(replaced.file, longer.file);
    EXPECT_NE(replaced, longer);
    EXPECT_TRUE(fileVersion(root / "missing.ini", replaced).is(Code::notFound));
}

// A record file is written where it lies or not at all.
TEST(Files, NeverFollowALinkToAFileOrItsFolderNorWriteWhatIsNoRegularFile) {
    const SeamFolder root;
    ASSERT_TRUE(makeFolderChain(root / "elsewhere").ok());
    ASSERT_TRUE(makeFolderChain(root / "rec|A|old").ok());
    writeBytes(root / "elsewhere|target.txt", "kept");
    if (!makeLink(root / "elsewhere|target.txt", root / "rec|A|old|CDR_2024_03_15.txt") ||
        !makeLink(root / "elsewhere|missing.txt", root / "rec|A|old|CDR_2024_03_16.txt") ||
        !makeLink(root / "elsewhere", root / "rec|A|new", true))
        GTEST_SKIP() << "no symbolic link can be made here";
    const struct {
        std::string file;
        const char* reason;
    } cases[] = {
        {root / "rec|A|old|CDR_2024_03_15.txt", "A symbolic link, which is not followed"},
        {root / "rec|A|old|CDR_2024_03_16.txt", "A symbolic link, which is not followed"},
        {root / "rec|A|new|CDR_2024_03_15.txt", "Its folder is a symbolic link, which is not followed"},
    };
    for (const auto& each : cases) {
        const Status written = appendWithHeader(each.file, "#head\r\n", "line\r\n");
        EXPECT_TRUE(written.is(Code::failed)) << each.file << ": " << written.text();
        EXPECT_EQ(written.text(), "open " + each.file + ": " + each.reason);
    }
    EXPECT_EQ(appendToFile(root / "rec|A|old|CDR_2024_03_15.txt", "line\r\n").reason(),
              "A symbolic link, which is not followed");
    // The event log's folder may be a link an administrator made.
    EXPECT_TRUE(appendToFile(root / "rec|A|new|20240315.log", "line\r\n").ok());
    EXPECT_EQ(readBytes(root / "elsewhere|target.txt"), "kept");
    EXPECT_FALSE(pathExists(root / "elsewhere|missing.txt"));
    EXPECT_FALSE(pathExists(root / "elsewhere|CDR_2024_03_15.txt"));
    EXPECT_EQ(readBytes(root / "elsewhere|20240315.log"), "line\r\n");
}

// Below a data root every function finds its file folder by folder and
// never passes a link, wherever on the way it stands; the root itself may
// be one.
TEST(DataRoots, NothingBelowThemIsReachedThroughALink) {
    const SeamFolder root;
    ASSERT_TRUE(makeFolderChain(root / "elsewhere").ok());
    ASSERT_TRUE(makeFolderChain(root / "rec|B|old").ok());
    writeBytes(root / "elsewhere|target", "kept");
    if (!makeLink(root / "elsewhere", root / "rec|A", true) ||
        !makeLink(root / "elsewhere|target", root / "rec|202612.xls.queue") ||
        !makeLink(root / "elsewhere|target", root / "rec|B|old|CDR_2024_03_15.txt") ||
        !makeLink(root / "rec", root / "linked", true))
        GTEST_SKIP() << "no symbolic link can be made here";
    const std::string way = "A folder on its way is a symbolic link, which is not followed";
    const std::string link = "A symbolic link, which is not followed";
    const std::string folder = "Its folder is a symbolic link, which is not followed";
    for (const bool walk : {false, true}) {
        SCOPED_TRACE(walk ? "folder by folder" : "in one step where the kernel can");
        walkFolderByFolder(walk);
        for (const std::string& dataRoot : {root / "rec", root / "linked"}) {
            SCOPED_TRACE(dataRoot);
            setDataRoots({dataRoot + pathSeparator});
            const auto below = [&](const std::string& names) {
                std::string path = dataRoot + pathSeparator + names;
                std::replace(path.begin() + static_cast<long>(dataRoot.size()), path.end(), '|', pathSeparator);
                return path;
            };
            EXPECT_EQ(appendWithHeader(below("A|old|CDR_2024_03_15.txt"), "#head\r\n", "line\r\n").reason(), way);
            EXPECT_EQ(makeFolderChain(below("A|old")).reason(), way);
            EXPECT_EQ(createNewFile(below("A|CDR_2024_03_15.txt"), "").reason(), folder);
            EXPECT_FALSE(isFolder(below("A")));
            EXPECT_EQ(appendDurably(below("202612.xls.queue"), "row").reason(), link);
            bool cut = true;
            EXPECT_EQ(truncateFile(below("B|old|CDR_2024_03_15.txt"), 0, cut).reason(), link);
            EXPECT_FALSE(cut);
            EXPECT_EQ(truncateFile(below("B|..|..|elsewhere|target"), 0, cut).reason(),
                      "It leads out of its folder with \"..\", which is not followed");
            LockedFile file;
            EXPECT_EQ(file.open(below("202612.xls.queue")).reason(), link);
            std::string contents;
            EXPECT_EQ(readFile(below("A|target"), contents).reason(), folder);
            EXPECT_EQ(readFile(below("202612.xls.queue"), contents).reason(), link);
            EXPECT_EQ(readBytes(root / "elsewhere|target"), "kept");
            EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(root / "elsewhere")), fs::directory_iterator()), 1);
            // What lies below the root without a link is reached as ever.
            ASSERT_TRUE(makeFolderChain(below("B|new")).ok());
            ASSERT_TRUE(appendWithHeader(below("B|new|CDR_2024_03_15.txt"), "#head\r\n", "line\r\n").ok());
            ASSERT_TRUE(truncateFile(below("B|new|CDR_2024_03_15.txt"), 7, cut).ok());
            EXPECT_TRUE(cut);
            ASSERT_TRUE(writeFileDurably(below("B|journal"), "j").ok());
            ASSERT_TRUE(file.open(below("B|journal")).ok());
            ASSERT_TRUE(file.replace({"replaced"}).ok());
            file.close();
            ASSERT_TRUE(readFile(below("B|journal"), contents).ok());
            EXPECT_EQ(contents, "replaced");
            ASSERT_TRUE(removeFileDurably(below("B|journal")).ok());
            std::vector<std::string> names;
            ASSERT_TRUE(listFolder(below("B"), names).ok());
            std::sort(names.begin(), names.end());
            EXPECT_EQ(names, (std::vector<std::string>{"new", "old"}));
            EXPECT_EQ(readBytes(root / "rec|B|new|CDR_2024_03_15.txt"), "#head\r\n");
            fs::remove_all(fs::path(root / "rec|B|new"));
        }
    }
    walkFolderByFolder(false);
    setDataRoots({});
}

#ifndef _WIN32
TEST(Files, AreNeitherReadNorWrittenWhenTheyArePipes) {
    const SeamFolder root;
    const std::string pipe = root / "CDR_2024_03_15.txt";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::string contents;
    bool whole = false;
    FileVersion version;
    // Each would wait for the other end for ever if it opened the pipe as a file.
    EXPECT_EQ(readRegularFile(pipe, 100, contents, whole, version).reason(), "Not a regular file");
    EXPECT_EQ(appendWithHeader(pipe, "#head\r\n", "line\r\n").reason(), "Not a regular file");
    EXPECT_EQ(appendToFile(pipe, "line\r\n").reason(), "Not a regular file");
    // With a reader at the other end it opens at once, and is refused all the same.
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(appendWithHeader(pipe, "#head\r\n", "line\r\n").reason(), "Not a regular file");
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0) << "nothing was written into the pipe";
    close(reader);
}
#endif

TEST(Calendar, RollsOverAsMktimeDoesAndGoesPast2038) {
    const struct {
        CalendarTime given;
        CalendarTime shown;
    } cases[] = {
        {{2024, 4, 31, 12, 0, 0}, {2024, 5, 1, 12, 0, 0}},
        {{2024, 0, 15, 12, 0, 0}, {2023, 12, 15, 12, 0, 0}},
        {{2024, 3, 0, 12, 0, 0}, {2024, 2, 29, 12, 0, 0}},
        {{2024, 1, 15, 23, 59, 60}, {2024, 1, 16, 0, 0, 0}},
        {{2024, 1, 15, 25, 0, 0}, {2024, 1, 16, 1, 0, 0}},
        {{2024, 13, 15, 12, 0, 0}, {2025, 1, 15, 12, 0, 0}},
        {{2045, 6, 15, 12, 0, 0}, {2045, 6, 15, 12, 0, 0}},
    };
    for (const auto& each : cases) {
        TimeValue time = 0;
        ASSERT_TRUE(fromLocalCalendar(each.given, time));
        CalendarTime shown;
        ASSERT_TRUE(toLocalCalendar(time, shown));
        EXPECT_EQ(std::vector<int>({shown.year, shown.month, shown.day, shown.hour, shown.minute, shown.second}),
                  std::vector<int>({each.shown.year, each.shown.month, each.shown.day, each.shown.hour,
                                    each.shown.minute, each.shown.second}));
    }
    TimeValue first = 0, second = 0;
    ASSERT_TRUE(fromLocalCalendar({2024, 1, 15, 12, 0, 0}, first));
    ASSERT_TRUE(fromLocalCalendar({2024, 1, 16, 12, 0, 0}, second));
    EXPECT_EQ(second - first, 86400);

    CalendarTime now;
    ASSERT_TRUE(toLocalCalendar(currentTime(), now));
    EXPECT_GE(now.year, 2024);
}

// A port of its own for the test, away from the collector's.
SocketHandle boundSocket(int& port) {
    SocketHandle socket = invalidSocket;
    if (!openUdpSocket(socket).ok()) return invalidSocket;
    for (port = 41809; port < 41909; ++port)
        if (bindUdpPort(socket, port).ok()) return socket;
    closeSocket(socket);
    return invalidSocket;
}

TEST(Udp, CarriesADatagramWholeOverTheLoopback) {
    int port = 0;
    const SocketHandle receiver = boundSocket(port);
    ASSERT_NE(receiver, invalidSocket);
    EXPECT_GT(enlargeReceiveBuffer(receiver, 1 << 20), 0);
    SocketHandle sender = invalidSocket;
    ASSERT_TRUE(openUdpSocket(sender).ok());

    bool ready = true;
    ASSERT_TRUE(waitForDatagram(receiver, 50, ready).ok());
    EXPECT_FALSE(ready);
    std::string datagram(largestDatagram, 'x');
    datagram.replace(0, 16, std::string("RECORD:ID=1\0\r\n\xD6\xD0", 16));
    ASSERT_TRUE(sendDatagram(sender, reinterpret_cast<const unsigned char*>(datagram.data()), datagram.size(),
                             {"127.0.0.1", port})
                    .ok());
    ASSERT_TRUE(waitForDatagram(receiver, 5000, ready).ok());
    ASSERT_TRUE(ready);
    std::string received(largestDatagram + 1, '\0');
    Peer from;
    std::size_t count = 0;
    ASSERT_TRUE(
        receiveDatagram(receiver, reinterpret_cast<unsigned char*>(received.data()), received.size(), count, &from)
            .ok());
    ASSERT_EQ(count, datagram.size());
    received.resize(count);
    EXPECT_EQ(received, datagram);
    EXPECT_EQ(from.address, "127.0.0.1");
    EXPECT_GT(from.port, 0);
    EXPECT_NE(from.port, port);

    EXPECT_FALSE(sendDatagram(sender, reinterpret_cast<const unsigned char*>("x"), 1, {"not an address", port}).ok());
    closeSocket(sender);
    closeSocket(receiver);

    EXPECT_TRUE(isDottedAddress("127.0.0.1"));
    EXPECT_TRUE(isDottedAddress("255.255.255.255"));
    EXPECT_FALSE(isDottedAddress("switch-7"));
    EXPECT_FALSE(isDottedAddress(""));
    std::string dotted;
    ASSERT_TRUE(lookupHost("localhost", dotted).ok());
    EXPECT_TRUE(dotted.starts_with("127.")) << dotted;
}

TEST(LockedFile, ReplacesTheFileWholeAndKeepsHoldingIt) {
    const SeamFolder root;
    const std::string path = root / "201711.xls";
    LockedFile file;
    ASSERT_TRUE(file.open(path).is(Code::notFound));
    ASSERT_TRUE(file.replace({"first ", "pieces"}).ok());
    EXPECT_EQ(readBytes(path), "first pieces");
    ASSERT_TRUE(file.replace({"second"}).ok());
    EXPECT_EQ(readBytes(path), "second");
#ifdef _WIN32
    // Here the lock is the share mode, which binds this process as well.
    LockedFile other;
    EXPECT_TRUE(other.open(path).is(Code::busy));
    EXPECT_TRUE(fileInUse(path));
#endif
    file.close();
    EXPECT_EQ(readBytes(path), "second");
    EXPECT_FALSE(fileInUse(path));
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(root / "")), fs::directory_iterator()), 1);
    ASSERT_TRUE(file.open(path).ok());
    std::string contents;
    ASSERT_TRUE(file.read(contents).ok());
    EXPECT_EQ(contents, "second");
    file.close();
    EXPECT_TRUE(file.open(root / "").is(Code::failed));
    EXPECT_FALSE(fileInUse(root / "missing.xls"));
}

TEST(LockedFile, ChangesTheFileWhereItLies) {
    const SeamFolder root;
    const std::string path = root / "book.xls";
    LockedFile file;
    ASSERT_TRUE(file.create(path).ok());
    ASSERT_TRUE(file.writeAt(0, "0123456789").ok());
    // Past the end the file grows, with zero bytes in any gap.
    ASSERT_TRUE(file.writeAt(12, "ab").ok());
    ASSERT_TRUE(file.writeAt(2, "xy").ok());
    ASSERT_TRUE(file.flush().ok());
    std::uint64_t size = 0;
    ASSERT_TRUE(file.size(size).ok());
    EXPECT_EQ(size, 14u);
    std::string bytes;
    ASSERT_TRUE(file.readAt(10, 100, bytes).ok());
    EXPECT_EQ(bytes, std::string("\0\0ab", 4)) << "fewer bytes where the file ends";
    ASSERT_TRUE(file.readAt(20, 5, bytes).ok());
    EXPECT_EQ(bytes, "");
    ASSERT_TRUE(file.resize(6).ok());
    ASSERT_TRUE(file.readAt(0, 100, bytes).ok());
    EXPECT_EQ(bytes, "01xy45");
    file.close();
    EXPECT_EQ(readBytes(path), "01xy45");
    EXPECT_TRUE(file.create(path).is(Code::exists));
    EXPECT_TRUE(file.create(root / "missing|book.xls").is(Code::notFound));
}

TEST(DurableFiles, AreWrittenAppendedAndRemovedWhole) {
    const SeamFolder root;
    const std::string journal = root / "book.xls-journal";
    ASSERT_TRUE(writeFileDurably(journal, "longer first").ok());
    ASSERT_TRUE(writeFileDurably(journal, "second").ok());
    EXPECT_EQ(readBytes(journal), "second");
    const std::string queue = root / "book.xls.queue";
    ASSERT_TRUE(appendDurably(queue, "a").ok());
    ASSERT_TRUE(appendDurably(queue, std::string("b\0c", 3)).ok());
    EXPECT_EQ(readBytes(queue), std::string("ab\0c", 4));
    FileStamp before;
    ASSERT_TRUE(fileStamp(queue, before).ok());
    EXPECT_EQ(before.size, 4u);
    ASSERT_TRUE(appendDurably(queue, "d").ok());
    FileStamp after;
    ASSERT_TRUE(fileStamp(queue, after).ok());
    EXPECT_NE(before, after);
    ASSERT_TRUE(removeFileDurably(queue).ok());
    EXPECT_FALSE(pathExists(queue));
    EXPECT_TRUE(removeFileDurably(queue).is(Code::notFound));
    EXPECT_TRUE(fileStamp(queue, after).is(Code::notFound));
    EXPECT_TRUE(appendDurably(root / "missing|x", "x").is(Code::notFound));
}

// The steps of a small change, with the hook failing or crashing the Nth.
TEST(FaultHook, FailsOneChangeOrStopsEveryChangeFromIt) {
    const SeamFolder root;
    const std::string path = root / "book.xls";
    const auto change = [&](std::vector<std::string>& steps) {
        steps.clear();
        LockedFile file;
        std::string outcome;
        static_cast<void>(file.open(path));
        for (const Status& status : {file.replace({"old"}), file.writeAt(3, "+new"), file.flush(),
                                     appendDurably(root / "book.xls.queue", "row")})
            outcome += status.ok() ? "ok " : "failed ";
        file.close();
        return outcome;
    };
    std::vector<std::string> steps;
    setFaultHook([&](const FileChange& each) {
        const char* names[] = {"create", "write", "resize", "flush", "flushFolder", "rename", "remove"};
        steps.push_back(names[static_cast<int>(each.step)]);
        return FaultAction::proceed;
    });
    EXPECT_EQ(change(steps), "ok ok ok ok ");
    EXPECT_EQ(steps, (std::vector<std::string>{"create", "write", "flush", "rename", "flushFolder", "write", "flush",
                                               "create", "write", "flush", "flushFolder"}));
    // What each crash leaves: the workbook, then the queue ("-" for none).
    const char* const left[][2] = {{"-", "-"},   {"-", "-"},   {"-", "-"},   {"-", "-"},
                                   {"old", "-"}, {"old", "-"}, {"old+new", "-"}, {"old+new", "-"},
                                   {"old+new", ""}, {"old+new", "row"}, {"old+new", "row"}};
    ASSERT_EQ(steps.size(), std::size(left));
    const auto contents = [](const std::string& file) { return pathExists(file) ? readBytes(file) : "-"; };
    for (const FaultAction action : {FaultAction::fail, FaultAction::crash}) {
        for (std::size_t nth = 1; nth <= std::size(left); ++nth) {
            std::error_code ignored;
            fs::remove(path, ignored);
            fs::remove(root / "book.xls.queue", ignored);
            std::size_t seen = 0;
            setFaultHook([&](const FileChange&) { return ++seen == nth ? action : FaultAction::proceed; });
            const std::string outcome = change(steps);
            if (action == FaultAction::fail) {
                // The change fails and says so, but for the flush of the
                // folder after a replacement, which is not waited for.
                EXPECT_EQ(outcome == "ok ok ok ok ", nth == 5) << nth << ": " << outcome;
            } else {
                EXPECT_EQ(seen, nth) << "nothing is asked after a crash";
                EXPECT_EQ(contents(path), left[nth - 1][0]) << nth;
                EXPECT_EQ(contents(root / "book.xls.queue"), left[nth - 1][1]) << nth;
            }
        }
    }
    setFaultHook({});
    EXPECT_EQ(change(steps), "ok ok ok ok ");
}

}  // namespace
}  // namespace quelvar::platform
