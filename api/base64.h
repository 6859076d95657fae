// Base64 with the standard alphabet and "=" padding, no line breaks: the proxy's
// Basic credentials.
#pragma once
#include <cstddef>

// A new text of 4 * ceil(length / 3) characters and a terminating zero; the caller frees
// it with free(). An empty input, or no memory, gives none.
char* XNPBase64Encode(const void* bytes, size_t length);
