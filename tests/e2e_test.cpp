// Runs the program named on the command line in a scratch directory per case
// and checks its exit status, standard output and error, and every file left.
#include "run_program.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::vector<std::string> g_command;  // runs the program under test
bool g_windows = false;              // it is the Windows program, run by wine

struct Entry {
    enum Kind { file, dir, link } kind;
    std::string path;   // relative to the scratch directory
    std::string bytes;  // a file's content, or a link's target
    fs::perms mode = fs::perms::unknown;  // a file's permission bits, where they matter
    bool lines = false;  // a text whose line breaks are the system's: CR LF on Windows
};
Entry File(std::string path, std::string bytes, fs::perms mode = fs::perms::unknown)
{
    return {Entry::file, path, bytes, mode};
}
Entry TextFile(std::string path, std::string bytes)
{
    return {Entry::file, path, bytes, fs::perms::unknown, true};
}
Entry Dir(std::string path) { return {Entry::dir, path, ""}; }
Entry Link(std::string path, std::string target) { return {Entry::link, path, target}; }

struct Case {
    const char* what;
    std::vector<Entry> before;
    std::vector<std::string> args;  // "{dir}" stands for the scratch directory
    int status;
    std::string out;                // "{dir}" likewise
    std::string err;
    std::vector<Entry> made = {};   // added to or replacing `before` afterwards
    rlim_t file_size_limit = RLIM_INFINITY;
};

const std::string kUsage = "Usage: sorvel file.txt [varname]\n";
const std::string kTooBig = "ERROR: text file too big\n";
const std::string kNoImage = "ERROR: out of memory\n";

// A file image pieced together from hand-computed fields.
std::string Image(std::string name, std::string file_size, std::string data_size,
                  std::string data, std::string checksum, std::string signature = "**TI89**")
{
    name.resize(8, '\0');
    return signature + "\x01\x00main"s + std::string(44, '\0') + "\x01\x00\x52\x00\x00\x00"s +
           name + "\x0C\x00\x03\x00"s + file_size + "\xA5\x5A\x00\x00\x00\x00"s + data_size + data +
           checksum;
}

// The letters abc under another name; the name does not count toward the checksum.
std::string AbcImage(const std::string& name, const std::string& signature = "**TI89**")
{
    return Image(name, "\x62\0\0\0"s, "\x00\x08"s, "\x00\x01\x20\x61\x62\x63\x00\xE0"s, "\x2F\x02",
                 signature);
}

std::string LE(std::size_t value, int bytes)
{
    std::string le;
    for (int i = 0; i < bytes; ++i)
        le += static_cast<char>(value >> 8 * i);
    return le;
}

// A group file of text variables named `names`, each holding the letters abc: its entries,
// then its size, the marker and one 16-byte data block for each.
std::string AbcGroup(const std::vector<std::string>& names)
{
    const std::size_t n = names.size(), first = 66 + 16 * n;
    std::string group = "**TI89**\x01\x00main"s + std::string(44, '\0') + LE(n, 2), blocks;
    for (std::size_t i = 0; i < n; ++i) {
        std::string name = names[i];
        name.resize(8, '\0');
        group += LE(first + 16 * i, 4) + name + "\x0C\0\0\0"s;
        blocks += "\0\0\0\0\x00\x08\x00\x01\x20\x61\x62\x63\x00\xE0\x2F\x02"s;
    }
    return group + LE(first + 16 * n, 4) + "\xA5\x5A" + blocks;
}

std::string Replace(std::string s, const std::string& dir)
{
    for (std::size_t at; (at = s.find("{dir}")) != std::string::npos;)
        s.replace(at, 5, dir);
    return s;
}

using Tree = std::map<std::string, std::pair<Entry::Kind, std::string>>;

