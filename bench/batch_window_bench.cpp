// batch_window_bench: a run whose child prints a flood of lines, in the batch window on a
// private Xvfb display and with ZYMBBatch --run, and how well the window answers meanwhile.
//
//     batch_window_bench [LINES] [--runs N]       (default 1000000 lines, 3 runs)
//
// For each run: the time from Run to "Program Completed" in the window, the longest gap
// between two ticks of a 10 ms timer on the window's thread from Run until the output is in
// the log ("Output Statistics"; how long an input event could have waited), and the time of
// the same definition with --run. Exit
// status 0 when the window takes at most twice the headless time and no gap reaches 100 ms.
#include <sys/stat.h>
#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/stopwatch.h>
#include <wx/timer.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "batch/app.h"
#include "batch/dialog.h"
#include "batch/output_list.h"
#include "batch/test_display.h"
#include "bench/timed_run.h"
#include "tests/support/test_support.h"

namespace {
struct WindowRun {
    double seconds = 0;
    double longestGapMs = 0;
    size_t lines = 0;
};

size_t CountTitled(const char* title) {
    size_t count = 0;
    for (const NotificationRecord& record : ZYMBApp_Current()->Notifications().Shown())
        if (record.title == title) ++count;
    return count;
}

WindowRun RunInWindow(ZYMBBatchWindow* dialog) {
    WindowRun result;
    wxGUIEventLoop loop;
    wxStopWatch clock;
    wxStopWatch sinceTick;
    size_t completedBefore = CountTitled("Program Completed");
    size_t statisticsBefore = CountTitled("Output Statistics");
    wxTimer ticker;
    ticker.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        result.longestGapMs = std::max(result.longestGapMs, static_cast<double>(sinceTick.Time()));
        sinceTick.Start();
        if (result.seconds == 0 && CountTitled("Program Completed") > completedBefore) {
            result.seconds = clock.Time() / 1000.0;
            loop.Exit();
        }
    });
    dialog->CallAfter([&] {
        clock.Start();
        sinceTick.Start();
        ticker.Start(10);
        wxCommandEvent click(wxEVT_BUTTON, ZYMBBatchWindow::ID_RUN);
        click.SetEventObject(dialog->RunButton());
        dialog->RunButton()->ProcessWindowEvent(click);
    });
    loop.Run();
    result.lines = dialog->OutputLines()->Count();
    // The run's output is in the log when the statistics are shown; the next run starts
    // after that, as a user's would.
    wxGUIEventLoop untilLogged;
    wxTimer waiter;
    waiter.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (CountTitled("Output Statistics") > statisticsBefore) untilLogged.Exit();
    });
    waiter.Start(10);
    untilLogged.Run();  // the ticker goes on: writing the log must not stall the window either
    ticker.Stop();
    return result;
}
}  // namespace

int main(int argc, char** argv) {
    long lines = 1000000;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = atoi(argv[++i]);
        else
            lines = atol(argv[i]);
    }
    TestDisplay display;
    std::string reason;
    if (!display.Start(1280, 1024, &reason)) {
        fprintf(stderr, "batch_window_bench: %s\n", reason.c_str());
        return 1;
    }
    testsupport::TempDir work;
    setenv("DISPLAY", display.Name().c_str(), 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GDK_BACKEND", "x11", 1);
    setenv("TMPDIR", work.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
    unsetenv("ZYMBUPDATEHOST");

    std::string definition = work / "flood.cvbatch";
    testsupport::WriteFile(
        definition,
        "options :\n{\n  program = \"sh\";\n  arguments = \"-c 'seq -f \\\"output "
        "line %.0f of the benchmark run\\\" 1 " +
            std::to_string(lines) + "'\";\n};\n");

    std::vector<double> headless;
    for (int run = 0; run < runs; ++run) {
        RunPlan plan;
        plan.argv = {BATCH_PROGRAM, "--run", definition};
        TimedRun timed = RunTimed(plan);
        if (timed.exitStatus != 0) {
            fprintf(stderr, "batch_window_bench: ZYMBBatch --run ended with %d\n",
                    timed.exitStatus);
            return 1;
        }
        headless.push_back(timed.seconds);
    }

    auto* app = new ZYMBApp();
    wxApp::SetInstance(app);
    int toolkitArgc = 1;  // our own arguments are not the toolkit's
    if (!wxEntryStart(toolkitArgc, argv) || !app->CallOnInit()) {
        fprintf(stderr, "batch_window_bench: the window toolkit does not start\n");
        return 1;
    }
    app->SetAppName("ZYMBBatch");
    std::vector<WindowRun> window;
    {
        auto* dialog =
            new ZYMBBatchWindow(nullptr, wxString(), &app->Settings(), &app->Notifications());
        dialog->Show();
        dialog->LoadFile(definition);
        for (int run = 0; run < runs; ++run) {
            window.push_back(RunInWindow(dialog));
            if (window.back().lines != static_cast<size_t>(lines)) {
                fprintf(stderr, "batch_window_bench: the window shows %zu lines of %ld\n",
                        window.back().lines, lines);
                return 1;
            }
        }
        app->Notifications().CloseAll();
        dialog->Destroy();
    }

    double bestHeadless = *std::min_element(headless.begin(), headless.end());
    double bestWindow = 1e9, worstGap = 0;
    printf("%ld lines, %d runs\n\n", lines, runs);
    printf(
        "| run | ZYMBBatch --run | window: Run to \"Program Completed\" | longest gap of a 10 ms "
        "timer |\n");
    printf("|---|---|---|---|\n");
    for (int run = 0; run < runs; ++run) {
        printf("| %d | %.2f s | %.2f s | %.0f ms |\n", run + 1, headless[static_cast<size_t>(run)],
               window[static_cast<size_t>(run)].seconds,
               window[static_cast<size_t>(run)].longestGapMs);
        bestWindow = std::min(bestWindow, window[static_cast<size_t>(run)].seconds);
        worstGap = std::max(worstGap, window[static_cast<size_t>(run)].longestGapMs);
    }
    double ratio = bestWindow / bestHeadless;
    printf(
        "\nbest: --run %.2f s, window %.2f s, ratio %.2f (target at most 2.00); longest gap "
        "%.0f ms (target under 100 ms)\n",
        bestHeadless, bestWindow, ratio, worstGap);
    bool met = ratio <= 2.0 && worstGap < 100;
    printf("%s\n", met ? "targets met" : "target missed");
    wxEntryCleanup();
    return met ? 0 : 2;
}
