#include "platform/codepage.h"
#include "platform/textfile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;
namespace tf = tavrin::platform::textfile;
using tavrin::platform::setHistoryCodePageForTesting;

namespace {

class TextFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tavrin-tf-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir);
        file = (dir / "f.ini").string();
    }
    void TearDown() override {
        tf::close(1);
        tf::close(2);
        setHistoryCodePageForTesting(0);
        fs::remove_all(dir);
    }
    std::string bytes() const {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    fs::path dir;
    std::string file;
};

TEST_F(TextFileTest, LinesEndInCrLfAndReachTheFileAtOnce) {
    std::ofstream(file) << "earlier content";
    ASSERT_TRUE(tf::open(1, file, tf::Mode::Output).ok());
    EXPECT_EQ(bytes(), ""); // output empties the file
    ASSERT_TRUE(tf::writeLine(1, "-/photos/").ok());
    EXPECT_EQ(bytes(), "-/photos/\r\n"); // on disk before close
    ASSERT_TRUE(tf::writeLine(1, "").ok());
    EXPECT_EQ(tf::size(1), 13u);
    tf::close(1);
    EXPECT_EQ(bytes(), "-/photos/\r\n\r\n");
}

TEST_F(TextFileTest, ReadGivesLinesWithoutCrLfAndTellsAnUnfinishedOne) {
    std::ofstream(file, std::ios::binary) << "one\r\n\r\nthree";
    ASSERT_TRUE(tf::open(2, file, tf::Mode::Input).ok());
    std::string line;
    bool complete = false;
    ASSERT_TRUE(tf::readLine(2, line, &complete).ok());
    EXPECT_EQ(line, "one");
    EXPECT_TRUE(complete);
    ASSERT_TRUE(tf::readLine(2, line, &complete).ok());
    EXPECT_EQ(line, "");
    EXPECT_FALSE(tf::atEnd(2));
    ASSERT_TRUE(tf::readLine(2, line, &complete).ok());
    EXPECT_EQ(line, "three");
    EXPECT_FALSE(complete);
    EXPECT_TRUE(tf::atEnd(2));
    EXPECT_FALSE(tf::readLine(2, line).ok());
}

TEST_F(TextFileTest, NumbersAreExclusive) {
    ASSERT_TRUE(tf::open(1, file, tf::Mode::Output).ok());
    EXPECT_FALSE(tf::open(1, file, tf::Mode::Input).ok());
    std::string line;
    EXPECT_FALSE(tf::readLine(1, line).ok()); // an output file gives no lines
    EXPECT_FALSE(tf::open(0, file, tf::Mode::Output).ok());
    tf::close(1);
    EXPECT_TRUE(tf::open(1, file, tf::Mode::Input).ok());
    EXPECT_FALSE(tf::writeLine(1, "x").ok()); // an input file takes no lines
    EXPECT_FALSE(tf::open(2, (dir / "missing").string(), tf::Mode::Input).ok());
    EXPECT_FALSE(tf::isOpen(2));
}

TEST_F(TextFileTest, TruncateWithdrawsTheLastLines) {
    ASSERT_TRUE(tf::open(1, file, tf::Mode::Output).ok());
    ASSERT_TRUE(tf::writeLine(1, "keep").ok());
    const auto size = tf::size(1);
    ASSERT_TRUE(tf::writeLine(1, "drop").ok());
    ASSERT_TRUE(tf::truncate(1, size).ok());
    ASSERT_TRUE(tf::writeLine(1, "next").ok());
    tf::close(1);
    EXPECT_EQ(bytes(), "keep\r\nnext\r\n");
}

// A batch of lines goes to the system in one write; a cut reaches into the
// queued lines first, and what is handed over can be made durable.
TEST_F(TextFileTest, QueuedLinesReachTheFileTogether) {
    ASSERT_TRUE(tf::open(1, file, tf::Mode::Output).ok());
    ASSERT_TRUE(tf::writeLine(1, "-/photos/").ok());
    ASSERT_TRUE(tf::queueLine(1, "a.jpg").ok());
    const auto afterA = tf::size(1);
    ASSERT_TRUE(tf::queueLine(1, "b.jpg").ok());
    EXPECT_FALSE(tf::queueLine(1, "two\r\nlines").ok());
    EXPECT_EQ(bytes(), "-/photos/\r\n");
    EXPECT_EQ(tf::size(1), 25u);
    ASSERT_TRUE(tf::truncate(1, afterA).ok());
    ASSERT_TRUE(tf::queueLine(1, "c.jpg").ok());
    ASSERT_TRUE(tf::sync(1).ok());
    EXPECT_EQ(bytes(), "-/photos/\r\na.jpg\r\nc.jpg\r\n");
    ASSERT_TRUE(tf::truncate(1, 11).ok()); // into what was written
    ASSERT_TRUE(tf::queueLine(1, "d.jpg").ok());
    tf::close(1); // hands the queued line over
    EXPECT_EQ(bytes(), "-/photos/\r\nd.jpg\r\n");
    EXPECT_FALSE(tf::sync(1).ok()); // not open
}