Tree Snapshot(const fs::path& dir)
{
    Tree tree;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string rel = e.path().lexically_relative(dir).string();
        if (e.is_symlink())
            tree[rel] = {Entry::link, fs::read_symlink(e.path()).string()};
        else if (e.is_directory())
            tree[rel] = {Entry::dir, ""};
        else
            tree[rel] = {Entry::file, Slurp(e.path())};
    }
    return tree;
}

// One line per entry: its path, kind, and size or target.
std::string Describe(const Tree& tree)
{
    std::string lines;
    for (const auto& [path, entry] : tree) {
        const auto& [kind, bytes] = entry;
        lines += path + (kind == Entry::dir    ? " dir"
                         : kind == Entry::link ? " -> " + bytes
                                               : " " + std::to_string(bytes.size()) + " bytes " +
                                                     std::to_string(std::hash<std::string>{}(bytes)));
        lines += "\n";
    }
    return lines;
}

void Check(const Case& c)
{
    SCOPED_TRACE(c.what);
    char templ[] = "/tmp/sorvel-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    const fs::path root = templ, dir = root / "scratch";
    fs::create_directory(dir);

    Tree expected;
    for (const Entry& e : c.before) {
        if (e.kind == Entry::dir)
            fs::create_directories(dir / e.path);
        else if (e.kind == Entry::link)
            fs::create_symlink(e.bytes, dir / e.path);
        else
            std::ofstream(dir / e.path, std::ios::binary) << e.bytes;
        if (e.mode != fs::perms::unknown)
            fs::permissions(dir / e.path, e.mode);
        expected[e.path] = {e.kind, e.bytes};
    }
    for (const Entry& e : c.made)
        expected[e.path] = {e.kind, e.lines ? ConsoleLines(e.bytes, g_windows) : e.bytes};

    std::vector<std::string> command = g_command;
    for (const std::string& arg : c.args)
        command.push_back(Replace(arg, dir.string()));
    const RunResult got = RunProgram(command, dir, root, c.file_size_limit, g_windows);
    EXPECT_EQ(got.status, c.status);
    // An expected output ending in "..." is the start of the output.
    const std::string out = ConsoleLines(Replace(c.out, dir.string()), g_windows);
    if (out.ends_with("..."))
        EXPECT_EQ(got.out.substr(0, out.size() - 3), out.substr(0, out.size() - 3));
    else
        EXPECT_EQ(got.out, out);
    EXPECT_EQ(got.err, ConsoleLines(c.err, g_windows));
    EXPECT_EQ(Describe(Snapshot(dir)), Describe(expected)) << "the files left behind";
    for (const Entry& e : c.made)
        if (e.mode != fs::perms::unknown && !g_windows)
            EXPECT_EQ(fs::status(dir / e.path).permissions(), e.mode) << e.path;
    fs::remove_all(root);
}

std::string Repeat(const std::string& s, int times)
{
    std::string all;
    while (times-- > 0)
        all += s;
    return all;
}

