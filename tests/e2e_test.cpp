// Runs the program under test in a scratch directory per case and checks its exit status,
// standard output and error, and every file it leaves; expected files are pieced together by
// hand or made by TiLP's libraries, and libtifiles2 reads each calculator file expected.
//     sorvel_e2e_tests [--windows | --node] PROGRAM [ARG...]
// With --windows, PROGRAM is wine and the Windows program: lines end in CR LF, and a run that
// wine failed to start (status 1 without a byte of output, which the program never gives)
// is made once more. With --node, PROGRAM is Node.js and the program built for it with
// Emscripten: the rows marked not_node are left out.
#include <gtest/gtest.h>

#define restrict __restrict  // TiLP's headers are written for C99
#include <ticonv.h>
#include <tifiles.h>
#undef restrict

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::string g_command;  // runs the program under test, quoted for the shell
bool g_windows = false;
bool g_node = false;

struct Entry {
    enum Kind { file, dir, link, text } kind;  // a text's lines end as the system's do
    std::string path;                          // relative to the scratch directory
    std::string bytes;                         // a file's content, or a link's target
    int mode = 0;                              // a file's permission bits, where they matter
};
Entry File(std::string path, std::string bytes, int mode = 0)
{
    return {Entry::file, path, bytes, mode};
}
Entry Text(std::string path, std::string bytes) { return {Entry::text, path, bytes}; }
Entry Dir(std::string path) { return {Entry::dir, path, ""}; }
Entry Link(std::string path, std::string target) { return {Entry::link, path, target}; }

struct Case {
    const char* what;
    std::vector<Entry> before;
    std::vector<std::string> args;  // with no single quote
    int status;
    std::string out;                // ending in "...", the start of the output
    std::string err = "";
    std::vector<Entry> made = {};   // files added to or replacing `before` afterwards
    std::string shell = "";         // shell words before the program (a limit, a pipe into it), or
                                    // around it, standing for it as @
    // The program for Node.js reads no pipe to its end, a signal ends Node.js rather than the
    // program in it, its file layer writes no FIFO and its arguments are UTF-16 (no bytes that
    // are not UTF-8): rows that need any of these are marked not_node.
    enum Builds { every, not_node } builds = every;
};

std::string Slurp(const fs::path& path)
{
    std::ostringstream all;
    all << std::ifstream(path, std::ios::binary).rdbuf();
    return all.str();
}

std::string ConsoleLines(std::string s)
{
    for (std::size_t at = 0; g_windows && (at = s.find('\n', at)) != std::string::npos; at += 2)
        s.insert(at, 1, '\r');
    return s;
}

// Each entry under `dir` by its path: "file " and its bytes, "dir", or "-> " and its target.
std::map<std::string, std::string> Tree(const fs::path& dir)
{
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        tree[e.path().lexically_relative(dir).string()] =
            e.is_symlink() ? "-> " + fs::read_symlink(e.path()).string()
            : e.is_directory() ? "dir" : "file " + Slurp(e.path());
    return tree;
}

// Reports each entry that `got` lacks, adds or holds otherwise than `want`, a file by its sizes and
// the first offset at which its bytes differ.
void ExpectSameTree(const std::map<std::string, std::string>& got,
                    const std::map<std::string, std::string>& want)
{
    for (const auto& [path, entry] : want)
        if (!got.contains(path))
            ADD_FAILURE() << path << ": missing";
    for (const auto& [path, entry] : got) {
        const auto w = want.find(path);
        if (w == want.end()) {
            ADD_FAILURE() << path << ": not expected";
        } else if (entry != w->second) {
            const std::size_t at = std::mismatch(entry.begin(), entry.end(), w->second.begin(),
                                                 w->second.end()).first - entry.begin();
            if (entry.starts_with("file ") && w->second.starts_with("file "))
                ADD_FAILURE() << path << ": " << entry.size() - 5 << " bytes, not "
                              << w->second.size() - 5 << "; the first difference at offset "
                              << at - 5;
            else
                ADD_FAILURE() << path << ": " << entry.substr(0, 80) << ", not "
                              << w->second.substr(0, 80);
        }
    }
}

// libtifiles2 reads a calculator file that the program is to write, of the model its extension
// names (a Voyage 200 file has the TI-92 Plus signature): one text variable with its name, folder,
// attribute and data, or a group whose text variables each hold data framed in the file.
void CheckWithLibtifiles2(const Entry& e, const fs::path& dir)
{
    const std::map<std::string, CalcModel> models = {
        {".89t", CALC_TI89}, {".92t", CALC_TI92}, {".9xt", CALC_TI92P}, {".v2t", CALC_TI92P},
        {".89g", CALC_TI89}, {".92g", CALC_TI92}, {".9xg", CALC_TI92P}, {".v2g", CALC_TI92P}};
    const auto model = models.find(fs::path(e.path).extension().string());
    if (e.kind != Entry::file || model == models.end())
        return;
    const std::string path = (dir / ("image" + model->first)).string();
    std::ofstream(path, std::ios::binary) << e.bytes;
    FileContent* content = tifiles_content_create_regular(CALC_NONE);
    ASSERT_EQ(tifiles_file_read_regular(path.c_str(), content), 0) << e.path;
    EXPECT_EQ(content->model, model->second) << e.path;
    const bool group = model->first.back() == 'g';
    ASSERT_TRUE(group ? content->num_entries >= 1 : content->num_entries == 1) << e.path;
    for (unsigned i = 0; i < content->num_entries; ++i) {
        const VarEntry* v = content->entries[i];
        const std::string data(reinterpret_cast<const char*>(v->data), v->size);
        EXPECT_EQ(v->type, 0x0C);
        if (group) {
            EXPECT_NE(e.bytes.find(data), std::string::npos) << e.path << ": " << v->name;
            continue;
        }
        EXPECT_STREQ(v->name, e.bytes.substr(64, 8).c_str());
        EXPECT_STREQ(v->folder, e.bytes.substr(10, 8).c_str());
        EXPECT_EQ(v->attr, static_cast<unsigned char>(e.bytes[73]));
        EXPECT_EQ(data, e.bytes.substr(86, e.bytes.size() - 88));
    }
    tifiles_content_delete_regular(content);
}

void Check(const Case& c)
{
    SCOPED_TRACE(c.what);
    std::string templ = testing::TempDir() + "sorvel-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    const fs::path root = templ, dir = root / "scratch";
    fs::create_directory(dir);
    for (const Entry& e : c.before) {
        if (e.kind == Entry::dir)
            fs::create_directory(dir / e.path);
        else if (e.kind == Entry::link)
            fs::create_symlink(e.bytes, dir / e.path);
        else
            std::ofstream(dir / e.path, std::ios::binary) << e.bytes;
        if (e.mode)
            fs::permissions(dir / e.path, fs::perms(e.mode));
    }
    std::map<std::string, std::string> want = Tree(dir);
    for (const Entry& e : c.made) {
        want[e.path] = "file " + (e.kind == Entry::text ? ConsoleLines(e.bytes) : e.bytes);
        CheckWithLibtifiles2(e, root);
    }
    // Wine has no such signal to fail the write with a file-size limit.
    std::string run = g_command;
    for (const std::string& arg : c.args)
        run += " '" + arg + "'";
    const std::size_t at = c.shell.find('@');
    run = at == std::string::npos ? c.shell + run
                                  : c.shell.substr(0, at) + run + c.shell.substr(at + 1);
    const std::string command = "cd '" + dir.string() + "' && umask 022 && " +
                                (g_windows ? "trap '' XFSZ; " : "") + run + " >../out 2>../err";
    int status = WEXITSTATUS(std::system(command.c_str()));
    if (g_windows && status == 1 && Slurp(root / "out").empty() && Slurp(root / "err").empty())
        status = WEXITSTATUS(std::system(command.c_str()));
    EXPECT_EQ(status, c.status);
    const std::string out = ConsoleLines(c.out), got = Slurp(root / "out");
    EXPECT_EQ(got.substr(0, out.ends_with("...") ? out.size() - 3 : std::string::npos),
              out.substr(0, out.ends_with("...") ? out.size() - 3 : std::string::npos));
    EXPECT_EQ(Slurp(root / "err"), ConsoleLines(c.err));
    ExpectSameTree(Tree(dir), want);
    for (const Entry& e : c.made)
        if (e.mode && !g_windows)
            EXPECT_EQ(static_cast<int>(fs::status(dir / e.path).permissions()), e.mode) << e.path;
    fs::remove_all(root);
}

std::string LE(std::size_t value, int bytes)
{
    std::string le;
    for (int i = 0; i < bytes; ++i)
        le += static_cast<char>(value >> 8 * i);
    return le;
}

// A file image pieced together from hand-computed fields.
std::string Image(std::string name, std::string file_size, std::string data_size,
                  std::string data, std::string checksum, std::string signature = "**TI89**")
{
    name.resize(8, '\0');
    return signature + "\x01\x00main"s + std::string(44, '\0') + "\x01\x00\x52\x00\x00\x00"s +
           name + "\x0C\x00\x03\x00"s + file_size + "\xA5\x5A\x00\x00\x00\x00"s + data_size + data +
           checksum;
}

// The image of a text variable named `name` whose first line type and text are `stored`: its
// sizes and checksum summed here, as the worked examples below check.
std::string ImageOf(const std::string& name, const std::string& stored,
                    const std::string& signature = "**TI89**")
{
    const std::string data = "\x00\x01"s + stored + "\x00\xE0"s;
    const std::string size = {char(data.size() >> 8), char(data.size())};
    std::size_t sum = 0;
    for (const char b : size + data)
        sum += static_cast<unsigned char>(b);
    return Image(name, LE(data.size() + 90, 4), size, data, LE(sum, 2), signature);
}

