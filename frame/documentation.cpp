// Documentation fragments (placeholder until the writer lands).
#include "frame/documentation.h"

void WriteDocumentation(ProgramContext*) {}
