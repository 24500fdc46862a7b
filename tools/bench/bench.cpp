// bench BUILD_DIR [RUNS [SMALL_RUNS]]
//
// The benchmark that `make bench` runs under Wine: measures setup.exe and
// its variants against their yardsticks, each figure the median of RUNS
// runs (default 5; the 2000-file package, whose pauses alone last 400 s a
// run, SMALL_RUNS, default 3; 0 leaves it out), with the minimum and
// maximum, and prints one table. BUILD_DIR is the cross build tree as Wine
// sees it (Z:\...).
//
// A run of a package installs it once watching only the copying page's
// titles, for the steps' times, runs the two yardsticks, and installs it
// again watching everything (memory, hung state, the progress bar) for the
// figures that need it; the difference is the observer's own cost.
//
// Built for 32-bit Windows it measures the shipped setup; built for 64-bit
// Windows (the twin, on machines that cannot run 32-bit programs) it
// measures the twin and says so: every reference is built for the same
// architecture and measured in the same run.
//
// Exit code 0 when every measurement ran, whether or not it met its
// target; 1 when something could not be measured.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_run.h"
#include "core/setup.h"
#include "tests/driver/uidriver.h"

namespace {

const int FIRST_PAGE_TIMEOUT_MS = 30000;
const wchar_t INSTALL_FOLDER[] = L"C:\\bench-install";

struct Stats {
    double median = 0, min = 0, max = 0;
};

Stats Summarise(std::vector<double> values)
{
    Stats s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    s.min = values.front();
    s.max = values.back();
    return s;
}

std::string Format(const Stats& s, const char* unit = "")
{
    char text[96];
    std::snprintf(text, sizeof text, "%.1f%s [%.1f .. %.1f]", s.median, unit, s.min, s.max);
    return text;
}

void Row(const std::string& figure, const std::string& setup, const std::string& reference,
         const std::string& ratio, const std::string& target)
{
    std::printf("%-52s %-30s %-40s %-6s %s\n", figure.c_str(), setup.c_str(), reference.c_str(),
                ratio.c_str(), target.c_str());
}

std::string Ratio(double a, double b)
{
    char text[32];
    if (b <= 0)
        return "-";
    std::snprintf(text, sizeof text, "%.2f", a / b);
    return text;
}

std::string Verdict(bool met, const char* target)
{
    return std::string(met ? "met " : "MISSED ") + target;
}

bool g_failed = false;

void Fail(const std::wstring& what)
{
    std::fprintf(stderr, "bench: %s\n", ui::Narrow(what).c_str());
    g_failed = true;
}

struct Package {
    const char* label;
    std::wstring setup;
    std::wstring reference;
    int runs;
    int timeoutMs;
    // Times taken in runs of their own that watch only the titles, beside
    // the fully watched runs; where the pauses dwarf the rest, the watched
    // runs give both.
    bool timedApart;
    bool targeted;
    std::vector<double> net, extract, afterCopy, beforeCopy, watchedNet, titleReadUs;
    std::vector<double> referenceFiles, referenceLinks;
    std::vector<double> setupPeak, referencePeak, firstPagePrivate;
    bool hung = false;
    double firstHungMs = -1;
    int lastProgress = -1;
    size_t progressAnswers = 0;
    uint32_t files = 0;
};

Package MakePackage(const char* label, const std::wstring& setup, const std::wstring& reference,
                    int runs, int timeoutMs, bool timedApart, bool targeted)
{
    Package p;
    p.label = label;
    p.setup = setup;
    p.reference = reference;
    p.runs = runs;
    p.timeoutMs = timeoutMs;
    p.timedApart = timedApart;
    p.targeted = targeted;
    return p;
}

// A step whose title was never seen (a busy machine can hide the shortest)
// has no time: the run fails rather than enter -1 into the medians.
bool KeepTimes(Package* p, const bench::InstallFigures& install)
{
    if (install.beforeCopyMs < 0 || install.extractMs < 0 || install.afterCopyMs < 0) {
        Fail(L"the copying page's steps were not all seen in one run");
        return false;
    }
    p->net.push_back(install.netMs);
    p->beforeCopy.push_back(install.beforeCopyMs);
    p->extract.push_back(install.extractMs - bench::WRITTEN_FILE_PAUSE_MS * install.files);
    p->afterCopy.push_back(install.afterCopyMs - bench::PAGE_PAUSE_MS);
    p->titleReadUs.push_back(install.titleReadUs);
    return true;
}

void KeepWatched(Package* p, const bench::InstallFigures& install)
{
    p->files = install.files;
    p->watchedNet.push_back(install.netMs);
    p->setupPeak.push_back(install.peakPrivate / 1024.0);
    p->firstPagePrivate.push_back(install.startPrivate / 1024.0);
    if (install.everHung && !p->hung) {
        p->hung = true;
        p->firstHungMs = install.firstHungMs;
    }
    p->progressAnswers += install.progress.size();
    if (!install.progress.empty())
        p->lastProgress = install.progress.back();
}

// One run: the setup watched for its times alone (when apart), the two
// yardsticks, then the setup watched for everything.
bool MeasureRun(Package* p, int run)
{
    bench::InstallFigures install;
    bench::CopyFigures files, links;
    std::wstring error;
    if (p->timedApart) {
        if (!bench::RunInstall(p->setup, INSTALL_FOLDER, p->timeoutMs, bench::WATCH_TITLES,
                               &install, &error)) {
            Fail(error);
            return false;
        }
        if (!KeepTimes(p, install)) return false;
    }
    if (!bench::RunCopyReference(p->reference, INSTALL_FOLDER, p->timeoutMs, false, &files,
                                 &error) ||
        !bench::RunCopyReference(p->reference, INSTALL_FOLDER, p->timeoutMs, true, &links,
                                 &error) ||
        !bench::RunInstall(p->setup, INSTALL_FOLDER, p->timeoutMs, bench::WATCH_EVERYTHING,
                           &install, &error)) {
        Fail(error);
        return false;
    }
    if (run == 0 && !bench::CheckInstalled(p->setup, INSTALL_FOLDER, false, &error))
        Fail(error);
    if (!p->timedApart && !KeepTimes(p, install))
        return false;
    KeepWatched(p, install);
    std::fprintf(stderr,
                 "bench: %s, run %d: copying step %.1f ms, files %.1f ms; shortcut step %.1f ms,"
                 " links and keys %.1f ms; watched install %.1f ms\n",
                 p->label, run + 1, p->extract.back(), files.ms, p->afterCopy.back(), links.ms,
                 install.netMs);
    p->referenceFiles.push_back(files.ms);
    p->referenceLinks.push_back(links.ms);
    p->referencePeak.push_back(files.peakPrivate / 1024.0);
    return true;
}

void MeasurePackage(Package* p)
{
    std::fprintf(stderr, "bench: installing %s, %d runs\n", p->label, p->runs);
    for (int run = 0; run < p->runs && MeasureRun(p, run); ++run) {
    }
    bench::RemoveFolder(INSTALL_FOLDER);
}

// The setup's check of its own file, which runs before its first page: the
// setup's own code (VerifyImageFile), timed in this process beside a plain
// sequential read of the same file, the two taking turns with the file in
// the cache.
struct CheckTimes {
    std::vector<double> check, read;
    bool intact = true;
};

void MeasureSelfCheck(const std::wstring& exe, int runs, CheckTimes* times)
{
    std::fprintf(stderr, "bench: the own-file check, %d runs\n", runs);
    bench::WarmFile(exe);
    for (int run = 0; run < runs; ++run) {
        double start = bench::NowMs();
        times->intact = VerifyImageFile(exe.c_str()) && times->intact;
        double middle = bench::NowMs();
        bench::WarmFile(exe);
        times->check.push_back(middle - start);
        times->read.push_back(bench::NowMs() - middle);
    }
}

struct LogTimes {
    std::vector<double> setup, inPlace;
};

// setup.log with as many File keys as the 2000-file package logs, written
// one by one by the setup's own writer (a copy changed by the profile
// functions, flushed and moved over the log) and by the profile functions
// straight on a file of their own, the two taking turns.
void MeasureLogWrites(const std::wstring& build, int runs, LogTimes* times)
{
    std::fprintf(stderr, "bench: setup.log, %d runs\n", runs);
    const std::string folder = ui::Narrow(build) + "\\bench\\log";
    const std::string inPlace = folder + "\\in-place.log";
    CreateDirectoryA(folder.c_str(), 0);
    lstrcpyA(g_setup.logPath, (folder + "\\setup.log").c_str());
    for (int run = 0; run < runs; ++run) {
        for (int writer = 0; writer < 2; ++writer) {
            DeleteFileA(g_setup.logPath);
            DeleteFileA(inPlace.c_str());
            double start = bench::NowMs();
            for (int i = 1; i <= 2002; ++i) {
                char key[32], value[MAX_PATH];
                wsprintfA(key, "File%d", i);
                wsprintfA(value, "%s\\file%d.dat", folder.c_str(), i);
                if (writer == 0)
                    LogWrite("Files", key, value);
                else
                    WritePrivateProfileStringA("Files", key, value, inPlace.c_str());
            }
            (writer == 0 ? times->setup : times->inPlace).push_back(bench::NowMs() - start);
        }
    }
}

// Time to the first page of exe and of reference, the two taking turns,
// each with its file in the cache; one warm-up run first.
void TimeFirstPages(const std::wstring& exe, const std::wstring& reference, int runs,
                    std::vector<double>* exeMs, std::vector<double>* referenceMs)
{
    std::wstring error;
    for (int run = -1; run < runs && !g_failed; ++run) {
        double a = 0, b = 0;
        bench::WarmFile(exe);
        if (!bench::TimeFirstPage(exe, FIRST_PAGE_TIMEOUT_MS, &a, &error) ||
            !bench::TimeFirstPage(reference, FIRST_PAGE_TIMEOUT_MS, &b, &error)) {
            Fail(error);
            return;
        }
        if (run >= 0) {
            exeMs->push_back(a);
            referenceMs->push_back(b);
        }
    }
}

std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench BUILD_DIR [RUNS [SMALL_RUNS]]\n");
        return 2;
    }
    std::wstring build = argv[1];
    int runs = argc > 2 ? _wtoi(argv[2]) : 5;
    int smallRuns = argc > 3 ? _wtoi(argv[3]) : 3;
    if (runs < 1)
        runs = 1;
    if (smallRuns < 0)
        smallRuns = 0;
    std::wstring setup = build + L"\\setup.exe";
    std::wstring refDialog = build + L"\\bench\\ref_dialog.exe";

    // Executable overhead: what the setup costs beyond what it carries.
    bench::ImageFacts facts, refFacts;
    std::wstring error;
    if (!bench::ReadImage(setup, &facts, &error) || !bench::ReadImage(refDialog, &refFacts, &error)) {
        Fail(error);
        return 1;
    }

    // Time to the first page: the sample setup, and the 400 MB one, whose
    // check reads 400 MB first.
    std::fprintf(stderr, "bench: first page, %d runs\n", runs);
    std::vector<double> setupFirst, refFirst, largeFirst, largeRefFirst;
    std::wstring largeSetup = build + L"\\variants\\setup-bench400.exe";
    TimeFirstPages(setup, refDialog, runs, &setupFirst, &refFirst);
    TimeFirstPages(largeSetup, refDialog, runs, &largeFirst, &largeRefFirst);
    CheckTimes check;
    if (!g_failed)
        MeasureSelfCheck(largeSetup, runs, &check);
    if (!check.intact)
        Fail(L"the own-file check refused " + largeSetup);

    LogTimes logTimes;
    MeasureLogWrites(build, runs, &logTimes);

    Package packages[3] = {
        MakePackage("sample", setup, build + L"\\bench\\ref_copy-sample.exe", runs, 60000, true,
                    false),
        MakePackage("400 MB, 4 files", largeSetup, build + L"\\bench\\ref_copy-bench400.exe",
                    runs, 120000, true, true),
        MakePackage("2000 small files", build + L"\\variants\\setup-bench2000.exe",
                    build + L"\\bench\\ref_copy-bench2000.exe", smallRuns, 1200000, false,
                    false),
    };
    for (Package& p : packages)
        if (!g_failed && p.runs > 0)
            MeasurePackage(&p);
    if (g_failed)
        return 1;

    std::printf("\nMurmelist setup benchmark: median [min .. max] of %d runs (%d for the "
                "2000-file package)\n", runs, smallRuns);
    if (sizeof(void*) == 8)
        std::printf("Build measured: the 64-bit twin (build/x64), not the shipped 32-bit setup;"
                    " every reference is 64-bit too, measured in this run\n\n");
    else
        std::printf("Build measured: the shipped 32-bit setup (build)\n\n");
    Row("figure", "setup", "reference", "ratio", "target");
    Row("------", "-----", "---------", "-----", "------");

    double overhead = (double)facts.fileSize - facts.archiveSize - facts.agreementSize;
    Row("executable overhead, bytes", Number(overhead),
        Number((double)refFacts.fileSize) + " (ref_dialog.exe)", "-",
        Verdict(overhead <= 20480, "<= 20480"));
    std::printf("  setup.exe %llu bytes = overhead + payload archive %u (files %u) + agreement %u\n",
                (unsigned long long)facts.fileSize, facts.archiveSize, facts.payloadTotal,
                facts.agreementSize);
    // The overhead by part of the file: each section's bytes in the file
    // (its padding included), the resources less what they carry.
    std::printf("  overhead by part of the file:\n    %-46s %6u\n", "headers", facts.headerSize);
    // The resources' last block also holds the import names that fit
    // there (cmake/setup.ld); the relocations may lie behind other data.
    for (const auto& s : facts.sections) {
        bool resources = s.first == ".rsrc";
        std::string label = resources ? s.first + " beyond the payload and the agreement" : s.first;
        if (s.first == facts.relocationSection && s.first != ".reloc")
            label += " (with the relocations)";
        std::printf("    %-46s %6u\n", label.c_str(),
                    resources ? s.second - facts.archiveSize - facts.agreementSize : s.second);
    }
    std::printf("  bytes of the file by part: headers %u,", facts.headerSize);
    for (const auto& s : facts.sections)
        std::printf(" %s %u", s.first.c_str(), s.second);
    // The shipped 32-bit setup before its layout was packed (92,160 bytes,
    // overhead 31,768), for comparison.
    std::printf("\n  the same before (32-bit): headers 1024, .text 14336, .data 3584, .rdata 2048,"
                " .eh_fram 512, .idata 3072 (to the resources' page), .rsrc 66560, .reloc 1024");
    std::printf("\n  imports:");
    for (const std::string& name : facts.imports)
        std::printf(" %s", name.c_str());
    std::printf("\n  resource section at file offset 0x%X: %s\n", facts.resourceFileOffset,
                facts.resourceFileOffset % 4096 == 0
                    ? "page-aligned (Wine maps it)"
                    : "not page-aligned (Wine reads it into private memory)");

    Stats a = Summarise(setupFirst), b = Summarise(refFirst);
    Row("time to first page, ms", Format(a), Format(b) + " (ref_dialog)", Ratio(a.median, b.median),
        Verdict(a.median <= 1.10 * b.median, "<= 1.10"));
    Stats la = Summarise(largeFirst), lb = Summarise(largeRefFirst);
    Row("time to first page, 400 MB setup, ms", Format(la), Format(lb) + " (ref_dialog)",
        Ratio(la.median, lb.median), "-");
    Stats ca = Summarise(check.check), cb = Summarise(check.read);
    Row("own-file check, 400 MB setup, ms", Format(ca), Format(cb) + " (plain read)",
        Ratio(ca.median, cb.median), Verdict(ca.median <= 1.5 * cb.median, "<= 1.50"));
    std::printf("  the check reads its file in 512 KiB pieces and sums each (VerifyImageFile,"
                " the setup's own code, in this process); the plain read is ReadFile in 1 MiB"
                " pieces of the same file\n");
    std::printf("  the check shows its window once it has run %lu ms; the 400 MB check, at"
                " most %.1f ms here, shows none\n",
                (unsigned long)CHECK_WINDOW_AFTER_MS, ca.max);

    // The copying page, step by step, each net of its fixed pauses and
    // timed by its titles in runs that watch nothing else.
    for (const Package& p : packages) {
        std::string label = std::string(", ") + p.label + ", ms";
        if (p.runs == 0) {
            Row("install net of pauses" + label, "skipped", "-", "-", "-");
            continue;
        }
        Stats e = Summarise(p.extract), f = Summarise(p.referenceFiles);
        Row("  copying step" + label, Format(e), Format(f) + " (files)", Ratio(e.median, f.median),
            p.targeted ? Verdict(e.median <= 1.25 * f.median, "<= 1.25") : "-");
        // The copy's time swings with the machine's memory; a run's setup
        // and yardstick, measured seconds apart, swing together.
        std::vector<double> paired;
        for (size_t i = 0; i < p.extract.size() && i < p.referenceFiles.size(); ++i)
            paired.push_back(p.extract[i] / p.referenceFiles[i]);
        Stats q = Summarise(paired);
        std::printf("    the same run by run: ratio %.2f [%.2f .. %.2f]\n", q.median, q.min, q.max);
        Stats l = Summarise(p.afterCopy), k = Summarise(p.referenceLinks);
        Row("  shortcut step to finish page" + label, Format(l), Format(k) + " (links, keys)",
            Ratio(l.median, k.median), "-");
        std::vector<double> both;
        for (size_t i = 0; i < p.referenceFiles.size(); ++i)
            both.push_back(p.referenceFiles[i] + p.referenceLinks[i]);
        Stats n = Summarise(p.net), r = Summarise(both);
        Row("install net of pauses" + label, Format(n), Format(r) + " (both)",
            Ratio(n.median, r.median),
            p.targeted ? Verdict(n.median <= 1.10 * r.median, "<= 1.10") : "-");
    }
    Stats w = Summarise(logTimes.setup), ip = Summarise(logTimes.inPlace);
    Row("setup.log, 2002 keys written one by one, ms", Format(w), Format(ip) + " (in place)",
        Ratio(w.median, ip.median), "-");
    std::printf("  the setup's writer changes a copy with the profile functions, flushes it and"
                " moves it over the log, so that a crash leaves the old log or the new one; in"
                " place, the profile functions rewrite the log itself\n");
    std::printf("  pauses subtracted: 200 ms after each written file (%u, %u and %u files) from the"
                " copying step, 20 ms from the shortcut step, and both and the 20 ms as the page"
                " opens from the install\n",
                packages[0].files, packages[1].files, packages[2].files);
    std::printf("  the install also counts the page's opening (medians:");
    for (const Package& p : packages)
        if (p.runs > 0)
            std::printf(" %s %.1f ms", p.label, Summarise(p.beforeCopy).median);
    std::printf("); the yardsticks write no log and show no page\n");

    // What watching costs the setup: the same install watched for
    // everything, against watched for its titles alone.
    for (const Package& p : packages) {
        if (p.runs == 0 || !p.timedApart)
            continue;
        Stats w = Summarise(p.watchedNet), n = Summarise(p.net);
        Row(std::string("install watched for everything, ") + p.label + ", ms", Format(w),
            Format(n) + " (titles only)", Ratio(w.median, n.median), "-");
    }
    std::printf("  the observer's own cost: %+.1f ms on the 400 MB install when it also samples"
                " memory, hung state and the bar each millisecond; one look at a title costs"
                " %.1f us of this process, once a millisecond\n",
                Summarise(packages[1].watchedNet).median - Summarise(packages[1].net).median,
                Summarise(packages[1].titleReadUs).median);

    Stats sampleMem = Summarise(packages[0].setupPeak), largeMem = Summarise(packages[1].setupPeak);
    for (int i = 0; i < 2; ++i) {
        const Package& p = packages[i];
        Stats s = Summarise(p.setupPeak), r = Summarise(p.referencePeak);
        Row(std::string("peak private memory, ") + p.label + ", KiB", Format(s), Format(r),
            Ratio(s.median, r.median), "-");
    }
    Stats sampleStart = Summarise(packages[0].firstPagePrivate),
          largeStart = Summarise(packages[1].firstPagePrivate);
    Row("private memory at the first page, sample, KiB", Format(sampleStart), "-", "-", "-");
    Row("private memory at the first page, 400 MB, KiB", Format(largeStart), "-", "-",
        Verdict(largeStart.median - sampleStart.median <= 1024, "growth <= 1024"));
    double growth = largeMem.median - sampleMem.median;
    Row("  growth sample -> 400 MB, KiB", Number(growth), "-", "-",
        Verdict(growth <= 1024, "<= 1024"));

    bool hung = false;
    for (const Package& p : packages) {
        if (p.hung) {
            std::printf("not responding during copy: YES, %s, first after %.0f ms\n", p.label,
                        p.firstHungMs);
            hung = true;
        }
    }
    if (!hung)
        std::printf("not responding during copy: no (IsHungAppWindow false at every sample)\n");
    for (const Package& p : packages)
        std::printf("progress answered during copy, %s: %zu times%s\n", p.label, p.progressAnswers,
                    p.lastProgress >= 0 ? (", last " + std::to_string(p.lastProgress)).c_str() : "");
    return 0;
}