// A group file of text variables named `names`, each holding the letters abc: its entries,
// then its size, the marker and one 16-byte data block for each.
std::string AbcGroup(const std::vector<std::string>& names)
{
    const std::size_t n = names.size(), first = 66 + 16 * n;
    std::string group = "**TI89**\x01\x00main"s + std::string(44, '\0') + LE(n, 2), blocks;
    for (std::size_t i = 0; i < n; ++i)
        group +=
            LE(first + 16 * i, 4) + (names[i] + std::string(8, '\0')).substr(0, 8) + "\x0C\0\0\0"s;
    for (std::size_t i = 0; i < n; ++i)
        blocks += "\0\0\0\0\x00\x08\x00\x01\x20\x61\x62\x63\x00\xE0\x2F\x02"s;
    return group + LE(first + 16 * n, 4) + "\xA5\x5A" + blocks;
}

// `bytes` with `part` written over them from `at`.
std::string Set(std::string bytes, std::size_t at, const std::string& part)
{
    return bytes.replace(at, part.size(), part);
}

// `bytes` cut, or padded with zeros, to `size`, then byte `at` xor'ed with `flip`.
std::string Broken(std::string bytes, std::size_t size, std::size_t at = 0, char flip = 0)
{
    bytes.resize(size);
    bytes[at] ^= flip;
    return bytes;
}

// t.txt holding `raw`, converted with `options`, stores `stored` as its first line type and text.
Case Stores(const char* what, std::vector<std::string> options, std::string raw, std::string stored)
{
    options.push_back("t.txt");
    return {what, {File("t.txt", raw)}, options, 0, "", "", {File("t.89t", ImageOf("t", stored))}};
}

// The next steps after refusals, on standard error, as rows below expect them.
const std::string kGiveR = "hint: give -r to store each character the calculator lacks as the "
                           "closest it has\n";
const std::string kNotUtf8 = "hint: this text is not UTF-8: give --encoding=windows-1252 "
                             "(Windows' \"ANSI\") or --encoding=auto\n";
const std::string kNul = "hint: a text holds no NUL: this may be UTF-16 (give --encoding=utf-16) "
                         "or no text\n";
const std::string kGiveS = "hint: give -s to cut it at line breaks into as many variables as it "
                           "needs\n";
const std::string kDamaged = "hint: the file is damaged: take it from the calculator, or from "
                             "where it came, again\n";
const std::string kNoText = "hint: -x takes text variables alone: send the file to the calculator "
                            "as it is\n";
const std::string kNameStep = "hint: give a name of up to 8 of the calculator's characters, such "
                              "as notes\n";
const std::string kTwoTexts = "hint: two texts cannot go to one file: rename one of them on the "
                              "calculator and take the file again\n";
const std::string kHelp = "hint: sorvel --help lists every option\n";
const std::string kTakes = "hint: sorvel --help says what each option takes\n";

// The next step after `path` was not written, for the system's reason `why` (`windows_why`
// under wine).
std::string NotWritten(std::string path, std::string why, std::string windows_why = "")
{
    return "hint: " + path + ": " + (g_windows ? windows_why : why) +
           "; nothing was written, every file is as it was\n";
}

// t.txt holding `raw` is refused with -u at `where`, for a reason, with the next step `hint`.
Case Refuses(const char* what, std::string raw, std::string where, std::string hint)
{
    return {what, {File("t.txt", raw)}, {"-u", "t.txt"}, 6, "ERROR: t.txt:" + where + "\n", hint};
}

// t.txt holding `raw` is refused with -u at `where` as malformed, its first bytes `bytes`.
Case Malformed(const char* what, std::string raw, std::string where, std::string bytes)
{
    return Refuses(what, raw, where + ": malformed UTF-8: " + bytes, kNotUtf8);
}

// t.txt holding `raw` is refused with -u at `where` for a `character` the calculator lacks.
Case Lacks(const char* what, std::string raw, std::string where, std::string character)
{
    return Refuses(what, raw, where + ": no calculator character for " + character, kGiveR);
}

// t.txt holding `raw`, converted with `options`, is too big; the next step `hint` with options.
Case TooBig(const char* what, std::vector<std::string> options, std::string raw,
            std::string hint = "")
{
    options.push_back("t.txt");
    return {what, {File("t.txt", raw)}, options, 3, "ERROR: text file too big\n", hint};
}

// f.89t holding `bytes` is refused by -x for `why`, with the next step `hint`.
Case Unreadable(const char* what, std::string bytes, std::string why, std::string hint)
{
    return {what, {File("f.89t", bytes)}, {"-x", "f.89t"}, 6, "ERROR: f.89t: " + why + "\n", hint};
}

struct Var {
    const char* folder;
    const char* name;
    unsigned char type;
    std::string data;
    unsigned char attr = 0;
};

// The file, with no comment, that TiLP's libtifiles2 writes for `vars` on `model`, and reads
// back as their folders, names, attributes and data.
std::string TifilesImage(CalcModel model, const std::vector<Var>& vars)
{
    tifiles_library_init();
    FileContent* content = tifiles_content_create_regular(model);
    std::strcpy(content->default_folder, "main");
    std::memset(content->comment, 0, sizeof content->comment);
    for (const Var& v : vars) {
        // libtifiles2 keeps the big-endian size field in front of the data.
        VarEntry* ve = tifiles_ve_create_alloc_data(v.data.size() + 2);
        std::strcpy(ve->folder, v.folder);
        std::strcpy(ve->name, v.name);
        ve->type = v.type;
        ve->attr = v.attr;
        ve->size = v.data.size() + 2;
        ve->data[0] = v.data.size() >> 8;
        ve->data[1] = v.data.size() & 0xFF;
        std::memcpy(ve->data + 2, v.data.data(), v.data.size());
        tifiles_content_add_entry(content, ve);
    }
    const std::string path = testing::TempDir() + "sorvel-e2e-tifiles-" + std::to_string(getpid()) +
                             "." + tifiles_fext_of_group(model);
    EXPECT_EQ(tifiles_file_write_regular(path.c_str(), content, nullptr), 0);
    tifiles_content_delete_regular(content);
    content = tifiles_content_create_regular(CALC_NONE);
    EXPECT_EQ(tifiles_file_read_regular(path.c_str(), content), 0);
    std::string read, written;
    for (unsigned i = 0; i < content->num_entries; ++i) {
        const VarEntry* v = content->entries[i];
        read += v->folder + "\\"s + v->name + " " + std::to_string(v->attr) +
                std::string(reinterpret_cast<char*>(v->data) + 2, v->size - 2);
        written += vars[i].folder + "\\"s + vars[i].name + " " + std::to_string(vars[i].attr) +
                   vars[i].data;
    }
    EXPECT_EQ(read, written);
    tifiles_content_delete_regular(content);
    const std::string image = Slurp(path);
    fs::remove(path);
    return image;
}

// The calculator's bytes 0x01 to 0xFF but the line breaks 0x0A and 0x0D, and their UTF-8 forms as
// libticonv gives them, but for three that it gets wrong: malformed surrogate pairs at 0x95
// (exponent E, U+1D07) and 0x97 (imaginary unit, U+1D456), and the acute accent at 0xB4 (inverse,
// superscript minus and one).
std::pair<std::string, std::string> EveryByte()
{
    std::string bytes, utf8;
    for (int b = 1; b < 256; ++b) {
        const char ti[2] = {static_cast<char>(b), 0};
        unsigned short* utf16 = ticonv_charset_ti_to_utf16(CALC_TI89, ti);
        char* theirs = ticonv_utf16_to_utf8(utf16);
        if (b != 0x0A && b != 0x0D) {
            bytes += static_cast<char>(b);
            utf8 += b == 0x95 ? "\xE1\xB4\x87" : b == 0x97 ? "\xF0\x9D\x91\x96"
                    : b == 0xB4 ? "\xE2\x81\xBB\xC2\xB9" : theirs;
        }
        ticonv_utf8_free(theirs);
        ticonv_utf16_free(utf16);
    }
    return {bytes, utf8};
}

const std::string kUsage = "Usage: sorvel file.txt [varname]\n";
const std::string kNoImage = "ERROR: out of memory\n";
// café θ≤1 and a line break
const std::string kCafe = "caf\xC3\xA9 \xCE\xB8\xE2\x89\xA4" "1\n";

const auto abc = File("abc.txt", "abc"), a600 = File("a.txt", std::string(600, 'a'));
// 0x00 + 0x08 + 0x00 + 0x01 + 0x20 + 0x61 + 0x62 + 0x63 + 0x00 + 0xE0 = 0x022F.
const std::string abc_89t =
    Image("abc", "\x62\0\0\0"s, "\x00\x08"s, "\x00\x01\x20\x61\x62\x63\x00\xE0"s, "\x2F\x02"s);
// 0xFF + 0xE8 + 0x00 + 0x01 + 0x20 + 65,507 * 0x61 + 0x00 + 0xE0 = 6,354,923, or 0xF7EB.
const std::string largest = Image("big", "\x42\x00\x01\x00"s, "\xFF\xE8"s,
    "\x00\x01\x20"s + std::string(65507, 'a') + "\x00\xE0"s, "\xEB\xF7"s);
// c a f é, space, θ ≤ 1, a line break; 0x00 + 0x0F + the 15 bytes of data = 0x04C5.
const std::string cafe_89t = Image("u", "\x69\0\0\0"s, "\x00\x0F"s,
    "\x00\x01\x20\x63\x61\x66\xE9\x20\x88\x9C\x31\x0D\x20\x00\xE0"s, "\xC5\x04"s);
