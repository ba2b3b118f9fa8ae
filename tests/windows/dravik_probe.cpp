// Reads Dravik's window from outside for the Wine tests: title, volume-list rows, control rectangles,
// top-level windows; and resizes it. Prints UTF-8 lines.
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win/unique_handle.h"
#include "platform/win/windows.h"

#include <commctrl.h>
#include <shellapi.h>

namespace {

void print(const std::wstring& line) {
    const std::string text = tlx::toUtf8(line) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::wstring textOf(HWND window) {
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

std::wstring classOf(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

// Visible top-level windows: dialogs are "#32770", popup menus "#32768".
std::vector<HWND> topLevelWindows() {
    std::vector<HWND> found;
    EnumWindows(
        [](HWND window, LPARAM list) -> BOOL {
            if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND mainWindow() {
    for (HWND window : topLevelWindows())
        if (const std::wstring title = textOf(window); classOf(window) == L"#32770" && title.starts_with(L"Plinthos"))
            return window;
    return nullptr;
}

std::wstring numbers(std::initializer_list<long> values) {
    std::wstring line;
    for (long value : values) line += (line.empty() ? L"" : L" ") + std::to_wstring(value);
    return line;
}

// LVM_GETITEMTEXTW needs its LVITEMW and buffer inside the list's own process.
int printRows(HWND list) {
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    const tlx::win::KernelHandle process(
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
    if (!process) return 3;
    constexpr SIZE_T kText = 512;
    auto* remote = static_cast<unsigned char*>(
        VirtualAllocEx(process.get(), nullptr, sizeof(LVITEMW) + kText * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
    if (!remote) return 3;
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    const int columns = static_cast<int>(SendMessageW(reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)),
                                                      HDM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        std::wstring line;
        for (int column = 0; column < columns; ++column) {
            LVITEMW item{};
            item.iSubItem = column;
            item.cchTextMax = kText;
            item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
            WriteProcessMemory(process.get(), remote, &item, sizeof item, nullptr);
            const auto length = static_cast<int>(
                SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote)));
            std::wstring cell(static_cast<std::size_t>(length), L'\0');
            ReadProcessMemory(process.get(), remote + sizeof(LVITEMW), cell.data(), length * sizeof(wchar_t), nullptr);
            if (column > 0) line += L'\t';
            line += cell;
        }
        print(line);
    }
    VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    return 0;
}

int printRect(HWND main, int id) {
    HWND control = GetDlgItem(main, id);
    if (!control) return 3;
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&r), 2);
    print(numbers({r.left, r.top, r.right, r.bottom}) + L" " + (IsWindowVisible(control) ? L"visible" : L"hidden") + L" " +
          (IsWindowEnabled(control) ? L"enabled" : L"disabled") + L" " + textOf(control));
    return 0;
}

}  // namespace

// dravik_probe windows | title | rows | rect ID | screen ID | columns | window | resize W H | move X Y |
//              command ID
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args(argv, argv + count);
    LocalFree(argv);
    if (args.size() < 2) return 2;
    const std::wstring& command = args[1];
    if (command == L"windows") {
        for (HWND window : topLevelWindows()) print(classOf(window) + L"\t" + textOf(window));
        return 0;
    }
    HWND main = mainWindow();
    if (!main) return 1;
    if (command == L"title") {
        print(textOf(main));
        return 0;
    }
    if (command == L"rows") return printRows(GetDlgItem(main, 1002));
    if (command == L"rect" && args.size() == 3) return printRect(main, std::stoi(args[2]));
    if (command == L"screen" && args.size() == 3) {
        RECT r{};
        if (!GetWindowRect(GetDlgItem(main, std::stoi(args[2])), &r)) return 3;
        print(numbers({r.left, r.top, r.right, r.bottom}));
        return 0;
    }
    if (command == L"columns") {
        HWND list = GetDlgItem(main, 1002);
        std::wstring line;
        const auto count = SendMessageW(reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)), HDM_GETITEMCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i)
            line += (i ? L" " : L"") + std::to_wstring(SendMessageW(list, LVM_GETCOLUMNWIDTH, i, 0));
        print(line);
        return 0;
    }
    if (command == L"command" && args.size() == 3) {
        PostMessageW(main, WM_COMMAND, std::stoi(args[2]), 0);
        return 0;
    }
    if (command == L"window") {
        RECT outer{}, client{};
        GetWindowRect(main, &outer);
        GetClientRect(main, &client);
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        GetWindowPlacement(main, &placement);
        print(numbers({outer.left, outer.top, outer.right, outer.bottom, client.right, client.bottom}) +
              (placement.showCmd == SW_SHOWMAXIMIZED ? L" maximized" : L" normal"));
        return 0;
    }
    if (command == L"resize" && args.size() == 4) {
        SetWindowPos(main, nullptr, 0, 0, std::stoi(args[2]), std::stoi(args[3]),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    if (command == L"move" && args.size() == 4) {
        SetWindowPos(main, nullptr, std::stoi(args[2]), std::stoi(args[3]), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    return 2;
}
