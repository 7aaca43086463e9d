#include "cli/folder_name.h"

#include "app/calc_name.h"
#include "cli/platform.h"

Message FolderName(const Options& options, char (&folder)[9])
{
    const char* const source = options.folder && !options.utf8 ? LegacyForm(options.folder) : options.folder;
    return FolderName(source, options.utf8, folder);
}