const std::string a65525(65525, 'a'), lf32763(32763, '\n'), a65506(65506, 'a'), a40(40, 'a');
const auto repeat = [](std::string s, int n) { std::string all; while (n--) all += s; return all; };
const std::string accents = repeat("\xC3\xA9", 65507), e32765 = repeat("\xC3\xA9", 32765);
const std::string inverse8 = repeat("\xE2\x81\xBB\xC2\xB9", 8);  // eight times the inverse, ⁻¹
const auto limit = [](int n) {
    return "ERROR: length (" + std::to_string(n) + ") exceeds max. user data size (65512)\n";
};
const auto fails = [](std::string file) { return "ERROR: unable to write " + file + "\n"; };
const std::string group = AbcGroup({"a", "b"});  // its first data block from 98, 130 bytes in all

void CheckAll(const std::vector<Case>& cases)
{
    for (const Case& c : cases)
        if (!g_node || c.builds != Case::not_node)
            Check(c);
}

// The worked examples, field by field by hand.
TEST(EndToEnd, WorkedExamples)
{
    CheckAll({
        {"worked example, a new file's mode 0666 less the umask", {abc}, {"abc.txt"}, 0, "", "",
         {File("abc.89t", abc_89t, 0644)}},
        {"CR LF line break", {File("notes.txt", "Hi\r\n")}, {"notes.txt"}, 0, "", "",
         {File("notes.89t", Image("notes", "\x63\0\0\0"s, "\x00\x09"s,
         "\x00\x01\x20\x48\x69\x0D\x20\x00\xE0"s, "\xE8\x01"s))}},
        {"UTF-8 worked example", {File("u.txt", kCafe)}, {"-u", "u.txt"}, 0, "", "", {File("u.89t",
         cafe_89t)}},
        {"largest text", {File("big.txt", std::string(65507, 'a'))}, {"big.txt"}, 0, "", "",
         {File("big.89t", largest)}},
    });
}

// What each byte becomes.
TEST(EndToEnd, Bytes)
{
    CheckAll({
        Stores("bare LF, CR LF", {}, "Hi\nA\r\n", " Hi\r A\r "),
        Stores("lone CR, CR CR LF, LF CR", {}, "a\rb\r\r\n\n\rc", " a\rb\r\r \r \rc"),
        Stores("CR at the end", {}, "a\r", " a\r"),
        Stores("0xFF, NUL, tab, high bytes", {}, "a\xFF\0\t\x80\xFE\x7F"s, " a\0\0\t\x80\xFE\x7F"s),
        Stores("Ctrl-Z ends the text, a CR before it kept", {}, "a\r\x1A" "b\n", " a\r"),
        Stores("CR LF across a 16 KiB edge", {}, std::string(16383, 'a') + "\r\nb",
         " " + std::string(16383, 'a') + "\r b"),
    });
}

// In UTF-8: each character, or where and why it is refused.
TEST(EndToEnd, Utf8)
{
    const auto [every_byte, every_byte_utf8] = EveryByte();
    CheckAll({
        Stores("UTF-8: BOM, CR LF, page break, lone CR", {"-u"}, "\xEF\xBB\xBF" "a\r\n\fb\rc",
         " a\r\x0C" "b\r c"),
        Stores("UTF-8: pairs, plain equivalents, other forms, form feed", {"-u"},
         "x\xCC\x85 \xE2\x81\xBB\xC2\xB9 "
         "\xC2\xB9\xC2\xA0\xE2\x80\x98\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D"
         "\xE2\x80\x93\xE2\x80\x94\xC3\xBFx\xCC\x84\xCF\x91\f",
         " \x9A \xB4 \xB9 ''\"\"--\xFF\x9A\x88\x0C"),
        Stores("UTF-8: x bar at the limit", {"-u"}, a65506 + "x\xCC\x85", " " + a65506 + "\x9A"),
        Stores("UTF-8: page break at the limit", {"-u"}, a65506.substr(1) + "\n\x0C",
         " " + a65506.substr(1) + "\r\x0C"),
        Stores("UTF-8: every character, as libticonv has it", {"-u"}, every_byte_utf8,
         " " + every_byte),
        Malformed("malformed: a continuation that cannot continue", "ab\ncd\xC3(", "2:3", "C3"),
        Malformed("malformed: a stray continuation", "\xA9", "1:1", "A9"),
        Malformed("malformed: cut at the end", "a\xE2\x89", "1:2", "E2 89"),
        Malformed("malformed: cut before a letter", "\xF0\x9F\x98" "a", "1:1", "F0 9F 98"),
        Malformed("malformed: overlong of three bytes", "\xE0\x80\xAF", "1:1", "E0"),
        Malformed("malformed: a surrogate", "\xCE\xB8\xED\xA0\x80", "1:2", "ED"),
        Malformed("malformed: past U+10FFFF", "\xF4\x90\x80\x80", "1:1", "F4"),
        Lacks("missing character, after CR LF, a lone CR and a BOM", "\xEF\xBB\xBF"
         "a\r\nb\rc\xE2\x82\xAC", "3:2", "U+20AC (\xE2\x82\xAC)"),
        Lacks("missing character of four bytes", "\xF0\x9F\x98\x80", "1:1",
         "U+1F600 (\xF0\x9F\x98\x80)"),
        Lacks("missing character after a pair", "x\xCC\x85\xE2\x82\xAC", "1:3",
         "U+20AC (\xE2\x82\xAC)"),
        Lacks("almost a BOM", "\xEF\xBB\xBE", "1:1", "U+FEFE (\xEF\xBB\xBE)"),
        Lacks("not printable: C1 control", "\xC2\x85", "1:1", "U+0085"),
        Lacks("not printable: BOM later", "a\xEF\xBB\xBF", "1:2", "U+FEFF"),
        Refuses("NUL", "a\0"s, "1:2: NUL would end the text on the calculator", kNul),
        Refuses("a UTF-16 text", "\xFF\xFE" "a\0"s, "1:1: malformed UTF-8: FF",
                "hint: this text is UTF-16: give --encoding=utf-16 or --encoding=auto\n"),
        // The word-at-a-time path takes runs of plain text and common characters from 17 bytes on.
        Malformed("long text: C2 and no continuation", a40 + "\xC2\xC0" + a40, "1:41", "C2"),
        Malformed("long text: E2 96 and no continuation", a40 + "\xE2\x96\xC0" + a40, "1:41",
         "E2 96"),
        Malformed("long text: E2 89, a letter, a continuation", a40 + "\xE2\x89" "Z\xA4" + a40,
         "1:41", "E2 89"),
        Lacks("long text: a character from E0", a40 + "\xE0\xA4\x85" + a40, "1:41",
         "U+0905 (\xE0\xA4\x85)"),
        Lacks("a BOM where the second block is read",
         e32765 + "\xEF\xBB\xBF" + std::string(10, 'a'), "1:32766", "U+FEFF"),
        Malformed("refused before the limit", a65506 + "a\x80", "1:65508", "80"),
        // A letter and the marks after it are the calculator character they compose to (NFC).
        Stores("UTF-8: composed as written, e and U+0301, = and U+0338, A and U+0340", {"-u"},
         "\xC3\xA9" "e\xCC\x81 =\xCC\xB8 " + a40 + "A\xCD\x80", " \xE9\xE9 \x9D " + a40 + "\xC0"),
        Lacks("a mark that composes no calculator character, columns as written",
         "cafe\xCC\x81 r\xCC\x8C", "1:8", "U+030C"),
        Stores("UTF-8: equivalents", {"-u"},
         "\xE2\x80\x90\xE2\x80\x91\xE2\x80\x92\xE2\x81\x83\xCE\xBC\xC5\xBF\xEF\xBC\xA1\xE3\x80\x80"
         "\xE2\x84\xA6\xE2\x84\xAA\xE2\x80\x9A\xE2\x80\x9E\xE2\x80\x89\xCF\x96",
         " ----\xB5sA \x93K'\" \x8C"),
        {"-r: a Czech sentence, a mark, ZWSP, l with stroke, ij, euro", {File("t.txt",
         "P\xC5\x99\xC3\xADli\xC5\xA1 \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD "
         "k\xC5\xAF\xC5\x88 \xC3\xBAp\xC4\x9Bl \xC4\x8F\xC3\xA1" "belsk\xC3\xA9 \xC3\xB3"
         "dy r\xCC\x8C\xE2\x80\x8B\xC5\x82\xC4\xB3\xE2\x82\xAC")}, {"--replace", "t.txt"}, 0, "",
         "t.txt: 14 replaced: 1 \xC5\x99 as r, 1 \xC5\xA1 as s, 1 \xC5\xBE as z, \xE2\x80\xA6\n",
         {File("t.89t", ImageOf("t", " Pr\xEDlis zlutouck\xFD kun \xFApel d\xE1" "belsk\xE9 \xF3"
         "dy rlij?"))}},
        {"-r: box drawing, a bullet and a double arrow as the lines and signs closest to them",
         {File("t.txt",
         "\xE2\x94\x8C\xE2\x94\x80\xE2\x94\x90\n\xE2\x94\x82\xE2\x80\xA2\xE2\x94\x82 \xE2\x87\x92 "
         "x\n\xE2\x94\x94\xE2\x94\x80\xE2\x94\x98")}, {"-r", "t.txt"}, 0, "", "t.txt: 10 replaced: "
         "2 \xE2\x94\x80 as -, 2 \xE2\x94\x82 as |, 1 \xE2\x94\x8C as +, \xE2\x80\xA6\n",
         {File("t.89t", ImageOf("t", " +-+\r |\xB7| \x16 x\r +-+"))}},
        {"-r: malformed UTF-8 still refused", {File("t.txt", "\xC5\x99\xC3(")}, {"-r", "t.txt"}, 6,
         "ERROR: t.txt:1:2: malformed UTF-8: C3\n", kNotUtf8},
        TooBig("-r: cut where reading stops, in marks that store nothing", {"-r"},
         "a" + repeat("\xCC\x81", 200000), kGiveS),
        // Windows-1252 and UTF-16, by hand from Microsoft's cp1252 table and data/ti68k.tsv.
        Stores("Windows-1252: é, a dash, quotes, an ellipsis, CR LF", {"--encoding=windows-1252"},
               "caf\xE9 \x96 \x93x\x94\x85\r\n", " caf\xE9 - \"x\"\xA0\r "),
        {"Windows-1252: a byte it leaves undefined", {File("t.txt", "ab\n\x81")},
         {"--encoding=cp1252", "t.txt"}, 6, "ERROR: t.txt:2:1: undefined in Windows-1252: 81\n",
         "hint: this text is not Windows-1252: give --encoding=auto, or save it as UTF-8\n"},
        {"Windows-1252 with -r after it: oe as oe", {File("t.txt", "\x9C")},
         {"--encoding=windows-1252", "-r", "t.txt"}, 0, "",
         "t.txt: 1 replaced: 1 \xC5\x93 as oe\n",
         {File("t.89t", ImageOf("t", " oe"))}},
        Stores("UTF-16 little-endian: theta, LF", {"--encoding=utf-16"},
               "\xFF\xFE" "a\0\xB8\x03\n\0"s, " a\x88\r "),
        Stores("UTF-16 big-endian: a surrogate pair", {"--encoding=UTF-16"},
               "\xFE\xFF\0a\xD8\x35\xDC\x56"s, " a\x97"),
        {"UTF-16: a lone surrogate", {File("t.txt", "\xFF\xFE" "a\0\0\xD8"s)}, {"--encoding=utf16",
         "t.txt"}, 6, "ERROR: t.txt:1:2: malformed UTF-16: D800\n",
         "hint: this text is not UTF-16: give --encoding=auto, or save it as UTF-8\n"},
        // Superscripts as an exponent, whole when the calculator lacks one, the inverse kept; a
        // subscript, fractions (after a digit, added to it); the kinds most frequent first.
        {"-r: physics notes", {File("t.txt", "E = mc\xC2\xB2 \xE2\x95\x90 10"
         "\xE2\x81\xBB\xE2\x81\xB7 J, x\xC2\xB2\xE2\x81\xB0, 10\xE2\x81\xBB\xC2\xB9\xE2\x81\xB0, x"
         "\xE2\x81\xBB\xC2\xB9, x\xE2\x81\xBF\xE2\x81\xBA\xC2\xB9, x\xE2\x82\x80\xE2\x80\x8B "
         "\xE2\x95\x90 1\xC2\xBD \xC2\xBD\xE2\x80\x8B")}, {"-r", "t.txt"}, 0, "", "t.txt: 11 "
         "replaced: 2 \xE2\x95\x90 as =, 2 U+200B dropped, 2 \xC2\xBD as 1/2, \xE2\x80\xA6\n",
         {File("t.89t", ImageOf("t", " E = mc\xB2 = 10^-7 J, x^20, 10^-10, x\xB4, x^(n+1), "
                                     "x0 = 1+1/2 1/2"))}},
    });
}

