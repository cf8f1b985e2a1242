// Times the window's backup and restore commands, clicked on the real Qt
// window, against gbak and fbsvcmgr doing the same through the server's
// service manager with the same options. Runs alternate in one process run,
// each starting with the next contender; prints medians, what the window's
// repaints cost per output line (the same command once with real repaints
// and once with repaints that do nothing), how long each backup's
// transaction stayed open on the server (its trace), the window's processor
// time and its peak memory during a backup against its idle memory, and
// last the ratios of the window to the fastest peer of the same run.
//
//   bench_commands [--rows N] [--tables N] [--runs N] [--dir FOLDER] [--keep]
//   bench_commands --screenshot FILE [--rows N] [--dir FOLDER]
//
// --tables adds N small tables with an index each to the generated database
// (each adds about 21 lines to a verbose backup).
// --screenshot runs one backup and, after 50 output lines, captures the
// screen's picture of the window with `import` (run it under Xvfb with
// QT_QPA_PLATFORM=xcb); otherwise the window is offscreen.
#include <QApplication>
#include <QWidget>
#include <QWindow>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "bench/BenchCommon.h"
#include "app/RKSysUtils.h"
#include "app/Settings.h"
#include "client/SuiteAccount.h"
#include "gui/QtViews.h"

namespace {

namespace fs = std::filesystem;

const std::string kHost = "127.0.0.1";
const std::string kUser = fib::SuiteUserName;
const std::string kPassword = fib::SuitePassword;

const bench::TServer kServer{kHost, kUser, kPassword};

// Runs a program with its output thrown away (its error output is kept);
// returns its exit code.
int Run(const std::vector<std::string>& args) {
    return bench::Run(args, bench::TStderr::Keep);
}

void Check(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "%s failed\n", what.c_str());
        std::exit(1);
    }
}

// --- the window's bars and boxes with switchable repaints ---------------------

struct TRepaints {
    bool Real = true;
    long long Count = 0;
    double Seconds = 0; // spent inside the real repaints
    // Called after each repaint of a progress bar.
    std::function<void(int position)> OnBarRepaint;
};

// One repaint of a wrapped bar or box: counted, and done (timed) only while
// repaints are real.
void RepaintInner(TRepaints& repaints, app::IWidget& inner) {
    ++repaints.Count;
    if (repaints.Real) {
        repaints.Seconds += bench::Seconds([&] { inner.Repaint(); });
    }
}

class TBar : public app::IProgressBar {
public:
    TBar(std::unique_ptr<app::IProgressBar> inner, TRepaints& repaints)
        : FInner(std::move(inner)), FRepaints(repaints) {}
    const std::string& Name() const override { return FInner->Name(); }
    bool Visible() const override { return FInner->Visible(); }
    void SetVisible(bool value) override { FInner->SetVisible(value); }
    void Repaint() override {
        RepaintInner(FRepaints, *FInner);
        if (FRepaints.OnBarRepaint) {
            FRepaints.OnBarRepaint(Position());
        }
    }

protected:
    void PositionChanged() override { FInner->SetPosition(Position()); }

private:
    std::unique_ptr<app::IProgressBar> FInner;
    TRepaints& FRepaints;
};

class TMemo : public app::IMemo {
public:
    TMemo(std::unique_ptr<app::IMemo> inner, TRepaints& repaints)
        : FInner(std::move(inner)), FRepaints(repaints) {}
    const std::string& Name() const override { return FInner->Name(); }
    bool Visible() const override { return FInner->Visible(); }
    void SetVisible(bool value) override { FInner->SetVisible(value); }
    void Repaint() override { RepaintInner(FRepaints, *FInner); }
    void Clear() override { FInner->Clear(); }
    std::vector<std::string> Lines() const override { return FInner->Lines(); }

protected:
    // The lines are split already; a batch stays a batch.
    void AppendLines(const std::vector<std::string>& lines) override { FInner->AppendBatch(lines); }

private:
    std::unique_ptr<app::IMemo> FInner;
    TRepaints& FRepaints;
};