std::vector<Case> Cases()
{
    const std::string abc_89t = AbcImage("abc");
    const auto abc = File("abc.txt", "abc");
    // 0xFF + 0xE8 + 0x00 + 0x01 + 0x20 + 65,507 * 0x61 + 0x00 + 0xE0 = 6,354,923, or 0xF7EB.
    const std::string largest = Image("big", "\x42\x00\x01\x00"s, "\xFF\xE8"s,
                                      "\x00\x01\x20"s + std::string(65507, 'a') + "\x00\xE0"s,
                                      "\xEB\xF7"s);
    // 0x00 + 0x0F + the 15 bytes of data = 0x04C5.
    const std::string kUtf8Image =
        Image("u", "\x69\0\0\0"s, "\x00\x0F"s,
              "\x00\x01\x20\x63\x61\x66\xE9\x20\x88\x9C\x31\x0D\x20\x00\xE0"s, "\xC5\x04"s);
    const std::string length_refused =
        "ERROR: length (65513) exceeds max. user data size (65512)\n";
    return {
        {"no argument", {}, {}, 1, kUsage, ""},
        {"three arguments", {abc}, {"abc.txt", "x", "y"}, 1, kUsage, ""},
        {"worked example, a new file's mode 0666 less the umask", {abc}, {"abc.txt"}, 0, "", "",
         {File("abc.89t", abc_89t, fs::perms(0644))}},
        {"CR LF line break", {File("notes.txt", "Hi\r\n")}, {"notes.txt"}, 0, "", "",
         {File("notes.89t", Image("notes", "\x63\0\0\0"s, "\x00\x09"s,
                                  "\x00\x01\x20\x48\x69\x0D\x20\x00\xE0"s, "\xE8\x01"s))}},
        {"name cut to 8 bytes", {File("chapter12.txt", "abc")}, {"chapter12.txt"}, 0, "", "",
         {File("chapter1.89t", AbcImage("chapter1"))}},
        {"name without a dot", {File("readme", "abc")}, {"readme"}, 0, "", "",
         {File("readme.89t", AbcImage("readme"))}},
        {"empty name from ./", {abc}, {"./abc.txt"}, 0, "", "", {File(".89t", AbcImage(""))}},
        {"directory part kept", {Dir("docs"), File("docs/a.txt", "abc")}, {"docs/a.txt"}, 0, "",
         "", {File("docs/a.89t", AbcImage("docs/a"))}},
        {"given name cut, case kept", {abc}, {"abc.txt", "VeryLongName"}, 0, "", "",
         {File("VeryLong.89t", AbcImage("VeryLong"))}},
        {"given empty name", {abc}, {"abc.txt", ""}, 0, "", "", {File(".89t", AbcImage(""))}},
        {"given name keeps its dot", {abc}, {"abc.txt", "my.var"}, 0, "", "",
         {File("my.var.89t", AbcImage("my.var"))}},
        {"given name with a space", {abc}, {"abc.txt", "my var"}, 0, "", "",
         {File("my var.89t", AbcImage("my var"))}},
        {"given name with a directory", {abc, Dir("d"), Dir("d/e")}, {"abc.txt", "d/e/f"}, 0, "", "",
         {File("d/e/f.89t", AbcImage("d/e/f"))}},
        {"absolute input path", {abc}, {"{dir}/abc.txt", "n"}, 0, "", "",
         {File("n.89t", AbcImage("n"))}},
        {"existing output replaced", {abc, File("abc.89t", "old")}, {"abc.txt"}, 0, "", "",
         {File("abc.89t", abc_89t)}},
        {"input is the output", {File("x.89t", "abc")}, {"x.89t"}, 0, "", "",
         {File("x.89t", AbcImage("x"))}},
        {"input named by its own characters", {File("Ωmega.txt", "abc"), File("Omega.txt", "x")},
         {"Ωmega.txt", "om"}, 0, "", "", {File("om.89t", AbcImage("om"))}},
        {"missing input", {}, {"missing.txt"}, 2, "ERROR: unable to open missing.txt\n", ""},
        {"missing input, name given", {}, {"missing.txt", "n"}, 2,
         "ERROR: unable to open missing.txt\n", ""},
        {"missing input named by a path", {}, {"{dir}/no.txt"}, 2,
         "ERROR: unable to open {dir}/no.txt\n", ""},
        {"path with format directives", {}, {"%s%n%x.txt"}, 2,
         "ERROR: unable to open %s%n%x.txt\n", ""},
        {"empty input path", {}, {""}, 2, "ERROR: unable to open \n", ""},
        {"directory as input", {Dir("docs")}, {"docs", "n"}, 2, "ERROR: unable to open docs\n",
         ""},
        {"read that fails", {}, {"/proc/self/mem", "m"}, 2,
         "ERROR: unable to read /proc/self/mem\n", ""},
        {"largest text", {File("big.txt", std::string(65507, 'a'))}, {"big.txt"}, 0, "", "",
         {File("big.89t", largest)}},
        {"one byte more than the writer takes", {File("big.txt", std::string(65508, 'a'))},
         {"big.txt"}, 4, kNoImage, length_refused},
        {"largest the encoder takes, every LF twice",
         {File("big.txt", Repeat("\r\n", 32763) + "a"), File("big.89t", "old")}, {"big.txt"}, 4,
         kNoImage, "ERROR: length (65532) exceeds max. user data size (65512)\n"},
        {"too big", {File("big.txt", std::string(65528, 'a')), File("big.89t", "old")},
         {"big.txt"}, 3, kTooBig, ""},
        {"too big by its line breaks", {File("big.txt", Repeat("\n", 32764))}, {"big.txt"}, 3,
         kTooBig, ""},
        {"endless input", {}, {"/dev/zero", "z"}, 3, kTooBig, ""},
        {"output directory missing", {abc}, {"abc.txt", "no/a"}, 5,
         "ERROR: unable to create no/a.89t\n", ""},
        {"output directory is a file", {abc, File("f", "x")}, {"abc.txt", "f/a"}, 5,
         "ERROR: unable to create f/a.89t\n", ""},
        {"output directory not writable, even by root", {abc}, {"abc.txt", "/proc/a"}, 5,
         "ERROR: unable to create /proc/a.89t\n", ""},
        // Options.
        {"help", {}, {"-u", "--help", "-q"}, 0, "Usage: sorvel [options] file.txt [varname]\n..."},
        {"version", {}, {"-V"}, 0, "sorvel 0.2.0\n"},
        {"model 92", {abc}, {"-m", "92", "abc.txt"}, 0, "", "",
         {File("abc.92t", AbcImage("abc", "**TI92**"))}},
        {"model 92p, after the operand", {abc}, {"abc.txt", "--model=92p"}, 0, "", "",
         {File("abc.9xt", AbcImage("abc", "**TI92P*"))}},
        {"model v200", {abc}, {"--model", "v200", "abc.txt"}, 0, "", "",
         {File("abc.v2t", AbcImage("abc", "**TI92P*"))}},
        {"unknown model", {abc}, {"-m", "93", "abc.txt"}, 1,
         "ERROR: unknown model 93 (89, 92, 92p or v200)\n", ""},
        {"model without its value", {abc}, {"abc.txt", "-m"}, 1, "ERROR: option -m needs a value\n",
         ""},
        {"the first wrong option decides", {abc}, {"-q", "-m", "93", "abc.txt"}, 1,
         "ERROR: unknown option -q\n", ""},
        {"unknown long option", {abc}, {"abc.txt", "--frob"}, 1, "ERROR: unknown option --frob\n", ""},
        {"-- ends the options", {File("-n.txt", "abc")}, {"--", "-n.txt"}, 0, "", "",
         {File("-n.89t", AbcImage("-n"))}},
        {"options and three operands", {abc}, {"-u", "abc.txt", "x", "y"}, 1, kUsage, ""},
        // UTF-8: c a f é, space, θ ≤ 1, LF.
        {"UTF-8 worked example", {File("u.txt", "caf\xC3\xA9 \xCE\xB8\xE2\x89\xA4" "1\n")},
         {"-u", "u.txt"}, 0, "", "",
         {File("u.89t", kUtf8Image)}},
        {"UTF-8 name", {abc}, {"--utf8", "abc.txt", "\xCE\xB8"}, 0, "", "",
         {File("\xCE\xB8.89t", AbcImage("\x88"))}},
        {"UTF-8 name refused", {abc}, {"-u", "abc.txt", "\xE2\x82\xAC"}, 6,
         "ERROR: variable name \xE2\x82\xAC: no calculator character for U+20AC (\xE2\x82\xAC)\n", ""},
        // Byte order mark, a, CR LF, a page break, b, a lone CR, c.
        {"UTF-8 line breaks and a page break", {File("p.txt", "\xEF\xBB\xBF" "a\r\n\fb\rc")},
         {"-u", "p.txt"}, 0, "", "",
         {File("p.89t", Image("p", "\x66\0\0\0"s, "\x00\x0C"s,
                              "\x00\x01\x20\x61\x0D\x0C\x62\x0D\x20\x63\x00\xE0"s, "\x79\x02"s))}},
        {"UTF-8 malformed", {File("m.txt", "ab\ncd\xC3(")}, {"-u", "m.txt"}, 6,
         "ERROR: m.txt:2:3: malformed UTF-8: C3\n", ""},
        {"UTF-8 character the calculator lacks", {File("e.txt", "x\xE2\x82\xAC")}, {"-u", "e.txt"}, 6,
         "ERROR: e.txt:1:2: no calculator character for U+20AC (\xE2\x82\xAC)\n", ""},
        {"UTF-8 NUL", {File("n.txt", "a\0"s)}, {"-u", "n.txt"}, 6,
         "ERROR: n.txt:1:2: NUL would end the text on the calculator\n", ""},
        {"UTF-8 largest text", {File("big.txt", std::string(65507, 'a'))}, {"-u", "big.txt"}, 0, "",
         "", {File("big.89t", largest)}},
        {"UTF-8 too big, the writer's limit", {File("big.txt", std::string(65508, 'a'))},
         {"-u", "big.txt"}, 3, kTooBig, ""},
        // Back to text.
        {"extract", {File("abc.89t", abc_89t)}, {"-x", "abc.89t"}, 0, "", "",
         {TextFile("abc.txt", "abc")}},
        {"extract a TI-92 file", {File("a.92t", AbcImage("abc", "**TI92**"))}, {"--extract", "a.92t"},
         0, "", "", {TextFile("abc.txt", "abc")}},
        // Hi, a page break, a line of type C.
        {"extract lines to out.txt",
         {File("n.89t", Image("n", "\x6A\0\0\0"s, "\x00\x10"s,
                              "\x00\x01\x20Hi\r\x0Cpage\rCx\x00\xE0"s, "\x40\x04"s))},
         {"-x", "n.89t", "out.txt"}, 0, "", "", {TextFile("out.txt", "Hi\n\fpage\nCx")}},
        {"extract as UTF-8", {File("u.89t", kUtf8Image)}, {"-x", "-u", "u.89t"}, 0, "", "",
         {TextFile("u.txt", "caf\xC3\xA9 \xCE\xB8\xE2\x89\xA4" "1\n")}},
        {"extract a group", {File("g.89g", AbcGroup({"a", "b"}))}, {"-x", "g.89g"}, 0, "", "",
         {TextFile("a.txt", "abc"), TextFile("b.txt", "abc")}},
        {"extract a group to one out.txt", {File("g.89g", AbcGroup({"a", "b"}))},
         {"-x", "g.89g", "o.txt"}, 1, "ERROR: g.89g holds 2 text variables, so out.txt cannot be given\n", ""},
        {"extract a group with two of one name", {File("g.89g", AbcGroup({"a", "b", "a"}))},
         {"-x", "g.89g"}, 6, "ERROR: g.89g: two text variables named a\n", ""},
        {"extract with a model", {File("abc.89t", abc_89t)}, {"-x", "-m", "92", "abc.89t"}, 1,
         "ERROR: -m does not go with -x\n", ""},
        {"extract with three operands", {}, {"-x", "a", "b", "c"}, 1,
         "Usage: sorvel -x file.89t [out.txt]\n", ""},
        {"extract a missing file", {}, {"-x", "no.89t"}, 2, "ERROR: unable to open no.89t\n", ""},
        {"extract a cut file", {File("t.89t", abc_89t.substr(0, 97))}, {"-x", "t.89t"}, 6,
         "ERROR: t.89t: file size field disagrees with the file's length\n", ""},
        {"extract a wrong checksum", {File("c.89t", abc_89t.substr(0, 97) + "\x03")}, {"-x", "c.89t"},
         6, "ERROR: c.89t: wrong checksum\n", ""},
        {"extract no text", {File("x.89t", Image("x", "\x5F\0\0\0"s, "\x00\x05"s,
                                                 "\x00\x01\x20\x00\xE1"s, "\x07\x01"s))},
         {"-x", "x.89t"}, 6, "ERROR: x.89t: no text variable\n", ""},
        {"extract a name that leaves the directory", {File("e.89t", AbcImage("../x"))},
         {"-x", "e.89t"}, 6, "ERROR: e.89t: variable name ../x is no safe file name; give out.txt\n",
         ""},
        {"extract that name to out.txt", {File("e.89t", AbcImage("../x"))}, {"-x", "e.89t", "o.txt"},
         0, "", "", {TextFile("o.txt", "abc")}},
        {"full device", {abc, Link("v.89t", "/dev/full")}, {"abc.txt", "v"}, 5,
         "ERROR: unable to write v.89t\n", ""},
        {"output that cannot be opened for writing, even by root",
         {abc, Link("v.89t", "/sys/devices/system/cpu/online")}, {"abc.txt", "v"}, 5,
         "ERROR: unable to create v.89t\n", ""},
        {"link followed, its target replaced, its mode kept",
         {abc, Dir("d"), File("d/t", "old", fs::perms(0640)), Link("abc.89t", "d/t")}, {"abc.txt"},
         0, "", "", {File("d/t", abc_89t, fs::perms(0640))}},
        {"write that fails leaves no file", {abc}, {"abc.txt"}, 5,
         "ERROR: unable to write abc.89t\n", "", {}, 50},
        {"write that fails keeps the old file", {abc, File("abc.89t", "old")}, {"abc.txt"}, 5,
         "ERROR: unable to write abc.89t\n", "", {}, 50},
        {"write that fails keeps the input that is the output", {File("x.89t", "abc")},
         {"x.89t"}, 5, "ERROR: unable to write x.89t\n", "", {}, 50},
        {"write that fails leaves a link's target alone",
         {abc, Dir("d"), File("d/t", "old"), Link("abc.89t", "d/t")}, {"abc.txt"}, 5,
         "ERROR: unable to write abc.89t\n", "", {}, 50},
    };
}

