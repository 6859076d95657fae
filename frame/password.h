// Passwords from a literal, a prompt, a password file or the password directory.
#pragma once

struct ProgramContext;

constexpr int PASSWORD_BUFFER_SIZE = 1024;

// Gets the password of a server string. out is a PASSWORD_BUFFER_SIZE buffer; returns out, or none
// when no password could be obtained. The password itself is never logged.
char* GetPassword(ProgramContext* context, const char* user, const char* passwordSource,
                  const char* tag, char* out);
