// sorvel [options] file.txt [varname]: turns a text file into a calculator text variable file;
// sorvel -g file.89g [options] file.txt...: turns text files into the variables of a group file;
// sorvel -e [options] file.txt...: turns each text file into a variable file of its own;
// sorvel -x [options] file.89t [out.txt]: turns the text variables of such a file back into text.
#include "cli/convert.h"
#include "cli/each.h"
#include "cli/encoding_option.h"
#include "cli/extract.h"
#include "cli/group.h"
#include "cli/platform.h"
#include "cli/report.h"

#include <getopt.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
// The runtime's start-up expands wildcards in the arguments, as a Windows shell does not.
extern "C" {
int _dowildcard = -1;
}
#endif

namespace {

const char kHelpStart[] =
    "Usage: sorvel [options] file.txt [varname]\n"
    "       sorvel -g file.89g [options] file.txt...\n"
    "       sorvel -e [options] file.txt...\n"
    "       sorvel -x [options] file.89t [out.txt]\n"
    "Turns a text file into a calculator text variable named varname, or after\n"
    "file.txt up to its first dot, in the file <name>.89t; with -x, turns the text\n"
    "variables of a calculator file back into text.\n"
    "  -m, --model=MODEL  ";
const char kHelpEnd[] =
    "  -u, --utf8         the text and the names are UTF-8, stored as the\n"
    "                     calculator's characters\n"
    "  -r, --replace      as -u, but a character the calculator lacks is stored as\n"
    "                     the closest it has (a letter with marks as its letter,\n"
    "                     a mark as nothing, most others as ?): -r notes.txt\n"
    "      --encoding=ENC the text is utf-8 (as -u), windows-1252, utf-16 (by its\n"
    "                     byte order mark), or auto: each text UTF-8 if it is,\n"
    "                     UTF-16 with a mark, else Windows-1252; calculator (its\n"
    "                     bytes as they are) is the default: -e --encoding=auto *.txt\n"
    "  -f, --folder=NAME  the variable's folder, not main: -f work notes.txt\n"
    "  -a, --archive      the variable is archived: -a notes.txt\n"
    "  -g, --group=FILE   every text, named after its file, in group file FILE:\n"
    "                     -g notes.89g a.txt b.txt\n"
    "  -e, --each         every text in a file of its own, here, named after its\n"
    "                     file as the calculator takes names (My Notes.txt as\n"
    "                     my_notes): -e *.txt\n"
    "  -s, --split        a text too long for a variable in parts name1, name2, ...,\n"
    "                     cut at line breaks, in <name>.89g: -s book.txt\n"
    "  -x, --extract      write each text variable of file.89t to out.txt\n"
    "                     (- for standard output), by default <name>.txt\n"
    "  -F, --force        with -x, replace a <name>.txt that exists\n"
    "  -v, --verbose      list each file written: a.txt -> a.89t (a)\n"
    "  -h, --help         print this help\n"
    "  -V, --version      print the version\n";

// A message of `code` about `arg` whose first number is `number`: an option's letter, or the
// length of an option's name.
Message Numbered(MessageCode code, long number, const char* arg = nullptr)
{
    Message m = Say(code, arg);
    m.numbers[0] = static_cast<std::uint32_t>(number);
    return m;
}

// The refusal of option -`a` with option -`b`.
Message Clash(int a, int b)
{
    Message m = Numbered(MessageCode::options_clash, a);
    m.numbers[1] = static_cast<std::uint32_t>(b);
    return m;
}

// The refusal of -a for `model`, which has no archive.
Message NoArchive(const Model& model)
{
    Message m = Say(MessageCode::no_archive);
    m.model = &model;
    return m;
}

// The argument of `argv` in which getopt, reading the short options `known` in order, finds the
// unknown option letter `letter` (C libraries leave optind in different places then), or null.
const char* Holding(int letter, int argc, char** argv, const char* known)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--"); ++i)
        for (const char* c = argv[i] + 1; argv[i][0] == '-' && argv[i][1] != '-' && *c; ++c) {
            const char* const option = *c == ':' ? nullptr : std::strchr(known, *c);
            if (!option)
                return *c == letter ? argv[i] : nullptr;
            // The rest, or the next argument, is the option's value.
            if (option[1] == ':') {
                i += !c[1];
                break;
            }
        }
    return nullptr;
}

// The refusal of the unknown option letter `letter`, with what its next step needs: the argument
// that holds it, and whether that looks like a file's name (1) or a long option given one dash (2).
Message UnknownOption(int letter, int argc, char** argv, const char* known, const option* longs)
{
    Message m = Numbered(MessageCode::unknown_option, letter);
    m.path = Holding(letter, argc, argv, known);
    if (!m.path)
        return m;
    bool file = std::strpbrk(m.path, "./\\");
    if (std::FILE* const named = file ? nullptr : OpenFile(m.path, "rb")) {
        std::fclose(named);
        file = true;
    }
    m.numbers[1] = file;
    for (const option* o = longs; !file && o->name; ++o)
        if (!std::strcmp(o->name, m.path + 1))
            m.numbers[1] = 2;
    return m;
}

