// Dravik's elevated instance on a Windows system (run under Wine by test_elevated.py).
//   elevated_checks parent          the parent's launch, wait and read-back against this same program
//   elevated_checks --elevated-op   the child role, exactly as the window runs it, except for volume texts
//                                   that stand for a misbehaving child: "exit:N" and "kill:N" end without
//                                   writing, "drop:" loses an argument, "write:TEXT" and "big:" write their
//                                   own result text, "fail:TEXT" writes it and exits with 3, "sleep:MS" runs
//                                   late (on drive Q:, which does not exist), "link:FILE" puts a hard link to
//                                   FILE in place of the result file and writes a result through it.
//   elevated_checks created TEXT    prints a backup's created value as the window shows it
//   elevated_checks launch VOLUME HEX   changes a volume through an elevated instance, prints the record
// Prints one line per check ("ok ..." / "FAIL ...") and exits with the number of failures.
#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>

#include "elevated_request.h"
#include "flow_texts.h"
#include "platform/text.h"
#include "platform/win/unique_handle.h"
#include "platform/win/windows.h"
#include "quote.h"
#include "result_file.h"
#include "win/elevated_child.h"
#include "win/local_time.h"
#include "win/run_elevated.h"

#include <shellapi.h>

namespace {

using tlx::ElevatedRequest;
using tlx::ElevatedResult;

int failures = 0;

void check(bool ok, const std::wstring& what) {
    std::printf("%s %s\n", ok ? "ok" : "FAIL", tlx::toUtf8(what).c_str());
    std::fflush(stdout);
    if (!ok) ++failures;
}

std::wstring describe(const ElevatedResult& r) {
    return L" (ran=" + std::to_wstring(r.ran) + L" cancelled=" + std::to_wstring(r.cancelled) + L" launchError=" +
           std::to_wstring(r.launchError) + L" error=" + std::to_wstring(static_cast<int>(r.change.error)) +
           L" systemError=" + std::to_wstring(r.change.systemError) + L")";
}

bool writeFile(const std::wstring& path, const std::string& bytes) {
    tlx::win::FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int childRole(std::vector<wchar_t*> argv) {
    const std::wstring volume = argv.size() > 4 ? argv[4] : L"";
    const auto number = [&](std::size_t at) { return static_cast<UINT>(std::wcstoul(volume.c_str() + at, nullptr, 10)); };
    if (volume.starts_with(L"exit:")) ExitProcess(number(5));
    if (volume.starts_with(L"kill:")) TerminateProcess(GetCurrentProcess(), number(5));
    if (volume.starts_with(L"drop:")) argv.pop_back();
    if (volume.starts_with(L"write:")) return writeFile(argv[2], tlx::toUtf8(volume.substr(6))) ? 0 : 3;
    if (volume.starts_with(L"fail:")) {
        static_cast<void>(writeFile(argv[2], tlx::toUtf8(volume.substr(5))));
        return 3;
    }
    if (volume.starts_with(L"link:")) {
        if (!DeleteFileW(argv[2]) || !CreateHardLinkW(argv[2], volume.substr(5).c_str(), nullptr)) return 4;
        return writeFile(argv[2], "ran=1\nerror=0\nbackupError=0\n") ? 0 : 3;
    }
    if (volume.starts_with(L"big:")) {
        std::string text;
        while (text.size() <= tlx::kMaxResultFileBytes) text += "ran=1\n";
        return writeFile(argv[2], text) ? 0 : 3;
    }
    static wchar_t missingDrive[] = L"Q:\\";
    if (volume.starts_with(L"sleep:")) {
        Sleep(number(6));
        argv[4] = missingDrive;
    }
    return tlx::win::runElevatedChild(static_cast<int>(argv.size()), argv.data());
}

// Result files this process left in the temporary folder.
std::vector<std::wstring> leftoverResultFiles() {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    const std::wstring pattern = std::wstring(folder, length) + L"Dravik-" + std::to_wstring(GetCurrentProcessId()) +
                                 L"-*.tlxresult";
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

ElevatedRequest changeOf(const std::wstring& volume) {
    ElevatedRequest request;
    request.volume = volume;
    request.serial = 0x1234ABCD;
    return request;
}

// Watches the owner from inside the wait, and asks the main loop to end when told to.
struct WaitWatch {
    HWND owner = nullptr;
    int ticks = 0;
    bool sawDisabled = false;
    bool sawEnabled = false;
    int postQuit = -1;
};
WaitWatch watch;

void CALLBACK onTick(HWND, UINT, UINT_PTR timer, DWORD) {
    ++watch.ticks;
    (IsWindowEnabled(watch.owner) ? watch.sawEnabled : watch.sawDisabled) = true;
    if (watch.postQuit >= 0) {
        PostQuitMessage(watch.postQuit);
        watch.postQuit = -1;
        KillTimer(nullptr, timer);
    }
}

ElevatedResult launchWatched(HWND owner, const ElevatedRequest& request, int postQuit = -1) {
    watch = WaitWatch{owner};
    watch.postQuit = postQuit;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, onTick);
    ElevatedResult result = tlx::win::launchElevated(owner, request);
    KillTimer(nullptr, timer);
    return result;
}

void checkQuotingAgainstTheSystem() {
    const std::wstring texts[] = {L"", L"plain", L"with space", L"say \"hi\"", L"a\\\"b", L"a\\\\\"b", L"end\\",
                                  L"end\\\\", L"\\\\?\\Volume{5eb1c0de-0000-4000-8000-00000000e61e}\\",
                                  L"C:\\Users\\A B\\AppData\\Local\\Temp\\Dravik-1-2.tlxresult", L"\\\\x\\\"y\"\\"};
    for (const std::wstring& text : texts) {
        const std::wstring line = L"prog.exe " + tlx::quoteArgument(text) + L" next";
        int count = 0;
        wchar_t** split = CommandLineToArgvW(line.c_str(), &count);
        check(split && count == 3 && text == split[1] && std::wstring(split[2]) == L"next",
              L"CommandLineToArgvW gives back " + tlx::quoteArgument(text));
        LocalFree(split);
    }
}

void checkLaunches(HWND owner) {
    // A real child: the operation runs there and fails on a volume that does not exist. It starts late,
    // so the wait outlasts the launch on a loaded machine and the timer has ticks to show.
    ElevatedResult r = launchWatched(owner, changeOf(L"sleep:300"));
    check(r.ran && !r.cancelled && r.launchError == 0 && r.change.error == tlx::ApplyFailure::OpenFailed &&
              r.change.systemError != 0,
          L"runas starts the child, its result is read back" + describe(r));
    check(watch.sawDisabled && !watch.sawEnabled && watch.ticks > 0,
          L"the owner is disabled while the child runs and timers still fire (ticks " + std::to_wstring(watch.ticks) +
              L")");
    check(IsWindowEnabled(owner) != FALSE, L"the owner is enabled again");
    check(leftoverResultFiles().empty(), L"the result file is deleted");

    struct Misbehaving {
        const wchar_t* volume;
        std::uint32_t launchError;
    };
    const Misbehaving cases[] = {
        {L"exit:0", 13},  {L"exit:7", 7},       {L"kill:3221226505", 3221226505u}, {L"drop:", 2},
        {L"write:", 13},  {L"write:ran=x\n", 13}, {L"write:error=0\n", 13},         {L"big:", 13},
        // Trusted only with exit code 0 and the file's last key: a child stopped half way or a file of another.
        {L"write:ran=1\nerror=0\n", 13}, {L"fail:ran=1\nerror=0\nbackupError=0\n", 3},
    };
    for (const Misbehaving& c : cases) {
        r = tlx::win::launchElevated(owner, changeOf(c.volume));
        std::wstring shown = c.volume;
        for (std::size_t at = shown.find(L'\n'); at != std::wstring::npos; at = shown.find(L'\n', at))
            shown.replace(at, 1, L"\\n");
        check(!r.ran && !r.cancelled && r.launchError == c.launchError,
              L"a child that ends with " + shown + L" reads as not started" + describe(r));
    }
    r = tlx::win::launchElevated(owner, changeOf(L"write:ran=1\nerror=3\nsystemError=32\nbackupError=0\n"));
    check(r.ran && r.launchError == 0 && r.change.error == tlx::ApplyFailure::VolumeInUse && r.change.systemError == 32,
          L"a well-formed result is the child's own" + describe(r));
    check(leftoverResultFiles().empty(), L"no result file is left behind");

    // Someone put a hard link to their own file where the result file was: neither read nor deleted.
    wchar_t folder[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    const std::wstring victim = std::wstring(folder, length) + L"victim.ini";
    tlx::win::FileHandle made(CreateFileW(victim.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(made.get(), "[keep]", 6, &written, nullptr);
    made.reset();
    r = tlx::win::launchElevated(owner, changeOf(L"link:" + victim));
    check(!r.ran && r.launchError == 13, L"a result file swapped for a link is not read" + describe(r));
    check(GetFileAttributesW(victim.c_str()) != INVALID_FILE_ATTRIBUTES,
          L"and the file it links to is not deleted");
    DeleteFileW(victim.c_str());
    for (const std::wstring& name : leftoverResultFiles()) DeleteFileW((std::wstring(folder, length) + name).c_str());
}

void checkQuitDuringTheWait(HWND owner) {
    const ElevatedResult r = launchWatched(owner, changeOf(L"sleep:700"), 42);
    check(r.ran && r.launchError == 0 && r.change.error == tlx::ApplyFailure::OpenFailed,
          L"after a WM_QUIT the parent still waits and reads the result" + describe(r));
    check(leftoverResultFiles().empty(), L"and deletes it");
    check(IsWindowEnabled(owner) != FALSE, L"the owner is enabled after the quit");
    MSG message;
    const bool quit = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    check(quit && message.wParam == 42, L"the WM_QUIT is posted again with its exit code for the main loop");
}

void checkElevatedRunsInProcess(HWND owner) {
    // Wine gives every process an elevated token: runElevated never starts a child there, so the
    // volume text that would make a child end with 7 is simply a volume that does not exist.
    const ElevatedResult r = tlx::win::runElevated(owner, changeOf(L"exit:7"));
    check(r.ran && r.launchError == 0 && r.change.error == tlx::ApplyFailure::OpenFailed,
          L"an elevated process runs the operation in process" + describe(r));
}

int run() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 100;
    if (argc >= 2 && std::wstring(argv[1]) == L"--elevated-op") return childRole({argv, argv + argc});
    if (argc == 3 && std::wstring(argv[1]) == L"created") {
        std::printf("%s\n", tlx::toUtf8(tlx::createdText(tlx::toUtf8(argv[2]), tlx::win::toLocalTime)).c_str());
        return 0;
    }
    if (argc == 4 && std::wstring(argv[1]) == L"launch") {
        // One change through an elevated instance, its record printed as the result file would hold it.
        ElevatedRequest request = changeOf(argv[2]);
        request.serial = std::wcstoull(argv[3], nullptr, 16);
        request.full64 = true;
        const ElevatedResult r = tlx::win::launchElevated(nullptr, request);
        std::printf("launchError=%u\n%s", r.launchError, tlx::writeResultFile(r).c_str());
        return 0;
    }
    if (argc != 2 || std::wstring(argv[1]) != L"parent") return 100;

    // Message-only: it can be disabled and enabled without a display.
    const HWND owner = CreateWindowExW(0, L"STATIC", L"owner", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
    check(owner != nullptr, L"an owner window");
    if (!owner) return failures;
    checkQuotingAgainstTheSystem();
    checkLaunches(owner);
    checkQuitDuringTheWait(owner);
    checkElevatedRunsInProcess(owner);
    DestroyWindow(owner);
    return failures;
}

}  // namespace

// The arguments come from GetCommandLineW, so either entry name serves: with -municode and without.
int wmain() { return run(); }
int main() { return run(); }
