// Runs qorin's console change window under Wine on a real console and sends it Ctrl+C and
// Ctrl+Break. Writes what survived into the file named by its second argument, one line each:
//   held  — the events arrive between the first write and the report: the process lives on
//   early — Ctrl+C arrives before the first write: the process ends at once
#include <cstdio>
#include <string>
#include <vector>

#include "change_window.h"
#include "platform/win/arguments.h"
#include "platform/win/windows.h"

namespace {

FILE* out = nullptr;

void note(const char* line) {
    std::fprintf(out, "%s\n", line);
    std::fflush(out);
}

bool inSystemFolder() {
    wchar_t current[MAX_PATH] = {};
    wchar_t system[MAX_PATH] = {};
    const DWORD a = GetCurrentDirectoryW(MAX_PATH, current);
    const UINT b = GetSystemDirectoryW(system, MAX_PATH);
    if (a == 0 || b == 0) return false;
    std::wstring c(current), s(system);
    if (c.ends_with(L'\\')) c.pop_back();
    if (s.ends_with(L'\\')) s.pop_back();
    return CompareStringOrdinal(c.c_str(), -1, s.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

int main() {
    const std::vector<std::wstring> args = tlx::win::processArguments();
    if (args.size() != 2) return 2;
    const std::wstring& mode = args[0];
    out = _wfopen(args[1].c_str(), L"w");
    if (!out) return 2;
    tlx::ConsoleChangeWindow window;
    if (inSystemFolder()) note("current folder is the system folder");
    if (mode == L"held") window.enter();
    note(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) ? "ctrl+c sent" : "ctrl+c not sent");
    Sleep(500);
    if (mode == L"held") {
        // Wine sends no Ctrl+Break to a process group of 0; Windows does, and it is answered alike.
    GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0);
        Sleep(500);
        note("survived the window");
        window.leave();
        // Between the last write and the report, Ctrl+C still waits for the report.
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        Sleep(500);
        note("survived until the report");
    } else {
        note("survived an early ctrl+c");
    }
    std::fclose(out);
    return 0;
}
