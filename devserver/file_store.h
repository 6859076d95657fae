// The files the development server keeps for its customers, read from a data folder:
//
//   DATA/CUST/...            one folder per customer ID (1 to 4 letters, digits, - or _)
//   DATA/CUST/path/name      a stored file; its stored name is its path below CUST
//   DATA/CUST/path/name;N    generation N of the stored name "path/name" (plain: 1)
//   DATA/CUST/.index         optional lines "content|stored name|generation|description"
//                            that give a content file (path below CUST) another stored
//                            name (for example one with a backslash), a generation or a
//                            description; empty fields keep what the file name says
//
// Hidden files and folders (a name starting with ".") are never stored files. The
// stored bytes are served as they are; a client unpacks gzip content itself.
#pragma once
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "api/file_list.h"

struct StoredFile {
    std::string contentPath;   // the file on disk
    std::string relativePath;  // below the customer folder, as the key words name it
    std::string storedName;
    int32_t generation = 1;
    std::string description;
    uint64_t size = 0;
    time_t modified = 0;
    uint32_t key1 = 0;  // CRC-32 of relativePath
    uint32_t key2 = 0;  // the generation
    uint32_t key3 = 0;  // reserved, 0
};

class FileStore {
  public:
    explicit FileStore(std::string dataFolder) : data_(std::move(dataFolder)) {}
    // The customer's files in list order (stored name, then newest generation first).
    // False when the customer ID is not valid or has no folder.
    bool List(const std::string& customer, std::vector<StoredFile>* files) const;
    // CRC-32 of a file's content, remembered while its size and time stay the same.
    // False when the file cannot be read.
    bool Crc(const StoredFile& file, uint32_t* crc) const;
    // Fills a list item (FILE_LIST_ITEM_SIZE bytes).
    void MakeItem(const std::string& customer, const StoredFile& file, uint32_t crc,
                  uint8_t* item) const;
    static bool ValidCustomer(const std::string& customer);

  private:
    struct CrcEntry {
        uint64_t size;
        time_t modified;
        uint32_t crc;
    };
    std::string data_;
    mutable std::mutex mutex_;
    mutable std::map<std::string, CrcEntry> crcs_;
};
