// The PDF readers of the tests: qpdf, pdfinfo, pdftotext, pdftoppm and zbarimg, run as
// programs and their answers parsed.
#include "tests/support/pdf_readers.h"

#include <cjson/cJSON.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "tests/support/test_support.h"

namespace testsupport {
namespace {

ChildResult Run(const std::string& program, std::vector<std::string> arguments) {
    ChildOptions options;
    options.arguments = std::move(arguments);
    options.timeoutSeconds = 120;
    return RunProgram(FindProgram(program), options);
}

// The value of name="..." in an element of pdftotext's bbox output.
double Attribute(const std::string& element, const std::string& name) {
    size_t at = element.find(" " + name + "=\"");
    if (at == std::string::npos) return 0;
    return strtod(element.c_str() + at + name.size() + 3, nullptr);
}

std::string DecodeEntities(std::string text) {
    const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&#39;", "'"},
        {"&amp;", "&"}};
    for (const auto& [entity, character] : entities) {
        for (size_t at = text.find(entity); at != std::string::npos;
             at = text.find(entity, at + 1))
            text.replace(at, strlen(entity), character);
    }
    return text;
}

void ReadBookmarks(const cJSON* list, std::vector<PdfBookmark>* into) {
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, list) {
        PdfBookmark bookmark;
        if (const cJSON* title = cJSON_GetObjectItem(item, "title"); cJSON_IsString(title))
            bookmark.title = title->valuestring;
        if (const cJSON* page = cJSON_GetObjectItem(item, "destpageposfrom1");
            cJSON_IsNumber(page))
            bookmark.page = page->valueint;
        ReadBookmarks(cJSON_GetObjectItem(item, "kids"), &bookmark.children);
        into->push_back(bookmark);
    }
}

}  // namespace

std::string MissingPdfReaders() {
    std::string missing;
    for (const char* program : {"qpdf", "pdfinfo", "pdftotext", "pdftoppm", "zbarimg"})
        if (FindProgram(program).empty()) missing += std::string(missing.empty() ? "" : " ") + program;
    return missing;
}

std::string QpdfProblems(const std::string& path) {
    ChildResult result = Run("qpdf", {"--check", path});
    if (result.exitStatus == 0 && result.err.empty()) return "";
    return "qpdf --check exit " + std::to_string(result.exitStatus) + "\n" + result.out + result.err;
}

std::vector<PdfPageSize> PdfPageSizes(const std::string& path) {
    std::vector<PdfPageSize> sizes;
    ChildResult result = Run("pdfinfo", {"-f", "1", "-l", "100000", path});
    if (result.exitStatus != 0) return sizes;
    for (const std::string& line : Lines(result.out)) {
        // "Page    1 size: 612 x 792 pts (letter)"
        if (!line.starts_with("Page ") || line.find(" size: ") == std::string::npos) continue;
        PdfPageSize size;
        if (sscanf(line.c_str() + line.find(" size: ") + 7, "%lf x %lf", &size.width,
                   &size.height) == 2)
            sizes.push_back(size);
    }
    return sizes;
}

std::vector<PdfWord> PdfWords(const std::string& path) {
    std::vector<PdfWord> words;
    ChildResult result = Run("pdftotext", {"-bbox", path, "-"});
    if (result.exitStatus != 0) return words;
    int page = 0;
    double height = 0;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos) continue;
        line.erase(0, start);
        if (line.starts_with("<page ")) {
            ++page;
            height = Attribute(line, "height");
        } else if (line.starts_with("<word ")) {
            size_t open = line.find('>'), close = line.rfind("</word>");
            if (open == std::string::npos || close == std::string::npos) continue;
            PdfWord word;
            word.page = page;
            word.x = Attribute(line, "xMin");
            word.right = Attribute(line, "xMax");
            word.y = height - Attribute(line, "yMax");
            word.top = height - Attribute(line, "yMin");
            word.text = DecodeEntities(line.substr(open + 1, close - open - 1));
            words.push_back(word);
        }
    }
    return words;
}

std::string PdfPageText(const std::vector<PdfWord>& words, int page) {
    std::string text;
    for (const PdfWord& word : words)
        if (word.page == page) text += (text.empty() ? "" : " ") + word.text;
    return text;
}

const PdfWord* FindWord(const std::vector<PdfWord>& words, int page, const std::string& text) {
    for (const PdfWord& word : words)
        if (word.page == page && word.text == text) return &word;
    return nullptr;
}

bool RenderPdfPage(const std::string& path, int page, int dpi, const std::string& pngPath) {
    std::string stem = pngPath.ends_with(".png") ? pngPath.substr(0, pngPath.size() - 4) : pngPath;
    ChildResult result = Run("pdftoppm", {"-r", std::to_string(dpi), "-f", std::to_string(page),
                                          "-l", std::to_string(page), "-png", "-singlefile", path,
                                          stem});
    return result.exitStatus == 0;
}

std::vector<std::vector<std::string>> PdfQrTexts(const std::string& path) {
    std::vector<std::vector<std::string>> pages;
    TempDir folder;
    size_t count = PdfPageSizes(path).size();
    for (size_t page = 1; page <= count; ++page) {
        std::string png = folder / ("page-" + std::to_string(page) + ".png");
        std::vector<std::string> texts;
        if (RenderPdfPage(path, static_cast<int>(page), 150, png)) {
            // Raw bytes of the symbol, not a guess at their character set.
            ChildResult result = Run("zbarimg", {"--quiet", "--raw", "-Sbinary", png});
            for (const std::string& text : Lines(result.out))
                if (!text.empty()) texts.push_back(text);
        }
        pages.push_back(texts);
    }
    return pages;
}

std::vector<PdfBookmark> PdfOutline(const std::string& path) {
    std::vector<PdfBookmark> outline;
    ChildResult result = Run("qpdf", {"--json", "--json-key=outlines", path});
    cJSON* json = cJSON_Parse(result.out.c_str());
    if (json == nullptr) return outline;
    ReadBookmarks(cJSON_GetObjectItem(json, "outlines"), &outline);
    cJSON_Delete(json);
    return outline;
}

}  // namespace testsupport
