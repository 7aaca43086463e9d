// sorvel file.txt [varname]: turns a text file into a TI-89 text variable file.
#include "oth_file.h"
#include "text_encoder.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

#ifdef _WIN32
// The runtime's start-up expands wildcards in the arguments, as a Windows shell does not.
extern "C" {
int _dowildcard = -1;
}
#endif

namespace {

enum ExitStatus : int {
    kSuccess = 0,
    kUsage = 1,
    kCannotRead = 2,   // input not opened, or a read failed
    kTooBig = 3,
    kNoImage = 4,
    kCannotWrite = 5,  // output not created, or not written completely
};

// Prints the one line that reports a failure on standard output.
int Fail(ExitStatus status, const char* format, const char* subject = "")
{
    std::printf(format, subject);
    return status;
}

// Writes the image and closes the file; true only if every byte reached it.
bool WriteFile(std::FILE* out, const unsigned char* image, std::uint32_t size)
{
    const bool written = std::fwrite(image, 1, size, out) == size;
    return std::fclose(out) == 0 && written;
}

// Removes what a failed write left at path, unless path names no regular file.
void RemoveIncomplete(const char* path)
{
    struct stat st;
    if (stat(path, &st) == 0 && S_ISREG(st.st_mode))
        std::remove(path);
}

struct FreeImage {
    void operator()(unsigned char* image) const { std::free(image); }
};

DataBuffer data;

} // namespace

int main(int argc, char** argv)
{
#ifdef SIGXFSZ
    // A file-size limit then fails the write, which is reported, instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    if (argc != 2 && argc != 3)
        return Fail(kUsage, "Usage: sorvel file.txt [varname]\n");

    const char* input_path = argv[1];
    std::FILE* in = OpenTextFile(input_path);
    if (!in)
        return Fail(kCannotRead, "ERROR: unable to open %s\n", input_path);

    // The name is the second argument, or the input path up to its first dot,
    // directory parts included; at most 8 bytes either way.
    const char* source = argc == 3 ? argv[2] : input_path;
    const char stop = argc == 3 ? '\0' : '.';
    char name[9] = {};
    for (int i = 0; i < 8 && source[i] != '\0' && source[i] != stop; ++i)
        name[i] = source[i];
    char output_path[13];
    std::snprintf(output_path, sizeof output_path, "%s.89t", name);

    const EncodeResult text = TextFile2DataBuffer(in, data);
    std::fclose(in);
    if (text.status == EncodeStatus::read_failed)
        return Fail(kCannotRead, "ERROR: unable to read %s\n", input_path);
    if (text.status == EncodeStatus::too_big)
        return Fail(kTooBig, "ERROR: text file too big\n");

    std::uint32_t image_size = 0;
    const std::unique_ptr<unsigned char, FreeImage> image(
        DataBuffer2OTHBuffer(name, text.length, data.data(), &image_size));
    if (!image)
        return Fail(kNoImage, "ERROR: out of memory\n");

    std::FILE* out = std::fopen(output_path, "wb");
    if (!out)
        return Fail(kCannotWrite, "ERROR: unable to create %s\n", output_path);
    if (!WriteFile(out, image.get(), image_size)) {
        RemoveIncomplete(output_path);
        return Fail(kCannotWrite, "ERROR: unable to write %s\n", output_path);
    }
    return kSuccess;
}
