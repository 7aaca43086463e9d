#include "cli/folder_name.h"

#include "app/calc_name.h"
#include "app/status.h"
#include "cli/platform.h"

#include <cstring>

int FolderName(const Options& options, char (&folder)[9])
{
    if (!options.folder) {
        std::memcpy(folder, "main", 5);
        return kSuccess;
    }
    const char* source = options.utf8 ? options.folder : LegacyForm(options.folder);
    std::size_t used;
    return CalcName(source, std::strlen(source), options.utf8, "folder name", folder, used);
}
