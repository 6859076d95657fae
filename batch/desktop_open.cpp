// The ways of opening a file as text, tried one after the other as each one fails.
#include "batch/desktop_open.h"

#include <wx/process.h>
#include <wx/utils.h>

#include <memory>
#include <vector>

#include "batch/program_search.h"

namespace {

struct Attempts {
    std::vector<std::vector<wxString>> commands;
    size_t next = 0;
    std::function<void(const wxString&)> failed;
};

// A program found in a folder of PATH (never the current folder), or "".
wxString InPath(const char* name) {
    return wxString::FromUTF8(SearchSystemPath(name).c_str());
}

void TryNext(std::shared_ptr<Attempts> attempts);

// Ends when the opener ends; a failure status moves on to the next way.
class OpenerProcess : public wxProcess {
  public:
    explicit OpenerProcess(std::shared_ptr<Attempts> attempts) : attempts_(std::move(attempts)) {}
    void OnTerminate(int, int status) override {
        if (status != 0) TryNext(attempts_);
        delete this;
    }

  private:
    std::shared_ptr<Attempts> attempts_;
};

void TryNext(std::shared_ptr<Attempts> attempts) {
    while (attempts->next < attempts->commands.size()) {
        const std::vector<wxString>& command = attempts->commands[attempts->next++];
        std::vector<const wxChar*> argv;
        for (const wxString& word : command) argv.push_back(word.wc_str());
        argv.push_back(nullptr);
        auto* process = new OpenerProcess(attempts);
        if (wxExecute(argv.data(), wxEXEC_ASYNC, process) > 0) return;
        delete process;
    }
    if (attempts->failed) attempts->failed("No program could open the batch log");
}

}  // namespace

void OpenAsText(const wxString& path, std::function<void(const wxString& reason)> failed) {
    auto attempts = std::make_shared<Attempts>();
    attempts->failed = std::move(failed);
    if (wxString gio = InPath("gio"); !gio.empty())
        attempts->commands.push_back({gio, "open", path});
    if (wxString xdgOpen = InPath("xdg-open"); !xdgOpen.empty())
        attempts->commands.push_back({xdgOpen, path});
    wxString editor;
    if (!wxGetEnv("VISUAL", &editor) || editor.empty()) wxGetEnv("EDITOR", &editor);
    if (!editor.empty()) {
        // The editor's text may carry its own options ("emacs -nw"): a shell splits it.
        for (const char* terminal : {"x-terminal-emulator", "xterm"}) {
            wxString program = InPath(terminal);
            if (program.empty()) continue;
            attempts->commands.push_back(
                {program, "-e", "sh", "-c", editor + " \"$1\"", "sh", path});
            break;
        }
    }
    TryNext(attempts);
}
