// Reference documentation fragments of a program's options, written when DOCBOOK is set.
#pragma once
#include "frame/program_context.h"

// Writes <program>_refnamediv.xml, <program>_refsynopsisdiv.xml and <program>_options.xml
// into the working directory; a file that cannot be created is skipped.
void WriteDocumentation(ProgramContext* context);
