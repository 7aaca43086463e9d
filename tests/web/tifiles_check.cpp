// TiLP's libtifiles2 reads and writes calculator files for the browser test, apart from sorvel:
//     tifiles_check read FILE                 "group" or "single", the model, then a line for
//                                             each variable: folder, name, type and data in hex
//     tifiles_check write FILE NAME=HEX...    a TI-89 file of text variables in folder main
// The data in hex are as the file frames them: the big-endian size field, then the data.
#define restrict __restrict  // TiLP's headers are written for C99
#include <tifiles.h>
#undef restrict

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    tifiles_library_init();
    const std::string mode = argc > 2 ? argv[1] : "";
    FileContent* content = tifiles_content_create_regular(mode == "write" ? CALC_TI89 : CALC_NONE);
    int status = 2;
    if (mode == "read" && tifiles_file_read_regular(argv[2], content) == 0) {
        std::printf("%s %s\n", tifiles_file_is_group(argv[2]) ? "group" : "single", tifiles_model_to_string(content->model));
        for (unsigned i = 0; i < content->num_entries; ++i) {
            const VarEntry* v = content->entries[i];
            std::printf("%s %s %02X ", v->folder, v->name, v->type);
            for (unsigned k = 0; k < v->size; ++k)
                std::printf("%02X", v->data[k]);
            std::printf("\n");
        }
        status = 0;
    } else if (mode == "write") {
        std::strcpy(content->default_folder, "main");
        for (int i = 3; i < argc; ++i) {
            const std::string arg = argv[i], name = arg.substr(0, arg.find('=')), hex = arg.substr(name.size() + 1);
            VarEntry* ve = tifiles_ve_create_alloc_data(hex.size() / 2);
            std::strcpy(ve->folder, "main");
            std::strcpy(ve->name, name.c_str());
            ve->type = 0x0C;
            ve->size = hex.size() / 2;
            for (std::size_t k = 0; k < ve->size; ++k)
                ve->data[k] = std::stoi(hex.substr(2 * k, 2), nullptr, 16);
            tifiles_content_add_entry(content, ve);
        }
        status = tifiles_file_write_regular(argv[2], content, nullptr) ? 1 : 0;
    }
    tifiles_content_delete_regular(content);
    return status;
}