// The Windows program replaces a link to a missing file, and has no permission bits.
std::vector<Case> LinuxCases()
{
    const auto abc = File("abc.txt", "abc");
    return {
        {"link to a missing file creates it", {abc, Dir("d"), Link("abc.89t", "d/t")}, {"abc.txt"},
         0, "", "", {File("d/t", AbcImage("abc"))}},
        {"wildcards are the shell's", {File("notes.txt", "Hi\r\n")}, {"*.txt"}, 2,
         "ERROR: unable to open *.txt\n", ""},
    };
}

// The Windows program expands wildcards itself, as its shell does not.
std::vector<Case> WindowsCases()
{
    return {
        {"wildcard expanded", {File("notes.txt", "abc")}, {"*.txt"}, 0, "", "",
         {File("notes.89t", AbcImage("notes"))}},
        {"wildcard matching nothing", {}, {"*.txt"}, 2, "ERROR: unable to open *.txt\n", ""},
    };
}

TEST(EndToEnd, Table)
{
    for (const Case& c : Cases())
        Check(c);
    for (const Case& c : g_windows ? WindowsCases() : LinuxCases())
        Check(c);
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    int first = 1;
    if (argc > 1 && argv[1] == "--windows"s) {
        g_windows = true;
        ++first;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [--windows] PROGRAM [ARG...]\n", argv[0]);
        return 2;
    }
    for (int i = first; i < argc; ++i)
        g_command.push_back(i == first ? fs::absolute(argv[i]).string() : argv[i]);
    return RUN_ALL_TESTS();
}