// Names and output paths.
TEST(EndToEnd, Names)
{
    CheckAll({
        {"name cut to 8 bytes", {File("chapter12.txt", "abc")}, {"chapter12.txt"}, 0, "", "",
         {File("chapter1.89t", ImageOf("chapter1", " abc"))}},
        {"name of 7 bytes before its dot", {File("chapter.txt", "abc")}, {"chapter.txt"}, 0, "", "",
         {File("chapter.89t", ImageOf("chapter", " abc"))}},
        {"name without a dot", {File("readme", "abc")}, {"readme"}, 0, "", "", {File("readme.89t",
         ImageOf("readme", " abc"))}},
        {"empty name from ./", {abc}, {"./abc.txt"}, 0, "", "", {File(".89t", ImageOf("",
         " abc"))}},
        {"directory part kept", {Dir("docs"), File("docs/a.txt", "abc")}, {"docs/a.txt"}, 0, "", "",
         {File("docs/a.89t", ImageOf("docs/a", " abc"))}},
        {"given name cut, case kept", {abc}, {"abc.txt", "VeryLongName"}, 0, "", "",
         {File("VeryLong.89t", ImageOf("VeryLong", " abc"))}},
        {"given name with a dot and a space", {abc}, {"abc.txt", "my.v r"}, 0, "", "",
         {File("my.v r.89t", ImageOf("my.v r", " abc"))}},
        {"given name with a directory", {abc, Dir("d")}, {"abc.txt", "d/f"}, 0, "", "",
         {File("d/f.89t", ImageOf("d/f", " abc"))}},
        {"input named by its own characters", {File("Ωmega.txt", "abc"), File("Omega.txt", "x")},
         {"Ωmega.txt", "om"}, 0, "", "", {File("om.89t", ImageOf("om", " abc"))}},
        {"input is the output", {File("x.89t", "abc")}, {"x.89t"}, 0, "", "", {File("x.89t",
         ImageOf("x", " abc"))}},
        {"UTF-8 name", {abc}, {"--utf8", "abc.txt", "\xCE\xB8"}, 0, "", "", {File("\xCE\xB8.89t",
         ImageOf("\x88", " abc"))}},
        {"UTF-8 name ending in a pair", {abc}, {"-u", "abc.txt", "abcdefgx\xCC\x85z"}, 0, "", "",
         {File("abcdefgx\xCC\x85.89t", ImageOf("abcdefg\x9A", " abc"))}},
        {"UTF-8 name: no replacement with -r", {abc}, {"-r", "abc.txt", "\xC5\x99"}, 6,
         "ERROR: variable name \xC5\x99: no calculator character for U+0159 (\xC5\x99)\n",
         kNameStep},
        {"UTF-8 name refused", {abc}, {"-u", "abc.txt", "\xE2\x82\xAC"}, 6, "ERROR: variable name "
         "\xE2\x82\xAC: no calculator character for U+20AC (\xE2\x82\xAC)\n", kNameStep},
        {"UTF-8 name with a line break, shown by its first 64 bytes", {abc}, {"-u", "abc.txt",
         "a\n" + std::string(63, 'b')}, 6, "ERROR: variable name \"a\\x0A" + std::string(62, 'b') +
         "...\": control character U+000A\n", kNameStep},
        {"UTF-8 name with a line break, of 64 bytes, shown whole", {abc}, {"-u", "abc.txt",
         "a\n" + std::string(62, 'b')}, 6,
         "ERROR: variable name \"a\\x0A" + std::string(62, 'b') + "\": control character U+000A\n",
         kNameStep},
        {"each: a name the calculator keeps passed over, and said; -v lists the file",
         {File("sin.txt", "a")}, {"-e", "-v", "sin.txt"}, 0, "sin.txt -> sin1.89t (sin1)\n",
         "sin.txt: sin is a name the calculator keeps for itself; named sin1\n", {File("sin1.89t",
         ImageOf("sin1", " a"))}},
        {"a name given that the calculator keeps", {abc}, {"-u", "abc.txt", "Ans"}, 0, "",
         "Ans.89t: Ans is a name the calculator keeps for itself, which it may refuse; "
         "give another name\n",
         {File("Ans.89t", ImageOf("Ans", " abc"))}},
    });
}