// Writes the help to `help`: the models' list from the table of models, its items filling lines
// of at most 79 columns.
void Help(char (&help)[4096])
{
    constexpr int kIndent = 21, kWidth = 79;
    int at = std::snprintf(help, sizeof help, "%s", kHelpStart), column = kIndent;
    bool first = true;
    for (const Model& m : kModels) {
        if (!m.option[0])
            continue;
        char item[64];
        const int n = std::snprintf(item, sizeof item, "%s (%s, %s%s)", m.option, m.name, m.extension,
                                    first ? ", the default" : "");
        // The item, then its comma, on this line or the next.
        if (!first && column + 2 + n + 1 > kWidth) {
            at += std::snprintf(help + at, sizeof help - at, ",\n%*s", kIndent, "");
            column = kIndent;
        } else if (!first) {
            at += std::snprintf(help + at, sizeof help - at, ", ");
            column += 2;
        }
        at += std::snprintf(help + at, sizeof help - at, "%s", item);
        column += n;
        first = false;
    }
    std::snprintf(help + at, sizeof help - at, "\n%s", kHelpEnd);
}

int Run(int argc, char** argv)
{
    // A file-size limit, or a pipe closed by its reader, then fails the write, which is
    // reported, instead of killing us.
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    static const option kLong[] = {
        {"model", required_argument, nullptr, 'm'}, {"utf8", no_argument, nullptr, 'u'},
        {"extract", no_argument, nullptr, 'x'},     {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},     {"force", no_argument, nullptr, 'F'},
        {"folder", required_argument, nullptr, 'f'}, {"archive", no_argument, nullptr, 'a'},
        {"group", required_argument, nullptr, 'g'}, {"split", no_argument, nullptr, 's'},
        {"replace", no_argument, nullptr, 'r'},     {"each", no_argument, nullptr, 'e'},
        {"encoding", required_argument, nullptr, kEncodingOption}, {"verbose", no_argument, nullptr, 'v'},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    char writing = 0;  // the first of -f, -a, -g, -s and -e, which go only with making a file
    opterr = 0;
    const char* const kShort = ":m:urxFhVf:ag:sev";
    for (int c; (c = getopt_long(argc, argv, kShort, kLong, nullptr)) != -1;) {
        // A command line with options, right or wrong, is told what to do after a refusal.
        GiveNextSteps(options);
        switch (c) {
        case 'h': {
            static char help[4096];
            Help(help);
            return PutOut(help);
        }
        case 'V': return PutOut("sorvel " SORVEL_VERSION "\n");
        case 'r':
            if (options.extract)
                return Report(Clash('r', 'x'));
            [[fallthrough]];
        case 'u': case kEncodingOption:
            if (const Message refused = TakeEncodingOption(c, optarg, options))
                return Report(refused);
            break;
        case 'F': options.force = true; break;
        case 'v': options.verbose = true; break;
        case 'x':
            if (options.model)
                return Report(Clash('x', 'm'));
            if (writing || options.replace)
                return Report(Clash('x', writing ? writing : 'r'));
            if (!ExtractWrites(options))
                return Report(EncodingClash('x', options.encoding_name, true));
            options.extract = true;
            break;
        case 'f': case 'a': case 'g': case 's': case 'e':
            if (options.extract)
                return Report(Clash(c, 'x'));
            if ((c == 'e' && options.group) || (c == 'g' && options.each))
                return Report(Clash(c, c == 'e' ? 'g' : 'e'));
            if (c == 'f' && !*optarg)
                return Report(Say(MessageCode::folder_needs_name));
            if (c == 'a' && options.model && !options.model->archive)
                return Report(NoArchive(*options.model));
            writing = writing ? writing : static_cast<char>(c);
            options.folder = c == 'f' ? optarg : options.folder;
            options.archive = options.archive || c == 'a';
            options.group = c == 'g' ? optarg : options.group;
            options.split = options.split || c == 's';
            options.each = options.each || c == 'e';
            break;
        case 'm':
            if (options.extract)
                return Report(Clash('m', 'x'));
            options.model = FindModel(optarg);
            if (!options.model)
                return Report(Say(MessageCode::unknown_model, optarg));
            if (options.archive && !options.model->archive)
                return Report(NoArchive(*options.model));
            break;
        default: {  // a short option is known by optopt, a long one by the argument just read
            // (which some C libraries leave past the end when its value is missing)
            const char* const arg = optind - 1 < argc && argv[optind - 1] ? argv[optind - 1] : "";
            const char* const value = std::strchr(arg, '=');
            for (const option& o : kLong)
                if (o.name && o.has_arg == no_argument && value && !std::strncmp(arg, "--", 2) &&
                    !std::strncmp(o.name, arg + 2, value - arg - 2))
                    return Report(Numbered(MessageCode::takes_no_value, value - arg, arg));
            if (c == ':' && std::strncmp(arg, "--", 2))
                return Report(Numbered(MessageCode::needs_value, optopt));
            if (c == ':')
                return Report(Say(MessageCode::long_needs_value, arg));
            if (optopt)
                return Report(UnknownOption(optopt, argc, argv, kShort, kLong));
            return Report(Say(MessageCode::unknown_long_option, arg));
        }
        }
    }
    if (options.force && !options.extract)
        return Report(Say(MessageCode::force_without_extract));
    options.utf8 = options.encoding != Encoding::calculator;
    char** operands = argv + optind;
    const int count = argc - optind;
    if (options.extract)
        return Extract(options, operands, count);
    if (options.each)
        return Each(options, operands, count);
    return options.group || options.split ? Group(options, operands, count) : Convert(options, operands, count);
}

} // namespace

#ifdef _WIN32
extern "C" int wmain(int argc, wchar_t** wargv)
{
    return Run(argc, Utf8Arguments(argc, wargv));
}
#else
int main(int argc, char** argv)
{
    return Run(argc, argv);
}
#endif