class TFactory : public app::IWidgetFactory, public app::IClock {
public:
    TFactory(gui::TQtHost& qt, TRepaints& repaints) : FQt(qt), FRepaints(repaints) {}

    std::unique_ptr<app::IFormView> CreateForm(const app::TControlDef& def) override {
        return FQt.CreateForm(def);
    }
    std::unique_ptr<app::IGroupBox> CreateGroupBox(app::IWidget* p,
                                                   const app::TControlDef& d) override {
        return FQt.CreateGroupBox(p, d);
    }
    std::unique_ptr<app::ILabel> CreateLabel(app::IWidget* p, const app::TControlDef& d) override {
        return FQt.CreateLabel(p, d);
    }
    std::unique_ptr<app::IButtonEdit> CreateButtonEdit(app::IWidget* p,
                                                       const app::TControlDef& d) override {
        return FQt.CreateButtonEdit(p, d);
    }
    std::unique_ptr<app::IButton> CreateButton(app::IWidget* p,
                                               const app::TControlDef& d) override {
        return FQt.CreateButton(p, d);
    }
    std::unique_ptr<app::IMemo> CreateMemo(app::IWidget* p, const app::TControlDef& d) override {
        return std::make_unique<TMemo>(FQt.CreateMemo(p, d), FRepaints);
    }
    std::unique_ptr<app::IProgressBar> CreateProgressBar(app::IWidget* p,
                                                         const app::TControlDef& d) override {
        return std::make_unique<TBar>(FQt.CreateProgressBar(p, d), FRepaints);
    }
    std::unique_ptr<app::IFileList> CreateFileList(app::IWidget* p,
                                                   const app::TControlDef& d) override {
        return FQt.CreateFileList(p, d);
    }

    // Each backup gets a minute of its own, so every run writes a new file.
    app::TDateTime Now() const override {
        app::TDateTime now{2024, 6, 19, 0, 0, 0, 0};
        now.Hour = (FMinutes / 60) % 24;
        now.Minute = FMinutes % 60;
        ++FMinutes;
        return now;
    }

private:
    gui::TQtHost& FQt;
    TRepaints& FRepaints;
    mutable int FMinutes = 0;
};