// Options.
TEST(EndToEnd, Options)
{
    CheckAll({
        {"no operand", {}, {}, 1, kUsage},
        {"three operands", {abc}, {"-u", "abc.txt", "x", "y"}, 1, kUsage, "hint: give one text "
         "file and maybe its variable name; for several, give --each or -g file.89g\n"},
        {"help", {}, {"-u", "--help", "-q"}, 0, "Usage: sorvel [options] file.txt [varname]\n..."},
        {"version", {}, {"-V"}, 0, "sorvel 0.2.0\n"},
        {"model 92", {abc}, {"-m", "92", "abc.txt"}, 0, "", "", {File("abc.92t", ImageOf("abc",
         " abc", "**TI92**"))}},
        {"model 92p, after the operand", {abc}, {"abc.txt", "--model=92p"}, 0, "", "",
         {File("abc.9xt", ImageOf("abc", " abc", "**TI92P*"))}},
        {"model v200", {abc}, {"--model", "v200", "abc.txt"}, 0, "", "", {File("abc.v2t",
         ImageOf("abc", " abc", "**TI92P*"))}},
        {"unknown model", {abc}, {"-m", "93", "abc.txt"}, 1,
         "ERROR: unknown model 93 (89, 92, 92p or v200)\n"},
        {"model without its value", {abc}, {"abc.txt", "-m"}, 1, "ERROR: option -m needs a value\n",
         kTakes},
        {"long model option without its value", {abc}, {"abc.txt", "--model"}, 1,
         "ERROR: option --model needs a value\n", kTakes},
        {"the first wrong option decides", {abc}, {"-q", "-m", "93", "abc.txt"}, 1,
         "ERROR: unknown option -q\n", kHelp},
        {"every model checked", {abc}, {"-m", "92", "-m", "93", "abc.txt"}, 1,
         "ERROR: unknown model 93 (89, 92, 92p or v200)\n"},
        {"a value to an option that takes none", {abc}, {"--utf8=yes", "abc.txt"}, 1,
         "ERROR: option --utf8 takes no value\n", "hint: give --utf8 alone\n"},
        {"unknown long option", {abc}, {"abc.txt", "--frob"}, 1, "ERROR: unknown option --frob\n",
         kHelp},
        {"unknown long option that starts as one, with a value", {abc}, {"--helpx=1", "abc.txt"}, 1,
         "ERROR: unknown option --helpx=1\n", kHelp},
        {"a short option with =", {abc}, {"-u=yes", "abc.txt"}, 1, "ERROR: unknown option -=\n",
         kHelp},
        {"a value missing after joined short options", {abc}, {"abc.txt", "-um"}, 1,
         "ERROR: option -m needs a value\n", kTakes},
        {"-- ends the options", {File("-n.txt", "abc")}, {"--", "-n.txt"}, 0, "", "",
         {File("-n.89t", ImageOf("-n", " abc"))}},
        {"-each: a long option with one dash", {abc}, {"-each", "abc.txt"}, 1,
         "ERROR: unknown option -c\n",
         "hint: -each looks like --each: a long option takes two dashes\n"},
        {"a file named as an option", {abc, File("-dash.txt", "x")}, {"-u", "abc.txt",
         "-dash.txt"}, 1, "ERROR: unknown option -d\n", "hint: -dash.txt is taken for options: put "
         "-- before the file names, or write it ./-dash.txt\n"},
        {"-F without -x", {abc}, {"abc.txt", "-F"}, 1, "ERROR: -F goes only with -x\n",
         "hint: -F lets -x replace a text file that exists: leave it out\n"},
        {"unknown encoding", {abc}, {"--encoding=latin2", "abc.txt"}, 1,
         "ERROR: unknown encoding latin2 (utf-8, windows-1252, utf-16, auto or calculator)\n"},
        {"-x writes no Windows-1252", {abc}, {"-x", "--encoding=windows-1252", "a.89t"}, 1,
         "ERROR: --encoding=windows-1252 does not go with -x\n", "hint: -x writes UTF-8 with -u, "
         "or the calculator's bytes without it: leave out --encoding\n"},
        Stores("the calculator's bytes, as with no option", {"--encoding=Calculator"},
               "\xE9\xFF\r\n", " \xE9\0\r "s),
    });
}

// Size limits: every line break counts twice.
TEST(EndToEnd, SizeLimits)
{
    CheckAll({
        {"one byte more than the writer takes", {File("big.txt", std::string(65508, 'a'))},
         {"big.txt"}, 4, kNoImage, limit(65513)},
        {"largest the encoder takes, by its line breaks", {File("big.txt", lf32763 + "a"),
         File("big.89t", "old")}, {"big.txt"}, 4, kNoImage, limit(65532)},
        {"Ctrl-Z in time", {File("big.txt", a65525 + "aa\x1A" + a65525)}, {"big.txt"}, 4, kNoImage,
         limit(65532)},
        {"too big, the old output kept", {File("t.txt", a65525 + "aaa"), File("t.89t", "old")},
         {"t.txt"}, 3, "ERROR: text file too big\n"},
        TooBig("too big by its line breaks", {}, lf32763 + "\n"),
        TooBig("UTF-8 too big, at the writer's limit", {"-u"}, std::string(65508, 'a'), kGiveS),
        TooBig("UTF-8: a line break past the limit", {"-u"}, a65506 + "\n", kGiveS),
        TooBig("UTF-8: one accent more", {"-u"}, accents + "\xC3\xA9", kGiveS),
        TooBig("UTF-8: too big before a refusal", {"-u"}, a65506 + "aa\x80", kGiveS),
        {"endless input", {}, {"/dev/zero", "z"}, 3, "ERROR: text file too big\n"},
    });
}

// Inputs that cannot be read.
TEST(EndToEnd, Inputs)
{
    CheckAll({
        {"missing input in a directory", {}, {"no/such.txt"}, 2,
         "ERROR: unable to open no/such.txt\n"},
        {"path with format directives", {}, {"%s%n%x.txt"}, 2,
         "ERROR: unable to open %s%n%x.txt\n"},
        {"directory as input", {Dir("docs")}, {"docs", "n"}, 2, "ERROR: unable to open docs\n"},
        {"directory as UTF-8 input, or to extract", {Dir("d")}, {"-x", "-u", "d"}, 2,
         "ERROR: unable to open d\n"},
        {"a variable file is not a text", {File("t.89t", abc_89t)}, {"t.89t"}, 6,
         "ERROR: t.89t is a variable file; give -x to take its text out\n"},
        {"nor with -r, whatever its name", {File("t.txt", ImageOf("t", " abc", "**TI92P*"))}, {"-r",
         "t.txt", "t"}, 6, "ERROR: t.txt is a variable file; give -x to take its text out\n"},
        {"nor in a group of its own name", {abc, File("a.89g", group)}, {"-g", "a.89g", "abc.txt",
         "a.89g"}, 6, "ERROR: a.89g is a variable file; give -x to take its text out\n",
         "hint: -g takes text files: leave out the variable files, whose texts sorvel -x takes "
         "out\n"},
        {"nor to split", {File("t.txt", "**V200**abc")}, {"-s", "t.txt"}, 6,
         "ERROR: t.txt is a variable file; give -x to take its text out\n"},
    });
}

// Outputs: created, refused, replaced whole or left alone.
TEST(EndToEnd, Outputs)
{
    CheckAll({
        {"output directory missing", {abc}, {"abc.txt", "no/a"}, 5,
         "ERROR: unable to create no/a.89t\n"},
        {"output no one may write", {abc, Link("v.89t", "/sys/devices/system/cpu/online")},
         {"abc.txt", "v"}, 5, "ERROR: unable to create v.89t\n"},
        {"full device", {abc, Link("v.89t", "/dev/full")}, {"abc.txt", "v"}, 5, fails("v.89t")},
        {"link followed, its target replaced, its mode kept", {abc, Dir("d"), File("d/t",
         "old", 0640), Link("abc.89t", "d/t")}, {"abc.txt"}, 0, "", "", {File("d/t",
         abc_89t, 0640)}},
        {"set-user and set-group bits dropped", {abc, File("abc.89t", "old", 06755)},
         {"abc.txt"}, 0, "", "", {File("abc.89t", abc_89t, 0755)}},
        // A file-size limit of 512 bytes fails each write of more.
        {"write that fails leaves no file", {a600}, {"a.txt"}, 5, fails("a.89t"), "", {},
         "ulimit -f 1; "},
        {"write that fails keeps the old file", {a600, File("a.89t", "old")}, {"a.txt"}, 5,
         fails("a.89t"), "", {}, "ulimit -f 1; "},
        {"write that fails keeps the input that is the output", {File("x.89t",
         std::string(600, 'a'))}, {"x.89t"}, 5, fails("x.89t"), "", {}, "ulimit -f 1; "},
        {"write that fails leaves a link's target alone", {a600, Dir("d"), File("d/t", "old"),
         Link("a.89t", "d/t")}, {"a.txt"}, 5, fails("a.89t"), "", {}, "ulimit -f 1; "},
        {"extract over a file that is kept when the write fails", {File("a.89t", ImageOf("a",
         " " + std::string(600, 'a'))), File("a.txt", "old")}, {"-x", "-F", "a.89t"}, 5,
         fails("a.txt"), NotWritten("a.txt", "File too large", "General failure"), {},
         "ulimit -f 1; "},
        {"extract keeps a file of the default name", {File("abc.89t", abc_89t), File("abc.txt",
         "old")}, {"-x", "abc.89t"}, 5,
         "ERROR: abc.txt exists; give out.txt, or --force to replace it\n"},
        {"extract replaces it with --force", {File("abc.89t", abc_89t), File("abc.txt", "old")},
         {"-x", "--force", "abc.89t"}, 0, "", "", {Text("abc.txt", "abc")}},
        {"extract to standard output", {File("abc.89t", abc_89t)}, {"-x", "abc.89t", "-"}, 0,
         "abc"},
        {"extract to standard output: a failure's line on standard error", {}, {"-x", "missing.89t",
         "-"}, 2, "", "ERROR: unable to open missing.89t\n"},
        {"extract a group: every name checked before anything is written", {File("g.89g",
         AbcGroup({"a", "b", "c"})), File("c.txt", "old")}, {"-x", "g.89g"}, 5,
         "ERROR: c.txt exists; give --force to replace it\n"},
        {"extract a group with a member blocked: nothing replaced", {File("g.89g", AbcGroup({"a",
         "b", "c"})), File("a.txt", "old"), Dir("b.txt")}, {"-x", "-F", "g.89g"}, 5,
         "ERROR: unable to create b.txt\n", NotWritten("b.txt", "Is a directory", "Access denied")},
    });
}

