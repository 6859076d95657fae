// Test helper: a workbook as Python's xlrd reads it (report/testdata/read_xls.py), so
// that the tests of the workbook writer and of the Excel report check it with a reader
// that is not ours.
#pragma once
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace xlsreadback {

struct Cell {
    bool number = false;
    std::string text;  // a text cell's value
    double value = 0;  // a number cell's value
};

struct Sheet {
    std::string name;
    int rows = 0, columns = 0;
    std::map<std::pair<int, int>, Cell> cells;  // by row and column; empty cells absent
    std::map<int, double> columnWidths;         // in characters, where the sheet sets one
    std::set<std::pair<int, int>> bold;         // cells in a bold font
    int frozenRows = 0, frozenColumns = 0;      // the rows and columns kept in view

    const Cell* At(int row, int column) const {
        auto found = cells.find({row, column});
        return found == cells.end() ? nullptr : &found->second;
    }
    std::string Text(int row, int column) const {
        const Cell* cell = At(row, column);
        return cell != nullptr && !cell->number ? cell->text : "(not text)";
    }
};

struct Book {
    bool read = false;
    std::string error;  // what the reader said when it could not read the workbook
    std::vector<Sheet> sheets;
};

inline std::string Unhex(const std::string& hex) {
    if (hex == "-") return "";
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// The system's python3, where the Debian package of xlrd is installed (a python3 of
// one's own on PATH usually lacks it).
inline std::string Python() {
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3"
                                                 : testsupport::FindProgram("python3");
}

// Whether python3 with xlrd is there to read workbooks.
inline bool ReaderInstalled() {
    std::string python = Python();
    if (python.empty()) return false;
    testsupport::ChildOptions options;
    options.arguments = {"-c", "import xlrd"};
    return testsupport::RunProgram(python, options).exitStatus == 0;
}

// Reads the workbook in the file at path, or the given bytes when path is empty.
inline Book Read(const std::string& path, const std::string& bytes = "") {
    const char* root = getenv("ZYMB_SOURCE_DIR");
    testsupport::ChildOptions options;
    options.arguments = {std::string(root != nullptr ? root : ".") +
                         "/report/testdata/read_xls.py"};
    if (!path.empty()) options.arguments.push_back(path);
    options.input = bytes;
    testsupport::ChildResult result = testsupport::RunProgram(Python(), options);
    Book book;
    if (result.exitStatus != 0) {
        book.error = result.err;
        return book;
    }
    for (const std::string& line : testsupport::Lines(result.out)) {
        std::vector<std::string> words;
        size_t start = 0;
        for (size_t end; (end = line.find(' ', start)) != std::string::npos; start = end + 1)
            words.push_back(line.substr(start, end - start));
        words.push_back(line.substr(start));
        if (words[0] == "sheet" && words.size() == 4) {
            book.sheets.push_back({Unhex(words[1]), std::stoi(words[2]), std::stoi(words[3]), {}});
        } else if ((words[0] == "text" || words[0] == "number") && words.size() == 4 &&
                   !book.sheets.empty()) {
            Cell cell;
            cell.number = words[0] == "number";
            if (cell.number)
                cell.value = std::stod(words[3]);
            else
                cell.text = Unhex(words[3]);
            book.sheets.back().cells[{std::stoi(words[1]), std::stoi(words[2])}] = cell;
        } else if (words[0] == "width" && words.size() == 3 && !book.sheets.empty()) {
            book.sheets.back().columnWidths[std::stoi(words[1])] = std::stod(words[2]);
        } else if (words[0] == "bold" && words.size() == 3 && !book.sheets.empty()) {
            book.sheets.back().bold.insert({std::stoi(words[1]), std::stoi(words[2])});
        } else if (words[0] == "frozen" && words.size() == 3 && !book.sheets.empty()) {
            book.sheets.back().frozenRows = std::stoi(words[1]);
            book.sheets.back().frozenColumns = std::stoi(words[2]);
        } else if (words[0] != "sheets") {
            book.error = "unexpected line from the reader: " + line;
            return book;
        }
    }
    book.read = true;
    return book;
}

}  // namespace xlsreadback
