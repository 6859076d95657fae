// Output files of the report writer (the PDF document, the workbook) written whole or not
// at all: the bytes go to a hidden file beside the destination, which is made durable and
// then renamed over the destination. A failed or interrupted write never leaves a
// half-written file under the destination's name, and an existing file there stays as it
// was until the new one is complete.
#pragma once
#include <string>
#include <string_view>

// 0 when path now holds exactly bytes (an existing file's mode kept, a symbolic link
// written through). Otherwise the errno value of the failure (its
// text is strerror's), with the hidden file removed and path untouched.
int ReplaceOutputFile(const char* path, std::string_view bytes);

// Where an output file went, as the operator can find it again from any folder: the
// resolved path, or path itself when it cannot be resolved.
std::string OutputFullPath(const std::string& path);