// Back to text.
TEST(EndToEnd, Extract)
{
    const auto [every_byte, every_byte_utf8] = EveryByte();
    // A command line, a page break, a line of another type, non-ASCII bytes, a NUL in the text.
    const Var notes = {"main", "notes", 0x0C,
                       "\x00\x07" "CDisp 1\r\x0Cpage\r\xE9t\r caf\xE9 \x00!\x00\xE0"s};
    const std::string notes_text = "CDisp 1\n\fpage\n\xE9t\ncaf\xE9 \x00!"s;
    CheckAll({
        {"extract lines, a page break, a command line", {File("n.89t", ImageOf("n",
         " Hi\r\x0Cpage\rCx\xE9"))}, {"--extract", "n.89t", "out.txt"}, 0, "", "", {Text("out.txt",
         "Hi\n\fpage\nCx\xE9")}},
        {"extract 61 bytes of data, a checksum over 63", {File("n.89t", ImageOf("n",
         " " + std::string(56, 'a')))}, {"-x", "n.89t"}, 0, "", "", {Text("n.txt",
         std::string(56, 'a'))}},
        {"extract the largest", {File("big.89t", largest)}, {"-x", "big.89t"}, 0, "", "",
         {Text("big.txt", std::string(65507, 'a'))}},
        {"extract every byte in UTF-8, as libticonv has it", {File("e.89t", ImageOf("e",
         " " + every_byte))}, {"-x", "-u", "e.89t"}, 0, "", "", {Text("e.txt", every_byte_utf8)}},
        {"extract files libtifiles2 writes: TI-89", {File("n.89t", TifilesImage(CALC_TI89,
         {notes}))}, {"-x", "n.89t"}, 0, "", "", {Text("notes.txt", notes_text)}},
        {"extract files libtifiles2 writes: TI-92", {File("n.92t", TifilesImage(CALC_TI92,
         {notes}))}, {"-x", "n.92t"}, 0, "", "", {Text("notes.txt", notes_text)}},
        // libtifiles2 writes a Voyage 200 file just as a TI-92 Plus one.
        {"extract files libtifiles2 writes: TI-92 Plus", {File("n.9xt", TifilesImage(CALC_TI92P,
         {notes}))}, {"-x", "n.9xt"}, 0, "", "", {Text("notes.txt", notes_text)}},
        // Folders main and work; an empty text with a name of 8 bytes; a list, which is no text.
        {"extract a group libtifiles2 writes", {File("g.89g", TifilesImage(CALC_TI89, {notes,
         {"work", "longname", 0x0C, "\x00\x00\x20\x00\xE0"s}, {"work", "lst", 0x04,
         "\x00\x01\xD9"s}}))}, {"-x", "g.89g"}, 0, "", "", {Text("notes.txt", notes_text),
         Text("longname.txt", "")}},
        {"extract in UTF-8 a name of eight 5-byte characters", {File("n.89t",
         ImageOf(std::string(8, '\xB4'), " abc"))}, {"-x", "-u", "n.89t"}, 0, "", "",
         {Text(inverse8 + ".txt", "abc")}},
        {"extract in UTF-8", {File("u.89t", cafe_89t)}, {"-x", "-u", "u.89t"}, 0, "", "",
         {Text("u.txt", kCafe)}},
        {"extract a group, listing its files", {File("g.89g", group)}, {"-x", "-v", "g.89g"}, 0,
         "g.89g -> a.txt (a)\ng.89g -> b.txt (b)\n", "", {Text("a.txt", "abc"), Text("b.txt",
         "abc")}},
        {"-x never replaces a variable file, as sorvel -x *.89t would", {File("abc.89t", abc_89t),
         File("b.89t", group)}, {"-x", "abc.89t", "b.89t"}, 5,
         "ERROR: b.89t is a variable file, which -x never replaces\n", "hint: name a text file to "
         "write, or none; for several variable files, run sorvel -x on each\n"},
        {"-x never replaces its input, through a link, even with -F", {File("abc.89t", abc_89t),
         Link("l.txt", "abc.89t")}, {"-x", "-F", "abc.89t", "l.txt"}, 5,
         "ERROR: l.txt is the variable file being read, which -x never replaces\n",
         "hint: name another file to write, such as abc.txt\n"},
        {"-x of a text shorter than a signature", {File("sin.txt", "sin x")}, {"-x", "sin.txt"}, 6,
         "ERROR: sin.txt: unknown signature\n",
         "hint: sin.txt is no variable file: if it is a text, convert it without -x\n"},
        {"extract a group to one out.txt", {File("g.89g", group)}, {"-x", "g.89g", "o.txt"}, 1,
         "ERROR: g.89g holds 2 text variables, so out.txt cannot be given\n",
         "hint: leave out out.txt: each text goes to a file of its variable's name\n"},
        {"extract a group with two of one name", {File("g.89g", AbcGroup({"a", "b", "a"}))}, {"-x",
         "g.89g"}, 6, "ERROR: g.89g: two text variables named a\n", kTwoTexts},
        {"extract with a model", {File("abc.89t", abc_89t)}, {"-x", "-m", "92", "abc.89t"}, 1,
         "ERROR: -m does not go with -x\n", "hint: -x takes the texts out of a variable file, and "
         "-m goes only with making one: leave out one of them\n"},
        {"extract with three operands", {}, {"-x", "a", "b", "c"}, 1,
         "Usage: sorvel -x file.89t [out.txt]\n", "hint: give one variable file and maybe the text "
         "file to write; for several, run sorvel -x on each\n"},
        {"extract a name that leaves the directory", {File("e.89t", ImageOf("../x", " abc"))},
         {"-x", "e.89t"}, 6,
         "ERROR: e.89t: variable name ../x is no safe file name; give out.txt\n"},
        {"extract that name to out.txt", {File("e.89t", ImageOf("../x", " abc"))}, {"-x", "e.89t",
         "o.txt"}, 0, "", "", {Text("o.txt", "abc")}},
        Unreadable("no text", Image("x", "\x5F\0\0\0"s, "\x00\x05"s, "\x00\x01\x20\x00\xE1"s,
         "\x07\x01"s), "no text variable", kNoText),
        Unreadable("shorter than its header", Broken(abc_89t, 50), "shorter than its header",
         kDamaged),
        Unreadable("cut by a byte", Broken(abc_89t, 97),
         "file size field disagrees with the file's length", kDamaged),
        Unreadable("last byte of the signature", Broken(abc_89t, 98, 7, 0x01), "unknown signature",
         "hint: f.89t is no variable file: if it is a text, convert it without -x\n"),
        Unreadable("no entry", Broken(abc_89t, 98, 58, 0x01), "no entry", kDamaged),
        Unreadable("cut to its data block's frame",
         Broken(Broken(abc_89t, 90), 90, 76, 0x62 ^ 0x5A), "data block outside the file", kDamaged),
        Unreadable("data offset past the end", Broken(abc_89t, 98, 60, '\x80'),
         "data block outside the file", kDamaged),
        Unreadable("data size less", Broken(abc_89t, 98, 87, 0x0F),
         "data size disagrees with the file's length", kDamaged),
        Unreadable("wrong checksum", Broken(abc_89t, 98, 97, 0x01), "wrong checksum", kDamaged),
        Unreadable("group cut by a byte", Broken(group, 129), "data block outside the file",
         kDamaged),
        Unreadable("group a byte longer", Broken(group, 131),
         "data size disagrees with the file's length", kDamaged),
        Unreadable("group, a data size one more", Broken(group, 130, 103, 0x01),
         "data block out of place", kDamaged),
        Unreadable("group, its file size field 100 more", Broken(group, 130, 92, 0x64),
         "file size field disagrees with the file's length", kDamaged),
        Unreadable("larger than any variable file", "**TI89**" + std::string((4 << 20) - 7, '\0'),
         "larger than any variable file (4 MiB)",
         "hint: f.89t is larger than any calculator holds: it is no variable file\n"),
        Unreadable("a variable of another type", Broken(abc_89t, 98, 72, 0x0C ^ 0x2D),
         "no text variable", kNoText),
        {"extract a string variable", {File("s.89t", Broken(abc_89t, 98, 72, 0x0C ^ 0x0B))}, {"-x",
         "s.89t"}, 0, "", "", {Text("abc.txt", "abc")}},
        {"extract a name holding DEL", {File("e.89t", ImageOf("a\x7F", " abc"))}, {"-x",
         "e.89t"}, 6,
         "ERROR: e.89t: variable name \"a\\x7F\" is no safe file name; give out.txt\n"},
    });
}