void RemoveBackups(const std::string& folder, const std::string& keep) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename() != keep) {
            fs::remove(entry.path());
        }
    }
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("LC_ALL", "C.UTF-8", 1);
    std::setlocale(LC_ALL, "");
    unsetenv("ISC_USER");
    unsetenv("ISC_PASSWORD");

    int rows = 1000000;
    int tables = 0;
    int runs = 3;
    std::string dir;
    std::string screenshot;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rows" && i + 1 < argc) {
            rows = std::atoi(argv[++i]);
        } else if (a == "--tables" && i + 1 < argc) {
            tables = std::max(0, std::atoi(argv[++i]));
        } else if (a == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (a == "--screenshot" && i + 1 < argc) {
            screenshot = fs::absolute(argv[++i]).string();
        } else if (a == "--keep") {
            keep = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--rows N] [--tables N] [--runs N] [--dir FOLDER] [--keep] "
                         "[--screenshot FILE]\n",
                         argv[0]);
            return 2;
        }
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(app::ApplicationTitle));
    QApplication::setFont(gui::WindowFont());

    const bool madeDir = dir.empty();
    if (madeDir) {
        char pattern[] = "/var/tmp/slv-bench-commands-XXXXXX";
        Check(mkdtemp(pattern) != nullptr, "mkdtemp");
        dir = pattern;
    }
    const std::string dbFolder = dir + "/db";
    const std::string backupFolder = dir + "/backup";
    const std::string toolFolder = dir + "/tool/";
    for (const std::string& f : {dir, dbFolder, backupFolder, toolFolder}) {
        fs::create_directories(f);
        chmod(f.c_str(), 0777);
    }
    const std::string db = dbFolder + "/SOLVANE.FDB";
    if (!fs::exists(db)) {
        std::printf("creating %s with %d rows and %d more tables...\n", db.c_str(), rows, tables);
        std::fflush(stdout);
        Check(bench::CreateDatabase(kServer, db, rows, tables), "creating " + db);
    }
    // The restores read one backup, made once by gbak.
    const std::string source = "source.fbk";
    if (screenshot.empty() && !fs::exists(backupFolder + "/" + source)) {
        Check(Run(bench::GbakBackupArgs(kServer, db, backupFolder + "/" + source, false)) == 0,
              "gbak backup of the restore source");
    }
    RemoveBackups(backupFolder, source);

    app::SetToolFolderOverride(toolFolder);
    {
        std::ofstream ini(toolFolder + "Environment.ini");
        ini << "[SYSTEM]\nDBSvrIP=" << kHost << "\nDBPathDB=" << db
            << "\n[SYSSETUP]\nDBBackPOS=" << backupFolder << "/\n";
    }
    // Error boxes, which end a run; the restore's box saying it is done is
    // not one.
    std::vector<std::string> boxes;
    app::SetMessageBoxPresenter([&](const std::string& text, const std::string&, int flags) {
        if (flags != app::MB_OK_INFORMATION) {
            boxes.push_back(text);
        }
        return 1;
    });

    gui::TQtHost qt;
    TRepaints repaints;
    TFactory factory(qt, repaints);
    app::TFormHost host = qt.Host();
    host.Widgets = &factory;
    host.Clock = &factory;
    rtl::TComponent owner(nullptr);
    auto* form = new app::TmainForm(&owner, host);
    form->Show();
    QApplication::processEvents();
    if (!screenshot.empty()) {
        // On a fresh X server the window is mapped a moment after Show; a
        // small database reaches its 50th output line before that, and the
        // picture would be black.
        QWindow* window = qt.Window()->windowHandle();
        for (int i = 0; i < 500 && (window == nullptr || !window->isExposed()); ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            window = qt.Window()->windowHandle();
        }
        QApplication::processEvents();
    }

    std::map<std::string, std::vector<double>> inRepaint;
    // The processor time the window's process spent on each command (its
    // window and its reader).
    std::map<std::string, std::vector<double>> processor;
    // Clicks one of the window's commands and times it; checks that it ended
    // with `doneLine` in its output and no message box. Returns the seconds
    // and the number of output lines.
    const auto runCommand = [&](app::IButton& button, const app::IMemo& memo, const char* name,
                                const std::string& doneLine, bool realRepaints) {
        repaints.Real = realRepaints;
        repaints.Count = 0;
        repaints.Seconds = 0;
        const double cpu = bench::ProcessorSeconds();
        const double s = bench::Seconds([&] { button.Click(); });
        if (realRepaints) {
            inRepaint[name].push_back(repaints.Seconds);
            processor[name].push_back(bench::ProcessorSeconds() - cpu);
        }
        const auto lines = memo.Lines();
        Check(boxes.empty() && Contains(lines, doneLine), std::string("the window's ") + name);
        return std::make_pair(s, static_cast<double>(lines.size()));
    };
    const auto backup = [&](bool realRepaints) {
        const auto result = runCommand(*form->btnBackupDB, *form->Memo1, "backup",
                                       "====== 백업 완료 ======", realRepaints);
        RemoveBackups(backupFolder, source);
        return result;
    };

    if (!screenshot.empty()) {
        bool taken = false;
        repaints.OnBarRepaint = [&](int position) {
            if (position == 50 && !taken) {
                taken = true;
                const std::string id =
                    std::to_string(static_cast<unsigned long>(qt.Window()->winId()));
                Run({"import", "-window", id, screenshot});
            }
        };
        backup(true);
        std::printf("%s %s\n", taken ? "wrote" : "no picture taken:", screenshot.c_str());
        delete form;
        if (madeDir && !keep) {
            fs::remove_all(dir);
        }
        return taken ? 0 : 1;
    }

    // Choose the restore source in the list, as the user would.
    form->fbBackup->Update();
    const auto& items = form->fbBackup->Items();
    const auto at = std::find(items.begin(), items.end(), source);
    Check(at != items.end(), "finding the restore source in the list");
    form->fbBackup->UserSelected(static_cast<int>(at - items.begin()));

    const std::string windowTarget = dbFolder + "/SOLVANE복원.fdb";
    const std::string gbakTarget = dbFolder + "/gbak.fdb";
    const std::string fbsvcmgrTarget = dbFolder + "/fbsvcmgr.fdb";
    const auto restore = [&](bool realRepaints) {
        fs::remove(windowTarget);
        return runCommand(*form->btnRestoreDB, *form->Memo2, "restore",
                          "====== 복원 완료 ======", realRepaints);
    };

    // One untimed round first: the client library is loaded and the window
    // painted once before anything is measured. The window's memory is taken
    // before it, idle as the user opens it, and at its peak during that
    // first backup.
    const long idleKiB = bench::ResidentKiB();
    bench::ResetPeakResident();
    backup(true);
    const long backupPeakKiB = bench::PeakResidentKiB();
    restore(true);
    inRepaint.clear();

    // The server's record of the backups' transactions: how long each one
    // held its transaction open on the database.
    bench::TTransactionTrace trace(kServer, db, dir);
    // When each backup ran, by who, in seconds of the system clock.
    std::vector<std::pair<std::string, bench::TTransactionTrace::TSpan>> backupRuns;
    const auto traced = [&](const std::string& who, const std::function<void()>& work) {
        const double start = bench::Now();
        work();
        backupRuns.push_back({who, {start, bench::Now()}});
    };

    std::map<std::string, std::vector<double>> times;
    double backupLines = 0;
    double restoreLines = 0;
    // The contenders of each work, run one after the other; each run starts
    // with the next one, so that none always follows the same work (the
    // server still writing out the previous one's files, say).
    using TSteps = std::vector<std::function<void()>>;
    const TSteps backups = {
        [&] {
            traced("window", [&] {
                auto [b, bl] = backup(true);
                times["backup window"].push_back(b);
                backupLines = bl;
            });
        },
        [&] {
            traced("gbak -se", [&] {
                times["backup gbak"].push_back(bench::Seconds([&] {
                    Check(Run(bench::GbakBackupArgs(kServer, db, backupFolder + "/gbak.fbk",
                                                    true)) == 0,
                          "gbak backup");
                }));
            });
            RemoveBackups(backupFolder, source);
        },
        [&] {
            traced("fbsvcmgr", [&] {
                times["backup fbsvcmgr"].push_back(bench::Seconds([&] {
                    Check(Run(bench::FbsvcmgrBackupArgs(kServer, db,
                                                        backupFolder + "/fbsvcmgr.fbk")) == 0,
                          "fbsvcmgr backup");
                }));
            });
            RemoveBackups(backupFolder, source);
        },
        [&] { times["backup window, no repaints"].push_back(backup(false).first); },
    };
    const TSteps restores = {
        [&] {
            auto [r, rl] = restore(true);
            times["restore window"].push_back(r);
            restoreLines = rl;
        },
        [&] {
            fs::remove(gbakTarget);
            times["restore gbak"].push_back(bench::Seconds([&] {
                Check(Run(bench::GbakRestoreArgs(kServer, backupFolder + "/" + source, gbakTarget,
                                                 true)) == 0,
                      "gbak restore");
            }));
        },
        [&] {
            fs::remove(fbsvcmgrTarget);
            times["restore fbsvcmgr"].push_back(bench::Seconds([&] {
                Check(Run(bench::FbsvcmgrRestoreArgs(kServer, backupFolder + "/" + source,
                                                     fbsvcmgrTarget)) == 0,
                      "fbsvcmgr restore");
            }));
        },
        [&] { times["restore window, no repaints"].push_back(restore(false).first); },
    };
    for (int run = 1; run <= runs; ++run) {
        std::printf("run %d of %d\n", run, runs);
        std::fflush(stdout);
        for (const TSteps* steps : {&backups, &restores}) {
            for (size_t i = 0; i < steps->size(); ++i) {
                (*steps)[(i + static_cast<size_t>(run - 1)) % steps->size()]();
            }
        }
        for (const auto& [name, list] : times) {
            std::printf("  %-28s %8.3f s\n", name.c_str(), list.back());
        }
        std::fflush(stdout);
    }

    // Each backup's transaction: the longest one that began while it ran.
    std::map<std::string, std::vector<double>> held;
    const std::vector<bench::TTransactionTrace::TSpan> spans = trace.Stop();
    for (const auto& [who, run] : backupRuns) {
        double longest = 0;
        for (const auto& span : spans) {
            if (span.Start >= run.Start && span.Start <= run.End) {
                longest = std::max(longest, span.End - span.Start);
            }
        }
        if (longest > 0) {
            held[who].push_back(longest);
        }
    }

    const auto median = [&](const char* name) { return bench::Median(times[name]); };
    const double bw = median("backup window");
    const double bn = median("backup window, no repaints");
    const double rw = median("restore window");
    const double rn = median("restore window, no repaints");
    std::printf("\n%d rows, %d more tables, %d runs, medians:\n", rows, tables, runs);
    std::printf(
        "backup   window %8.3f s   no repaints %8.3f s   gbak -se %8.3f s   fbsvcmgr %8.3f s"
        "   (%.0f lines in Memo1)\n",
        bw, bn, median("backup gbak"), median("backup fbsvcmgr"), backupLines);
    std::printf(
        "restore  window %8.3f s   no repaints %8.3f s   gbak -se %8.3f s   fbsvcmgr %8.3f s"
        "   (%.0f lines in Memo2)\n",
        rw, rn, median("restore gbak"), median("restore fbsvcmgr"), restoreLines);
    std::printf("repaints per output line: backup %.1f us, restore %.1f us; time inside the "
                "repaints per output line: backup %.1f us, restore %.1f us\n",
                (bw - bn) / backupLines * 1e6, (rw - rn) / restoreLines * 1e6,
                bench::Median(inRepaint["backup"]) / backupLines * 1e6,
                bench::Median(inRepaint["restore"]) / restoreLines * 1e6);
    if (held["window"].empty() || held["fbsvcmgr"].empty()) {
        std::printf("backup transaction on the server: not traced\n");
    } else {
        std::printf("backup transaction on the server (median): window %.3f s, gbak -se %.3f s, "
                    "fbsvcmgr %.3f s; window/fbsvcmgr %.3f\n",
                    bench::Median(held["window"]), bench::Median(held["gbak -se"]),
                    bench::Median(held["fbsvcmgr"]),
                    bench::Median(held["window"]) / bench::Median(held["fbsvcmgr"]));
        for (const char* who : {"window", "fbsvcmgr"}) {
            std::printf("  %s, each run:", who);
            for (const double seconds : held[who]) {
                std::printf(" %.3f", seconds);
            }
            std::printf("\n");
        }
    }
    std::printf("window's processor time per command (median): backup %.3f s, restore %.3f s\n",
                bench::Median(processor["backup"]), bench::Median(processor["restore"]));
    std::printf("window memory: idle %.1f MB, peak during its first backup of %.0f lines %.1f MB "
                "(+%.1f MB)\n",
                idleKiB / 1024.0, backupLines, backupPeakKiB / 1024.0,
                (backupPeakKiB - idleKiB) / 1024.0);
    // Last: the window against the fastest peer of the same run.
    for (const char* what : {"backup", "restore"}) {
        const std::string w = what;
        const double gbak = median((w + " gbak").c_str());
        const double svcmgr = median((w + " fbsvcmgr").c_str());
        std::printf("fastest %s peer: %s\n", what, gbak <= svcmgr ? "gbak -se" : "fbsvcmgr");
    }
    for (const char* what : {"backup", "restore"}) {
        const std::string w = what;
        const double fastest =
            std::min(median((w + " gbak").c_str()), median((w + " fbsvcmgr").c_str()));
        std::printf("ratio %s window/fastest-peer %.3f\n", what,
                    median((w + " window").c_str()) / fastest);
    }

    delete form;
    app::SetMessageBoxPresenter(nullptr);
    if (madeDir && !keep) {
        fs::remove_all(dir);
    }
    return 0;
}
