// sorvel file.txt [varname]: turns a text file into a TI-89 text variable file.
#include "oth_file.h"
#include "platform.h"
#include "safe_output.h"
#include "text_encoder.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

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

struct FreeImage {
    void operator()(unsigned char* image) const { std::free(image); }
};

DataBuffer data;

int Run(int argc, char** argv)
{
#ifdef SIGXFSZ
    // A file-size limit then fails the write, which is reported, instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    if (argc != 2 && argc != 3)
        return Fail(kUsage, "Usage: sorvel file.txt [varname]\n");

    // The input is opened by its true name; messages, the name and the output path use the
    // form the program has always known it by.
    std::FILE* in = OpenTextFile(argv[1]);
    const char* input_path = LegacyForm(argv[1]);
    if (!in)
        return Fail(kCannotRead, "ERROR: unable to open %s\n", input_path);

    // The name is the second argument, or the input path up to its first dot,
    // directory parts included; at most 8 bytes either way.
    const char* source = argc == 3 ? LegacyForm(argv[2]) : input_path;
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

    switch (Bytes2File(LegacyPath(output_path), {image.get(), image_size})) {
    case OutputStatus::written: return kSuccess;
    case OutputStatus::not_created:
        return Fail(kCannotWrite, "ERROR: unable to create %s\n", output_path);
    case OutputStatus::not_written: break;
    }
    return Fail(kCannotWrite, "ERROR: unable to write %s\n", output_path);
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
