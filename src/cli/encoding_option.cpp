#include "cli/encoding_option.h"


#include <cctype>
#include <cstring>

namespace {

// The encoding that `name` names (any case, with or without - and _), or false.
bool FindEncoding(const char* name, Encoding& encoding)
{
    char plain[16];
    std::size_t n = 0;
    for (const char* c = name; *c; ++c) {
        if (n == sizeof plain - 1)
            return false;
        if (*c != '-' && *c != '_')
            plain[n++] = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    plain[n] = '\0';
    static const struct {
        const char* name;
        Encoding encoding;
    } kNames[] = {
        {"utf8", Encoding::utf8},       {"windows1252", Encoding::windows1252}, {"cp1252", Encoding::windows1252},
        {"latin1", Encoding::windows1252}, {"iso88591", Encoding::windows1252}, {"utf16", Encoding::utf16},
        {"auto", Encoding::automatic},  {"calculator", Encoding::calculator},
    };
    for (const auto& known : kNames)
        if (!std::strcmp(plain, known.name)) {
            encoding = known.encoding;
            return true;
        }
    return false;
}

} // namespace

Message TakeEncodingOption(int c, const char* value, Options& options)
{
    if (c == 'r') {
        if (options.encoding == Encoding::calculator && options.encoding_name)
            return EncodingClash('r', options.encoding_name, true);
        options.replace = true;
        options.encoding = options.encoding == Encoding::calculator ? Encoding::utf8 : options.encoding;
        return {};
    }
    Encoding encoding = Encoding::utf8;
    if (c != 'u' && !FindEncoding(value, encoding))
        return Say(MessageCode::unknown_encoding, value);
    const Options before = options;
    options.encoding = encoding;
    options.encoding_name = c == 'u' ? nullptr : value;
    if (before.extract && !ExtractWrites(options))
        return EncodingClash('x', value, false);
    if (before.replace && encoding == Encoding::calculator)
        return EncodingClash('r', value, false);
    return {};
}

Message EncodingClash(int option, const char* name, bool encoding_first)
{
    Message m = Say(MessageCode::encoding_clash, name);
    m.numbers[0] = static_cast<std::uint32_t>(option);
    m.numbers[1] = encoding_first;
    return m;
}

bool ExtractWrites(const Options& options)
{
    return options.encoding == Encoding::utf8 || options.encoding == Encoding::calculator;
}
