// The --version answer, with the release the build was configured with.
#include "base/version_text.h"

#include "zymb_version.h"

void WriteVersion(FILE* out, const char* programName, const char* buildDate,
                  const char* buildTime) {
    fprintf(out, "%s %s\nBuilt %s %s\n", programName, ZYMB_VERSION, buildDate, buildTime);
}
