// Passwords from a literal, a prompt on the terminal, a password file, or a file in the
// ZYMBPWPATH or default password directory. The password itself never reaches a message.
#include "frame/password.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/value_format.h"
#include "frame/program_context.h"
#include "platform/io.h"

namespace {
constexpr char DEFAULT_PASSWORD_DIRECTORY[] = "/etc/corvantix/pw/%s";
constexpr size_t PASSWORD_LIMIT = PASSWORD_BUFFER_SIZE - 1;
constexpr unsigned char KEY_INTERRUPT = 0x03;     // Control-C
constexpr unsigned char KEY_END_OF_INPUT = 0x04;  // Control-D

// Hands a Control-C typed at the prompt to the program's interrupt handling. Where a
// thread receives the signal, it ends the process; give it time to, then carry on as a
// failed prompt (the signal may be ignored, or nobody may be waiting for it).
void RaiseInterrupt() {
    struct sigaction current;
    if (sigaction(SIGINT, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
    kill(getpid(), SIGINT);
    for (int i = 0; i < 50; ++i) usleep(100 * 1000);
}

void WritePrompt() {
    fputs("Password:\r\n", stdout);
    fflush(stdout);
}

// Prompts, then reads keystrokes from the controlling terminal with echo and line editing
// off, one byte at a time, until Enter or PASSWORD_LIMIT characters. Returns 1 with the
// text in out, or 0 (with a reason in why) when the terminal cannot be used or input
// ended first. The terminal is set up before the prompt shows, so that nothing typed in
// answer to it is echoed.
int ReadPasswordKeys(char* out, const char** why) {
    int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios saved;
    if (terminal < 0 || tcgetattr(terminal, &saved) != 0) {
        *why = strerror(errno);
        if (terminal >= 0) close(terminal);
        WritePrompt();
        return 0;
    }
    termios raw = saved;
    // Signals off as well: a Control-C that ended the process here would leave the
    // terminal without echo. It is taken as a key, and re-raised once the terminal is back.
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(terminal, TCSAFLUSH, &raw);
    WritePrompt();

    size_t stored = 0;
    int result = 0;
    bool interrupted = false;
    *why = "input ended before Enter";
    while (stored < PASSWORD_LIMIT) {
        unsigned char key = 0;
        ssize_t n = read(terminal, &key, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || key == KEY_END_OF_INPUT) break;
        if (key == KEY_INTERRUPT) {
            interrupted = true;
            break;
        }
        if (key == '\r' || key == '\n') {
            result = 1;
            break;
        }
        out[stored++] = static_cast<char>(key);
        WriteAll(STDERR_FILENO, "*", 1);
    }
    if (stored == PASSWORD_LIMIT) result = 1;
    out[stored] = 0;
    tcsetattr(terminal, TCSAFLUSH, &saved);
    close(terminal);
    WriteAll(STDERR_FILENO, "\n", 1);
    if (result == 0) memset(out, 0, PASSWORD_BUFFER_SIZE);
    if (interrupted) {
        *why = "interrupted";
        RaiseInterrupt();
    }
    return result;
}

// Keeps the characters of a password file line that can be typed: line ends, other
// control bytes and zero bytes go; bytes of 0x80 and above (UTF-8 letters) stay.
size_t KeepTypedCharacters(char* text, size_t length) {
    size_t kept = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte != 0x7F) text[kept++] = text[i];
    }
    text[kept] = 0;
    return kept;
}

// Reads the first line of the file (at most PASSWORD_LIMIT bytes) into out.
// Returns 0 and sets errno when the file cannot be opened or read.
int ReadPasswordFile(const char* fileName, char* out) {
    FILE* file = fopen(fileName, "re");
    if (file == nullptr) return 0;
    // Unbuffered: no stdio buffer keeps a copy of the password after the file is closed.
    setvbuf(file, nullptr, _IONBF, 0);
    size_t length = 0;
    int c = 0;
    while (length < PASSWORD_LIMIT && (c = fgetc(file)) != EOF && c != '\n')
        out[length++] = static_cast<char>(c);
    bool failed = ferror(file) != 0;
    int readError = errno;
    fclose(file);
    if (failed) {
        memset(out, 0, PASSWORD_BUFFER_SIZE);
        errno = readError;
        return 0;
    }
    KeepTypedCharacters(out, length);
    TrimBlanks(out);
    return 1;
}
}  // namespace

char* GetPassword(ProgramContext* context, const char* user, const char* passwordSource,
                  const char*, char* out) {
    memset(out, 0, PASSWORD_BUFFER_SIZE);
    if (user == nullptr) user = "";
    if (passwordSource == nullptr) passwordSource = "";
    char fileName[PASSWORD_BUFFER_SIZE] = "";

    if (passwordSource[0] == '-') {
        // A password that does not fit would be sent cut, and fail for a reason no one sees.
        if (strlen(passwordSource + 1) > PASSWORD_LIMIT) {
            Message(context, MSG_ERROR, 1,
                    "Password given in the server string is longer than %u characters",
                    static_cast<unsigned>(PASSWORD_LIMIT));
            return nullptr;
        }
        snprintf(out, PASSWORD_BUFFER_SIZE, "%s", passwordSource + 1);
        return out;
    }
    if (passwordSource[0] == '+') {
        // A web request has nobody at a keyboard: its standard output is the answer to the
        // client, and the terminal it might find belongs to whoever started the server.
        if ((context->flags & CTX_CGI) != 0) {
            Message(context, MSG_ERROR, 1,
                    "Password not read from the terminal: no prompt for a CGI request");
            return nullptr;
        }
        const char* why = "";
        if (ReadPasswordKeys(out, &why)) return out;
        Message(context, MSG_ERROR, 1, "Password not read from the terminal: %s", why);
        return nullptr;
    }
    if (passwordSource[0] != 0) {
        snprintf(fileName, sizeof fileName, "%s", passwordSource);
    } else {
        Message(context, MSG_INFO, 1,
                "Password value is empty so checking for environment variable "
                "(ZYMBPWPATH)");
        const char* directory = getenv("ZYMBPWPATH");
        if (directory != nullptr) {
            snprintf(fileName, 256, "%s/%s", directory, user);
            Message(context, MSG_INFO, 1, "Password value set from environment to: %s", fileName);
        } else {
            snprintf(fileName, 255, DEFAULT_PASSWORD_DIRECTORY, user);
            Message(context, MSG_WARNING, 1, "No password file passed, defaulting to: %s",
                    fileName);
        }
    }

    Message(context, MSG_INFO, 1, "Getting password from Password File: %s", fileName);
    if (!ReadPasswordFile(fileName, out)) {
        Message(context, MSG_ERROR, 1, "Failed to open Password File: %s (%s)", strerror(errno),
                fileName);
        return nullptr;
    }
    Message(context, MSG_INFO, 1, "Password obtained OK");
    return out;
}
