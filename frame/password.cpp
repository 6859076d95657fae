// Passwords (placeholder until the four forms land).
#include "frame/password.h"

char* GetPassword(ProgramContext*, const char*, const char*, const char*, char*) {
    return nullptr;
}
