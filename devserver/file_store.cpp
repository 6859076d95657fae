// Reading the customer folders: the stored files, their generations, descriptions,
// CRC-32 and the list items built from them.
#include "devserver/file_store.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "api/byte_order.h"

namespace fs = std::filesystem;

namespace {

uint32_t TextCrc(const std::string& text) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

// "name;N" is generation N of "name".
void SplitGeneration(const std::string& relative, std::string* name, int32_t* generation) {
    *name = relative;
    *generation = 1;
    const size_t semicolon = relative.rfind(';');
    if (semicolon == std::string::npos || semicolon == 0) return;
    const std::string digits = relative.substr(semicolon + 1);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return;
    }
    *name = relative.substr(0, semicolon);
    *generation = std::stoi(digits);
}

bool Hidden(const fs::path& relative) {
    for (const fs::path& part : relative) {
        if (!part.empty() && part.native()[0] == '.') return true;
    }
    return false;
}

std::string DefaultDescription(time_t modified) {
    char text[48] = "";
    struct tm local;
    if (localtime_r(&modified, &local) != nullptr) {
        strftime(text, sizeof text, "modified %Y-%m-%d %H:%M", &local);
    }
    return text;
}

std::vector<std::string> SplitBars(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t bar = line.find('|', start);
        fields.push_back(line.substr(start, bar == std::string::npos ? bar : bar - start));
        if (bar == std::string::npos) return fields;
        start = bar + 1;
    }
}

// Applies the customer's .index lines to the scanned files.
void ApplyIndex(const fs::path& folder, std::vector<StoredFile>* files) {
    std::ifstream in(folder / ".index");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> fields = SplitBars(line);
        for (StoredFile& file : *files) {
            if (file.relativePath != fields[0]) continue;
            if (fields.size() > 1 && !fields[1].empty()) file.storedName = fields[1];
            if (fields.size() > 2 && !fields[2].empty()) {
                file.generation = static_cast<int32_t>(strtol(fields[2].c_str(), nullptr, 10));
            }
            if (fields.size() > 3) {
                // A description may itself hold bars.
                std::string description = fields[3];
                for (size_t i = 4; i < fields.size(); ++i) description += "|" + fields[i];
                file.description = description;
            }
        }
    }
}

}  // namespace

bool FileStore::ValidCustomer(const std::string& customer) {
    if (customer.empty() || customer.size() > 4) return false;
    return std::all_of(customer.begin(), customer.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

bool FileStore::List(const std::string& customer, std::vector<StoredFile>* files) const {
    files->clear();
    if (!ValidCustomer(customer)) return false;
    const fs::path folder = fs::path(data_) / customer;
    std::error_code error;
    if (!fs::is_directory(folder, error)) return false;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied,
                                          error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const fs::path relative = walk->path().lexically_relative(folder);
        if (Hidden(relative)) {
            if (walk->is_directory()) walk.disable_recursion_pending();
            continue;
        }
        struct stat status;
        if (stat(walk->path().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
        StoredFile file;
        file.contentPath = walk->path().string();
        file.relativePath = relative.string();
        SplitGeneration(file.relativePath, &file.storedName, &file.generation);
        file.size = static_cast<uint64_t>(status.st_size);
        file.modified = status.st_mtime;
        file.description = DefaultDescription(file.modified);
        files->push_back(file);
    }
    ApplyIndex(folder, files);
    for (StoredFile& file : *files) {
        file.key1 = TextCrc(file.relativePath);
        file.key2 = static_cast<uint32_t>(file.generation);
    }
    std::sort(files->begin(), files->end(), [](const StoredFile& a, const StoredFile& b) {
        if (a.storedName != b.storedName) return a.storedName < b.storedName;
        return a.generation > b.generation;
    });
    return true;
}

bool FileStore::Crc(const StoredFile& file, uint32_t* crc) const {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto known = crcs_.find(file.contentPath);
        if (known != crcs_.end() && known->second.size == file.size &&
            known->second.modified == file.modified) {
            *crc = known->second.crc;
            return true;
        }
    }
    std::ifstream in(file.contentPath, std::ios::binary);
    if (!in) return false;
    uLong running = crc32(0, nullptr, 0);
    std::vector<char> block(1 << 16);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const std::streamsize got = in.gcount();
        if (got > 0) {
            running = crc32(running, reinterpret_cast<const Bytef*>(block.data()),
                            static_cast<uInt>(got));
        }
    }
    *crc = static_cast<uint32_t>(running);
    std::lock_guard<std::mutex> lock(mutex_);
    crcs_[file.contentPath] = {file.size, file.modified, *crc};
    return true;
}

void FileStore::MakeItem(const std::string& customer, const StoredFile& file, uint32_t crc,
                         uint8_t* item) const {
    memset(item, 0, FILE_LIST_ITEM_SIZE);
    memcpy(item + ITEM_CUSTOMER_OFFSET, customer.data(),
           std::min(customer.size(), ITEM_CUSTOMER_SIZE));
    StoreLittleEndian32(item + ITEM_KEY1_OFFSET, file.key1);
    StoreLittleEndian32(item + ITEM_KEY2_OFFSET, file.key2);
    StoreLittleEndian32(item + ITEM_KEY3_OFFSET, file.key3);
    memcpy(item + ITEM_DESCRIPTION_OFFSET, file.description.data(),
           std::min(file.description.size(), ITEM_DESCRIPTION_SIZE));
    StoreLittleEndian32(item + ITEM_CRC_OFFSET, crc);
    StoreLittleEndian64(item + ITEM_SIZE_OFFSET, file.size);
    StoreLittleEndian32(item + ITEM_SECTIONS_OFFSET, SectionCount(file.size));
    StoreLittleEndian32(item + ITEM_GENERATION_OFFSET, static_cast<uint32_t>(file.generation));
    memcpy(item + ITEM_NAME_OFFSET, file.storedName.data(),
           std::min(file.storedName.size(), ITEM_NAME_SIZE));
}