// Folders, archived variables, group files, texts split into variables.
TEST(EndToEnd, Groups)
{
    const std::string abc_data = "\x00\x01\x20" "abc\x00\xE0"s, line = std::string(98, 'a') + "\n";
    const std::string theta = "\xCE\xB8", thetas = repeat(theta, 65510);
    // 655 lines of 100 stored bytes fill a variable; 2,292 fill 3.5: 3 of 65,505 bytes of data
    // and 327 lines in 32,705, with their 2-byte sizes 229,228 bytes in RAM.
    const auto part = [](const char* name, int lines) {
        return Var{"main", name, 0x0C,
                   "\x00\x01\x20"s + repeat(std::string(98, 'a') + "\r ", lines) + "\x00\xE0"s};
    };
    const std::string book = TifilesImage(CALC_TI89, {part("noteboo1", 655), part("noteboo2", 655),
        part("noteboo3", 655), part("noteboo4", 327)});
    // `full` full variables named stem1, stem2, ..., then one of `rest` lines if `rest` is not 0.
    std::list<std::string> names;
    const auto parts = [&](const std::string& stem, int full, int rest) {
        std::vector<Var> all;
        for (int k = 1; k <= full + (rest > 0); ++k)
            all.push_back(
                part(names.emplace_back(stem + std::to_string(k)).c_str(), k <= full ? 655 : rest));
        return all;
    };
    const std::string greek = "\xCE\x91\xCE\x92\xCE\x93\xCE\x94\xCE\x95\xCE\x96\xCE\x98\xCE\x9B";
    const auto archived = [](std::vector<Var> vs) { for (Var& v : vs) v.attr = 3; return vs; };
    CheckAll({
        {"folder, cut to 8 bytes", {abc}, {"-f", "workshop1", "abc.txt"}, 0, "", "",
         {File("abc.89t", Set(abc_89t, 10, "workshop"))}},
        {"folder in UTF-8, on a TI-92 Plus", {abc}, {"-u", "--folder=\xCE\xB8", "-m", "92p",
         "abc.txt"}, 0, "", "", {File("abc.9xt", Set(ImageOf("abc", " abc", "**TI92P*"), 10,
         "\x88\0\0\0"s))}},
        {"archived, on a TI-92, which has no archive", {abc}, {"-a", "-m", "92", "abc.txt"}, 1,
         "ERROR: the TI-92 has no archive: -a does not go with -m 92\n",
         "hint: leave out -a: the TI-92 keeps every variable in its RAM\n"},
        {"group of two texts named after their files, in a folder, archived", {abc, Dir("d"),
         File("d/Bcdefghij.c.txt", "x\ny")}, {"-g", "g.89g", "-f", "work", "-a", "abc.txt",
         "d/Bcdefghij.c.txt"}, 0, "", "", {File("g.89g", TifilesImage(CALC_TI89, {{"work",
         "abc", 0x0C, abc_data, 3}, {"work", "bcdefghi", 0x0C,
         "\x00\x01\x20x\r y\x00\xE0"s, 3}}))}},
        {"group in UTF-8 for a Voyage 200", {abc, File(theta + ".txt", "abc")}, {"-u", "-m", "v200",
         "--group=g.v2g", theta + ".txt", "abc.txt"}, 0, "", "", {File("g.v2g",
         TifilesImage(CALC_V200, {{"main", "\x88", 0x0C, abc_data}, {"main", "abc", 0x0C,
         abc_data}}))}},
        {"group of another model's extension", {abc}, {"-g", "g.89g", "-m", "92", "abc.txt"}, 1,
         "ERROR: group file g.89g does not end in .92g\n",
         "hint: give a group file ending in .92g: g.92g\n"},
        {"group of two texts of one name", {abc, Dir("d"), File("d/abc.txt", "x")}, {"-g", "g.89g",
         "abc.txt", "d/abc.txt"}, 6, "ERROR: abc.txt and d/abc.txt give two variables named abc\n",
         "hint: rename one of the two files\n"},
        {"group of a text too big", {abc, File("big.txt", std::string(65508, 'a'))}, {"-g", "g.89g",
         "abc.txt", "big.txt"}, 3, "ERROR: big.txt: text file too big\n", kGiveS},
        {"split text that fits", {abc}, {"-s", "abc.txt"}, 0, "", "", {File("abc.89t", abc_89t)}},
        {"split text that fits, a given name holding a dot", {abc}, {"-s", "abc.txt", "a.b"}, 0, "",
         "", {File("a.b.89t", ImageOf("a.b", " abc"))}},
        // Each full part takes 65,505 bytes of data and 2 of size: 9 take 589,563, past 188 KB
        // (192,512).
        {"split into 9 variables, past the RAM", {File("ninebook.txt", repeat(line, 9 * 655))},
         {"-s", "ninebook.txt"}, 0, "", "ninebook.89g: 9 variables of 589563 bytes in all, more "
         "than the 188 KB of RAM a TI-89 leaves free; add -a to store them in the archive\n",
         {File("ninebook.89g", TifilesImage(CALC_TI89, parts("nineboo", 9, 0)))}},
        {"split into 10 archived variables, named as the calculator takes names in ASCII, here",
         {Dir("d"), File("d/Not\xC3\xA9 Book.txt", repeat(line, 9 * 655 + 1))}, {"-s", "-a",
         "d/Not\xC3\xA9 Book.txt"}, 0, "", "", {File("note_boo.89g", TifilesImage(CALC_TI89,
         archived(parts("note_b", 9, 1))))}},
        {"each: chapter10 to chapter12, three names, the first with a replacement",
         {File("chapter10.txt", "\xC5\x99"), File("chapter11.txt", "11"), File("chapter12.txt",
         "12")}, {"--each", "-r", "chapter10.txt", "chapter11.txt", "chapter12.txt"}, 0, "",
         "chapter10.txt: 1 replaced: 1 \xC5\x99 as r\n", {File("chapte10.89t", ImageOf("chapte10",
         " r")), File("chapte11.89t", ImageOf("chapte11", " 11")), File("chapte12.89t",
         ImageOf("chapte12", " 12"))}},
        {"each of one text", {abc}, {"-e", "abc.txt"}, 0, "", "", {File("abc.89t", abc_89t)}},
        {"each: two texts of one name refused before anything is written", {abc,
         File("my notes.txt", "x"), File("My-Notes.txt", "y")}, {"-e", "abc.txt", "my notes.txt",
         "My-Notes.txt"}, 6, "ERROR: my notes.txt and My-Notes.txt give two variables named "
         "my_notes\n", "hint: rename one of the two files, or convert it alone with a name: sorvel "
         "\"My-Notes.txt\" othername\n"},
        {"each: an output blocked, nothing written", {abc, File("b.txt", "x"), Dir("b.89t")}, {"-e",
         "abc.txt", "b.txt"}, 5, "ERROR: unable to create b.89t\n", NotWritten("b.89t",
         "Is a directory", "Access denied")},
        // 2 full parts and abc's 8 bytes of data and 2 of size: 131,024 bytes, past 68 KB (69,632);
        // a name of 8 two-byte characters, ΑΒΓΔΕΖΘΛ as αβγδεζθλ (calculator bytes
        // 80 81 83 85 to 89).
        {"each, split, in UTF-8, on a TI-92: one text in parts, one whole, past the RAM",
         {File("book.txt", repeat(line, 2 * 655)), File(greek + ".txt", "abc")}, {"-e", "-s", "-u",
         "-m", "92", "book.txt", greek + ".txt"}, 0, "", "the 2 files: 3 variables of 131024 bytes "
         "in all, more than the 68 KB of RAM a TI-92 leaves free; it has no archive: send fewer at "
         "a time\n", {File("book.92g", TifilesImage(CALC_TI92, parts("book", 2, 0))),
         File("\xCE\xB1\xCE\xB2\xCE\xB3\xCE\xB4\xCE\xB5\xCE\xB6\xCE\xB8\xCE\xBB.92t",
         ImageOf("\x80\x81\x83\x85\x86\x87\x88\x89", " abc", "**TI92**"))}},
        {"each: every problem in one run, each next step once, nothing written, "
         "the first one's status",
         {abc, File("b.txt", "\xE2\x82\xAC"), File("c.89t", abc_89t), File("d.txt", "\xE2\x82\xAC"),
         File("my notes.txt", "x"), File("My-Notes.txt", "y")}, {"-u", "--each", "e.txt", "abc.txt",
         "b.txt", "c.89t", "d.txt", "my notes.txt", "My-Notes.txt"}, 2,
         "ERROR: unable to open e.txt\n"
         "ERROR: b.txt:1:1: no calculator character for U+20AC (\xE2\x82\xAC)\n"
         "ERROR: c.89t is a variable file; give -x to take its text out\n"
         "ERROR: d.txt:1:1: no calculator character for U+20AC (\xE2\x82\xAC)\n"
         "ERROR: my notes.txt and My-Notes.txt give two variables named my_notes\n", kGiveR +
         "hint: --each takes text files: leave out the variable files, whose texts sorvel -x takes "
         "out\n" "hint: rename one of the two files, or convert it alone with a name: sorvel -u "
         "\"My-Notes.txt\" othername\n"},
        {"each with a group file", {abc}, {"-e", "-g", "g.89g", "abc.txt"}, 1,
         "ERROR: -g does not go with -e\n", "hint: give --each for a variable file of each text, "
         "or -g for one group file of them all\n"},
        {"split 3.5 variables, a name of 8 shortened, and back", {File("notebook.txt",
         repeat(line, 2292))}, {"-x", "notebook.89g"}, 0,
         "notebook.txt -> notebook.89g (noteboo1 to noteboo4)\n",
         "notebook.89g: 4 variables of 229228 bytes in all, "
         "more than the 188 KB of RAM a TI-89 leaves free; add -a to store them in the archive\n",
         {File("notebook.89g", book), Text("noteboo1.txt", repeat(line, 655)), Text("noteboo2.txt",
         repeat(line, 655)), Text("noteboo3.txt", repeat(line, 655)), Text("noteboo4.txt",
         repeat(line, 327))}, "{ " + g_command + "-v -s notebook.txt && @; }"},
        {"split a line longer than a variable, in UTF-8, on a TI-92 Plus", {File("u.txt",
         "a\n" + thetas)}, {"-s", "-u", "-m", "92p", "u.txt", "long"}, 0, "", "", {File("long.9xg",
         TifilesImage(CALC_TI92P, {{"main", "long1", 0x0C, "\x00\x01\x20" "a\r\x20\x00\xE0"s},
         {"main", "long2", 0x0C, "\x00\x01\x20"s + std::string(65507, '\x88') + "\x00\xE0"s},
         {"main", "long3", 0x0C, "\x00\x01\x20\x88\x88\x88\x00\xE0"s}}))}},
        {"group with replacements", {abc, File("b.txt", "\xC5\x99")}, {"-r", "-g", "g.89g",
         "abc.txt", "b.txt"}, 0, "", "b.txt: 1 replaced: 1 \xC5\x99 as r\n", {File("g.89g",
         TifilesImage(CALC_TI89, {{"main", "abc", 0x0C, abc_data}, {"main", "b", 0x0C,
         "\x00\x01\x20r\x00\xE0"s}}))}},
        {"split where a replacement takes two bytes", {File("t.txt", a65506 + "\xC4\xB3")},
         {"-r", "-s", "t.txt"}, 0, "", "t.txt: 1 replaced: 1 \xC4\xB3 as ij\n",
         {File("t.89g", TifilesImage(CALC_TI89,
                                     {{"main", "t1", 0x0C, "\x00\x01\x20"s + a65506 + "\x00\xE0"s},
                                      {"main", "t2", 0x0C, "\x00\x01\x20ij\x00\xE0"s}}))}},
        {"split, refused where the text is, after a byte order mark", {File("u.txt",
         "\xEF\xBB\xBF" + thetas + "\xE2\x82\xAC")}, {"-s", "-u", "u.txt"}, 6,
         "ERROR: u.txt:1:65511: no calculator character for U+20AC (\xE2\x82\xAC)\n", kGiveR},
        {"split, refused where the text is", {File("u.txt", "a\n" + thetas + "\xE2\x82\xAC")},
         {"-s", "-u", "u.txt"}, 6,
         "ERROR: u.txt:2:65511: no calculator character for U+20AC (\xE2\x82\xAC)\n", kGiveR},
        {"empty folder", {abc}, {"-f", "", "abc.txt"}, 1, "ERROR: option -f needs a folder name\n",
         "hint: give the folder's name (-f work), or leave out -f for main\n"},
        {"folder refused in UTF-8", {abc}, {"-u", "-f", "\xE2\x82\xAC", "abc.txt"}, 6,
         "ERROR: folder name \xE2\x82\xAC: no calculator character for U+20AC (\xE2\x82\xAC)\n",
         "hint: give a folder of up to 8 of the calculator's characters, such as work\n"},
        {"extract with -s", {abc}, {"-x", "-s", "abc.txt"}, 1, "ERROR: -s does not go with -x\n",
         "hint: -x takes the texts out of a variable file, and -s goes only with making one: leave "
         "out one of them\n"},
        {"extract two texts of one name in two folders", {File("g.89g", TifilesImage(CALC_TI89,
         {{"main", "notes", 0x0C, abc_data}, {"work", "notes", 0x0C, abc_data}}))}, {"-x",
         "g.89g"}, 6, "ERROR: g.89g: two text variables named notes: main\\notes and work\\notes\n",
         kTwoTexts},
        {"each, read as each text is: UTF-8, Windows-1252, UTF-16",
         {File("a.txt", "\xC3\xA9"), File("b.txt", "\xE9"), File("d.txt", "\xFF\xFE\xE9\0"s)},
         {"--each", "--encoding=auto", "a.txt", "b.txt", "d.txt"}, 0, "", "",
         {File("a.89t", ImageOf("a", " \xE9")), File("b.89t", ImageOf("b", " \xE9")),
          File("d.89t", ImageOf("d", " \xE9"))}},
        // ĳ on the line the first part could not hold is stored, and counted, in the second alone.
        {"split at a line break after a replacement", {File("t.txt",
         a65506.substr(6) + "\n\xC4\xB3" + a40)}, {"-r", "-s", "t.txt"}, 0, "",
         "t.txt: 1 replaced: 1 \xC4\xB3 as ij\n", {File("t.89g", TifilesImage(CALC_TI89, {{"main",
         "t1", 0x0C, "\x00\x01\x20"s + a65506.substr(6) + "\r \x00\xE0"s}, {"main", "t2", 0x0C,
         "\x00\x01\x20ij"s + a40 + "\x00\xE0"s}}))}},
    });
}