TEST_F(TextFileTest, TextTheCodePageCannotHoldIsRefusedWhole) {
    ASSERT_TRUE(setHistoryCodePageForTesting(932));
    ASSERT_TRUE(tf::open(1, file, tf::Mode::Output).ok());
    // Past the first eight bytes too, where ASCII is told apart a byte at a time.
    EXPECT_FALSE(tf::writeLine(1, "smile\xF0\x9F\x98\x80").ok());
    EXPECT_FALSE(tf::writeLine(1, "smile :)\xF0\x9F\x98\x80").ok());
    // A line break anywhere, in the first eight bytes or after them.
    for (const char* line : {"two\r\nlines", "two\rlines", "two\nlines", "a\rb", "a\nb",
                             "photo001.jpg\n", "photo001.jpg\r"}) {
        EXPECT_FALSE(tf::writeLine(1, line).ok()) << line;
    }
    ASSERT_TRUE(tf::writeLine(1, "日本").ok());
    ASSERT_TRUE(tf::writeLine(1, "photo001日本").ok());
    tf::close(1);
    EXPECT_EQ(bytes(), "\x93\xFA\x96\x7B\r\nphoto001\x93\xFA\x96\x7B\r\n");

    setHistoryCodePageForTesting(0); // UTF-8: invalid bytes are refused as well
    ASSERT_TRUE(tf::open(1, file, tf::Mode::Output).ok());
    EXPECT_FALSE(tf::writeLine(1, "\xFF").ok());
    EXPECT_EQ(tf::size(1), 0u);
}

TEST_F(TextFileTest, UpdateReadsLinesWithTheirPlacesAndCutsBack) {
    std::ofstream(file, std::ios::binary) << "one\r\ntwo\r\nthree\r\n";
    ASSERT_TRUE(tf::open(1, file, tf::Mode::Update).ok());
    EXPECT_EQ(tf::size(1), 17u);
    std::string line;
    ASSERT_TRUE(tf::readLine(1, line).ok());
    const auto second = tf::position(1);
    EXPECT_EQ(second, 5u);
    ASSERT_TRUE(tf::readLine(1, line).ok());
    EXPECT_EQ(line, "two");
    EXPECT_FALSE(tf::writeLine(1, "x").ok()); // an update file only gets shorter
    ASSERT_TRUE(tf::truncate(1, second).ok());
    EXPECT_EQ(bytes(), "one\r\n"); // on disk at once
    tf::close(1);
    EXPECT_FALSE(tf::open(1, (dir / "missing").string(), tf::Mode::Update).ok());
    // A file larger than the reader allows is refused unread.
    EXPECT_EQ(tf::open(1, file, tf::Mode::Update, 4).reason,
              "ファイルが大きすぎます（読めるのは 4 バイトまでです）");
    EXPECT_FALSE(tf::isOpen(1));
    ASSERT_TRUE(tf::open(1, file, tf::Mode::Input, 5).ok());
    EXPECT_EQ(tf::size(1), 5u);
}

// No mode writes or reads through a link at the path.
TEST_F(TextFileTest, LinkAtThePathIsRefusedInEveryMode) {
    if (tavrin::platform::separator() != '/') {
        GTEST_SKIP() << "links need privileges on Windows";
    }
    const fs::path target = dir / "target";
    std::ofstream(target, std::ios::binary) << "target\r\n";
    fs::create_symlink(target, file);
    for (const tf::Mode mode : {tf::Mode::Output, tf::Mode::Input, tf::Mode::Update}) {
        const auto s = tf::open(1, file, mode);
        EXPECT_FALSE(s.ok());
        EXPECT_EQ(s.reason, "シンボリックリンクなので開けません");
        EXPECT_FALSE(tf::isOpen(1));
    }
    std::ifstream in(target, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "target\r\n");
}

// Text is representable only when it comes back unchanged: these have a byte
// pair in code page 932 only one way (〜 would come back as ～), and Windows
// refuses them; every platform does.
TEST(CodePage932, TextThatWouldComeBackChangedIsNotRepresentable) {
    const auto page = tavrin::platform::makeCodePage(932);
    ASSERT_NE(page, nullptr);
    std::string bytes, back;
    for (const char* oneWay :
         {"\u301C", "\u2212", "\u2016", "\u00A2", "\u00AC", "\u2014", "\u00A5"}) {
        EXPECT_FALSE(page->encode(std::string("a") + oneWay, bytes)) << oneWay;
    }
    for (const char* roundTrip : {"\uFF5E", "\uFF0D", "\u2015", "\uFFE5", "\\", "写真"}) {
        ASSERT_TRUE(page->encode(roundTrip, bytes)) << roundTrip;
        ASSERT_TRUE(page->decode(bytes, back));
        EXPECT_EQ(back, roundTrip);
    }
}

// The history in UTF-8 takes no bytes that are not UTF-8, alone or after ASCII.
TEST(CodePage65001, BytesThatAreNotUtf8AreRefused) {
    const auto page = tavrin::platform::makeCodePage(65001);
    ASSERT_NE(page, nullptr);
    std::string out;
    for (const char* bad : {"\x80", "photo\x80.jpg", "photo\xE5\x86", "\xFF", "a\xC3"}) {
        EXPECT_FALSE(page->decode(bad, out)) << bad;
        EXPECT_FALSE(page->encode(bad, out)) << bad;
    }
    ASSERT_TRUE(page->decode("photo写真.jpg", out));
    EXPECT_EQ(out, "photo写真.jpg");
}

} // namespace
