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
#include "cli/status.h"

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

const char kHelp[] =
    "Usage: sorvel [options] file.txt [varname]\n"
    "       sorvel -g file.89g [options] file.txt...\n"
    "       sorvel -e [options] file.txt...\n"
    "       sorvel -x [options] file.89t [out.txt]\n"
    "Turns a text file into a calculator text variable named varname, or after\n"
    "file.txt up to its first dot, in the file <name>.89t; with -x, turns the text\n"
    "variables of a calculator file back into text.\n"
    "  -m, --model=MODEL  89 (TI-89, .89t, the default), 92 (TI-92, .92t),\n"
    "                     92p (TI-92 Plus, .9xt), v200 (Voyage 200, .v2t)\n"
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
    "  -h, --help         print this help\n"
    "  -V, --version      print the version\n";

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
        {"encoding", required_argument, nullptr, kEncodingOption}, {nullptr, 0, nullptr, 0},
    };
    Options options;
    char writing = 0;  // the first of -f, -a, -g, -s and -e, which go only with making a file
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":m:urxFhVf:ag:se", kLong, nullptr)) != -1;) {
        switch (c) {
        case 'h': return PutOut(kHelp);
        case 'V': return PutOut("sorvel " SORVEL_VERSION "\n");
        case 'r':
            if (options.extract)
                return Fail(kUsage, "ERROR: -r does not go with -x\n");
            [[fallthrough]];
        case 'u': case kEncodingOption:
            if (const int status = TakeEncodingOption(c, optarg, options))
                return status;
            break;
        case 'F': options.force = true; break;
        case 'x':
            if (options.model)
                return Fail(kUsage, "ERROR: -x does not go with -m\n");
            if (writing || options.replace)
                return Fail(kUsage, "ERROR: -x does not go with -%c\n", writing ? writing : 'r');
            if (!ExtractWrites(options))
                return Fail(kUsage, "ERROR: -x does not go with --encoding=%s\n", options.encoding_name);
            options.extract = true;
            break;
        case 'f': case 'a': case 'g': case 's': case 'e':
            if (options.extract)
                return Fail(kUsage, "ERROR: -%c does not go with -x\n", c);
            if ((c == 'e' && options.group) || (c == 'g' && options.each))
                return Fail(kUsage, "ERROR: -%c does not go with -%c\n", c, c == 'e' ? 'g' : 'e');
            if (c == 'f' && !*optarg)
                return Fail(kUsage, "ERROR: option -f needs a folder name\n");
            writing = writing ? writing : static_cast<char>(c);
            options.folder = c == 'f' ? optarg : options.folder;
            options.archive = options.archive || c == 'a';
            options.group = c == 'g' ? optarg : options.group;
            options.split = options.split || c == 's';
            options.each = options.each || c == 'e';
            break;
        case 'm':
            if (options.extract)
                return Fail(kUsage, "ERROR: -m does not go with -x\n");
            options.model = FindModel(optarg);
            if (!options.model)
                return Fail(kUsage, "ERROR: unknown model %s (89, 92, 92p or v200)\n", optarg);
            break;
        default: {  // a short option is known by optopt, a long one by the argument just read
            // (which some C libraries leave past the end when its value is missing)
            const char* const arg = optind - 1 < argc && argv[optind - 1] ? argv[optind - 1] : "";
            const char* const value = std::strchr(arg, '=');
            for (const option& o : kLong)
                if (o.name && o.has_arg == no_argument && value && !std::strncmp(arg, "--", 2) &&
                    !std::strncmp(o.name, arg + 2, value - arg - 2))
                    return Fail(kUsage, "ERROR: option %.*s takes no value\n", static_cast<int>(value - arg), arg);
            if (c == ':' && std::strncmp(arg, "--", 2))
                return Fail(kUsage, "ERROR: option -%c needs a value\n", optopt);
            if (c == ':')
                return Fail(kUsage, "ERROR: option %s needs a value\n", arg);
            if (optopt)
                return Fail(kUsage, "ERROR: unknown option -%c\n", optopt);
            return Fail(kUsage, "ERROR: unknown option %s\n", arg);
        }
        }
    }
    if (options.force && !options.extract)
        return Fail(kUsage, "ERROR: -F goes only with -x\n");
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
