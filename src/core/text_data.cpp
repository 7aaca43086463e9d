#include "core/text_data.h"

bool IsTextData(std::span<const unsigned char> data)
{
    const std::size_t n = data.size();
    return n >= 4 && data[n - 2] == kDataClose[0] && data[n - 1] == kDataClose[1];
}