std::vector<Case> LinuxCases()
{
    return {
        {"link to a missing file creates it", {File("abc.txt", "abc"), Dir("d"), Link("abc.89t",
         "d/t")}, {"abc.txt"}, 0, "", "", {File("d/t", ImageOf("abc", " abc"))}},
        {"standard output through /dev/stdout, a file", {File("abc.89t", abc_89t)}, {"-x",
         "abc.89t", "/dev/stdout"}, 0, "header\nabc", "", {}, "{ echo header; @; }"},
        {"standard output through /dev/stdout, a pipe", {File("abc.89t", abc_89t)}, {"-x",
         "abc.89t", "/dev/stdout"}, 0, "abc", "", {}, "@ | cat"},
        {"version into a full device", {}, {"-V"}, 5, "",
         "ERROR: unable to write to standard output\n", {}, "{ @ >/dev/full; }"},
        {"endless input to extract", {}, {"-x", "/dev/zero"}, 6,
         "ERROR: /dev/zero: unknown signature\n",
         "hint: /dev/zero is no variable file: if it is a text, convert it without -x\n"},
        {"a long name, a write that fails: the old file kept", {File("a.89t", ImageOf("a",
         " " + std::string(600, 'a'))), File(std::string(250, 'n') + ".txt", "old")}, {"-x",
         "a.89t", std::string(250, 'n') + ".txt"}, 5, fails(std::string(250, 'n') + ".txt"),
         NotWritten(std::string(250, 'n') + ".txt", "File too large"), {}, "ulimit -f 1; "},
        {"interrupted: the temporary files removed", {File("g.89g", AbcGroup({"a", "b"}))}, {"-x",
         "-F", "g.89g"}, 143, "", "", {}, "mkfifo b.txt && { @ & sleep 1; kill $!; wait $! "
         "2>/dev/null; s=$?; rm b.txt; exit $s; }", Case::not_node},
        {"extract a group, a member's device full: nothing replaced", {File("g.89g", group),
         File("a.txt", "old"), Link("b.txt", "/dev/full")}, {"-x", "-F", "g.89g"}, 5,
         fails("b.txt"), NotWritten("b.txt", "No space left on device")},
        // While the program waits on the FIFO c.txt, after every new file is made, b.txt becomes
        // a directory, so that its rename fails after a.txt's.
        {"extract a group, a rename that fails: the file replaced before put back", {File("g.89g",
         AbcGroup({"a", "b", "c"})), File("a.txt", "old")}, {"-x", "-F", "g.89g"}, 5,
         fails("b.txt"), NotWritten("b.txt", "Is a directory"), {}, "mkfifo c.txt && { @ & p=$!; "
         "until [ $(ls -A | grep -c '^[.]sorvel-') = 2 ] || ! kill -0 $p 2>/dev/null; do sleep "
         "0.1; done; mkdir b.txt; timeout 20 cat c.txt >/dev/null; wait $p; s=$?; rm -r b.txt "
         "c.txt; exit $s; }", Case::not_node},
        {"a UTF-8 name that is not UTF-8, quoted", {abc}, {"-u", "abc.txt", "\xFF\xCE\xB8"}, 6,
         "ERROR: variable name \"\\xFF\xCE\xB8\": malformed UTF-8: FF\n", kNameStep, {}, "",
         Case::not_node},
        {"read that fails", {}, {"/proc/self/mem", "m"}, 2,
         "ERROR: unable to read /proc/self/mem\n"},
        {"UTF-8 read that fails", {}, {"-u", "/proc/self/mem", "m"}, 2,
         "ERROR: unable to read /proc/self/mem\n"},
        {"endless line breaks", {}, {"/dev/stdin", "z"}, 3, "ERROR: text file too big\n", "", {},
         "yes '' | ", Case::not_node},
        {"wildcards are the shell's", {File("notes.txt", "Hi\r\n")}, {"*.txt"}, 2,
         "ERROR: unable to open *.txt\n"},
    };
}

// The Windows program expands wildcards itself, as its shell does not.
std::vector<Case> WindowsCases()
{
    std::vector<Case> cases = {
        {"wildcard expanded", {File("notes.txt", "abc")}, {"*.txt"}, 0, "", "", {File("notes.89t",
         ImageOf("notes", " abc"))}},
        {"wildcard matching nothing", {}, {"*.txt"}, 2, "ERROR: unable to open *.txt\n"},
        {"extract a device's name", {File("e.89t", ImageOf("Com9", " abc"))}, {"-x", "e.89t"}, 6,
         "ERROR: e.89t: variable name Com9 is no safe file name; give out.txt\n"},
        {"extract names near a device's", {File("g.89g", AbcGroup({"auk", "cox1", "lpx1",
         "com0"}))}, {"-x", "g.89g"}, 0, "", "", {Text("auk.txt", "abc"), Text("cox1.txt", "abc"),
         Text("lpx1.txt", "abc"), Text("com0.txt", "abc")}},
        {"extract a name with a wildcard", {File("e.89t", ImageOf("a*", " abc"))}, {"-x",
         "e.89t"}, 6, "ERROR: e.89t: variable name a* is no safe file name; give out.txt\n"},
        {"extract two names that differ in case", {File("g.89g", AbcGroup({"ABC", "abc"}))}, {"-x",
         "g.89g"}, 6, "ERROR: g.89g: two text variables named ABC and abc\n", kTwoTexts},
    };
    for (const std::string device : {"con", "PRN", "aux", "Nul", "lpt1"})
        cases.push_back({"a device's name as the output", {File("abc.txt", "abc")},
                         {"abc.txt", device}, 5, "ERROR: unable to create " + device + ".89t\n"});
    return cases;
}

TEST(EndToEnd, ThisSystem)
{
    CheckAll(g_windows ? WindowsCases() : LinuxCases());
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    g_windows = argc > 1 && argv[1] == "--windows"s;
    g_node = argc > 1 && argv[1] == "--node"s;
    const int first = 1 + (g_windows || g_node);
    for (int i = first; i < argc; ++i)
        g_command += "'" + (i == first ? fs::absolute(argv[i]).string() : argv[i]) + "' ";
    if (g_command.empty()) {
        std::fprintf(stderr, "usage: %s [--windows | --node] PROGRAM [ARG...]\n", argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
