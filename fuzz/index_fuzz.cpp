// Fuzz target for a customer folder's .index: the input is the file, beside a few stored
// files; every file listed must make a whole list item.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "devserver/file_store.h"
#include "fuzz/fuzz_support.h"

namespace {

const std::string& DataFolder() {
    static const std::string data = [] {
        const std::string folder = ScratchFolder() + "/data";
        mkdir(folder.c_str(), 0700);
        mkdir((folder + "/ACME").c_str(), 0700);
        mkdir((folder + "/ACME/logs").c_str(), 0700);
        WriteScratchFile("data/ACME/report.csv", "id,value\n1,one\n");
        WriteScratchFile("data/ACME/report.csv;2", "id,value\n1,one\n2,two\n");
        WriteScratchFile("data/ACME/logs/app.log", "log line\n");
        WriteScratchFile("data/ACME/empty.txt", "");
        return folder;
    }();
    return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = DataFolder();
    WriteScratchFile("data/ACME/.index", {reinterpret_cast<const char*>(data), size});
    FileStore files(folder);
    std::vector<StoredFile> list;
    if (!files.List("ACME", &list) || list.size() != 4) abort();
    for (const StoredFile& file : list) {
        uint32_t crc = 0;
        if (!files.Crc(file, &crc)) abort();
        std::vector<uint8_t> item(FILE_LIST_ITEM_SIZE + 1, 0xEE);
        files.MakeItem("ACME", file, crc, item.data());
        if (item[FILE_LIST_ITEM_SIZE] != 0xEE) abort();  // nothing written past the item
    }
    return 0;
}
