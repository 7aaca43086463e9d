#include "text_encoder.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

// Line breaks and 0xFF at each edge of the 8-, 16- and 64-byte blocks that the
// encoder works in, alone or five in a block, store as anywhere else, with each
// kernel, from the bytes on disk or as the Windows text mode delivers them.
TEST(Encoder, SpecialBytesAtBlockEdges)
{
    const struct {
        LineBreaks breaks;
        std::string raw, text;
    } kinds[] = {
        {LineBreaks::crlf_or_lf, "\r\n", "\r "},      {LineBreaks::crlf_or_lf, "\n", "\r "},
        {LineBreaks::crlf_or_lf, "\r", "\r"},         {LineBreaks::crlf_or_lf, "\xFF", "\0"s},
        {LineBreaks::crlf_or_lf, "\n\r\n\xFF\n", "\r \r \0\r "s},
        {LineBreaks::lf, "\r\n", "\r\r "},          {LineBreaks::lf, "\n\n\n\n\n", "\r \r \r \r \r "},
    };
    static DataBuffer buffer;
    const std::string tail(150, 'b');
    for (const Kernel kernel : {Kernel::portable, Kernel::fastest})
        for (const auto& kind : kinds)
            for (const std::size_t at : {1, 7, 8, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128}) {
                const std::string a(at, 'a'), raw = a + kind.raw + tail;
                const std::string text = a + kind.text + tail;
                const std::size_t stored = TextBytes2DataBuffer(
                    std::span(reinterpret_cast<const unsigned char*>(raw.data()), raw.size()),
                    kind.breaks, kernel, buffer);
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()) + 3, stored), text)
                    << static_cast<int>(kernel) << " " << kind.raw.size() << " at " << at;
            }
}

} // namespace
