// firstpage EXE [TIMEOUT_MS]
//
// Starts EXE, waits for its welcome page to show, prints how long that took
// and ends the program. Exit code 0 when the page showed, 1 when it did not.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tools/bench/bench_run.h"
#include "tests/driver/uidriver.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: firstpage EXE [TIMEOUT_MS]\n");
        return 2;
    }
    int timeoutMs = argc > 2 ? _wtoi(argv[2]) : 30000;
    double ms = 0;
    std::wstring error;
    if (!bench::TimeFirstPage(argv[1], timeoutMs, &ms, &error)) {
        std::fprintf(stderr, "firstpage: %s\n", ui::Narrow(error).c_str());
        return 1;
    }
    std::printf("firstpage: the welcome page showed after %.1f ms\n", ms);
    return 0;
}
