// The platform seam's contract, written against the seam alone so that the
// same tests hold each system's implementation to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_faults.h"
#include "platform/files.h"
#include "platform/udp.h"

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
