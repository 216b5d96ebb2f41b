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

}  // namespace
}  // namespace quelvar::platform
