// Runs the Linux program and the Windows program (under wine) on the same
// generated texts and checks that they agree to the byte: the file written,
// the messages and the exit status.
//
// crosscheck_tests LINUX_PROGRAM -- WINE WINDOWS_PROGRAM
#include "run_program.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::vector<std::string> g_linux, g_windows;

// Pieces of text, each with the bytes it adds to the calculator text
// (a line break counts twice); no piece joins its neighbours into a CR LF pair.
struct Piece {
    std::string raw;
    int size;
};
const Piece kPieces[] = {
    {"a", 1},     {"Z", 1},      {" ", 1},      {"\t", 1},       {"\n", 2},
    {"\r\n", 2},  {"\rx", 2},    {"\r\r\n", 3}, {"\xFF", 1},     {"\0"s, 1},
    {"\x80", 1},  {"\xFE", 1},   {"\x7F", 1},   {"\n\r\n\n", 6}, {"line of text", 12},
};

// A text of exactly `size` calculator bytes, ending in a lone CR if asked.
std::string TextOfSize(std::mt19937& random, int size, bool lone_cr_at_end)
{
    std::string raw;
    int left = size - (lone_cr_at_end ? 1 : 0);
    while (left > 20) {
        const Piece& p = kPieces[random() % std::size(kPieces)];
        raw += p.raw;
        left -= p.size;
    }
    raw += std::string(left, 'a');
    return lone_cr_at_end ? raw + "\r" : raw;
}

// A short text of any bytes from the pieces, with Ctrl-Z and CR anywhere.
std::string AnyText(std::mt19937& random)
{
    std::string raw;
    for (int n = random() % 40; n > 0; --n) {
        switch (random() % 8) {
        case 0: raw += '\x1A'; break;
        case 1: raw += '\r'; break;
        default: raw += kPieces[random() % std::size(kPieces)].raw;
        }
    }
    return raw;
}

struct Outcome {
    RunResult run;
    std::string file;  // t.89t, empty if none was left
    bool file_left;
};

Outcome Convert(const std::vector<std::string>& program, const std::string& text, bool wine)
{
    char templ[] = "/tmp/sorvel-cross-XXXXXX";
    EXPECT_NE(mkdtemp(templ), nullptr);
    const fs::path root = templ, dir = root / "scratch";
    fs::create_directory(dir);
    std::ofstream(dir / "t.txt", std::ios::binary) << text;
    std::vector<std::string> command = program;
    command.push_back("t.txt");
    Outcome o{RunProgram(command, dir, root, RLIM_INFINITY, wine), Slurp(dir / "t.89t"), fs::exists(dir / "t.89t")};
    fs::remove_all(root);
    return o;
}

// Returns what the Linux program did.
Outcome ExpectSame(const std::string& text, const std::string& what)
{
    SCOPED_TRACE(what);
    const Outcome linux = Convert(g_linux, text, false), windows = Convert(g_windows, text, true);
    EXPECT_EQ(linux.run.status, windows.run.status);
    EXPECT_EQ(ConsoleLines(linux.run.out, true), windows.run.out);
    EXPECT_EQ(ConsoleLines(linux.run.err, true), windows.run.err);
    EXPECT_EQ(linux.file_left, windows.file_left);
    EXPECT_TRUE(linux.file == windows.file) << "the .89t files differ";
    return linux;
}

TEST(CrossCheck, ShortTexts)
{
    std::mt19937 random(89);
    for (int i = 0; i < 150; ++i)
        ExpectSame(AnyText(random), "short text");
}

TEST(CrossCheck, TextsAtTheSizeLimits)
{
    std::mt19937 random(1989);
    // 65,507 is the largest text the file takes, 65,527 the largest that fits the buffer.
    for (const int size : {65506, 65507, 65508, 65527, 65528, 65529}) {
        for (const bool lone_cr : {false, true}) {
            const Outcome linux =
                ExpectSame(TextOfSize(random, size, lone_cr), "size " + std::to_string(size));
            EXPECT_EQ(linux.run.status, size <= 65507 ? 0 : size <= 65527 ? 4 : 3) << size;
            if (size <= 65507)
                EXPECT_EQ(linux.file.size(), size + 5 + 90u) << size;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    std::vector<std::string>* into = &g_linux;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == "--"s)
            into = &g_windows;
        else
            into->push_back(into->empty() ? fs::absolute(argv[i]).string() : argv[i]);
    }
    if (g_linux.empty() || g_windows.empty()) {
        std::fprintf(stderr, "usage: %s LINUX_PROGRAM -- WINE WINDOWS_PROGRAM\n", argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
