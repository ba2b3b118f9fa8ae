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

// WM_GETTEXT, which the system carries across processes; GetWindowTextW would give an edit box's
// original caption there, not its text.
std::wstring textOf(HWND window) {
    std::wstring buffer(4096, L'\0');
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                        5000, &length);
    buffer.resize(std::char_traits<wchar_t>::length(buffer.c_str()));
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
        if (const std::wstring title = textOf(window);
            classOf(window) == L"#32770" && title.starts_with(L"Plinthos") && GetDlgItem(window, 1002))
            return window;
    return nullptr;
}

// The topmost message of the program: a dialog titled "Plinthos" without the volume list.
HWND messageWindow() {
    for (HWND window : topLevelWindows())
        if (classOf(window) == L"#32770" && textOf(window) == L"Plinthos" && !GetDlgItem(window, 1002)) return window;
    return nullptr;
}

std::vector<HWND> visibleChildren(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(
        parent,
        [](HWND window, LPARAM list) -> BOOL {
            if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::wstring withoutAccelerator(std::wstring text) {
    std::erase(text, L'&');
    return text;
}

// One line per visible child with text: class, tab, text with line breaks as "\n".
int printMessage() {
    HWND message = messageWindow();
    if (!message) return 1;
    for (HWND child : visibleChildren(message)) {
        std::wstring text = textOf(child);
        if (text.empty()) continue;
        std::wstring shown;
        for (wchar_t c : text) shown += c == L'\n' ? std::wstring(L"\\n") : c == L'\r' ? std::wstring() : std::wstring(1, c);
        print(classOf(child) + L"\t" + shown);
    }
    return 0;
}

// Clicks the message's button with this text (access keys ignored).
int pressButton(const std::wstring& text) {
    HWND message = messageWindow();
    if (!message) return 1;
    for (HWND child : visibleChildren(message))
        if (classOf(child) == L"Button" && withoutAccelerator(textOf(child)) == text) {
            PostMessageW(child, BM_CLICK, 0, 0);
            return 0;
        }
    return 3;
}

std::wstring numbers(std::initializer_list<long> values) {
    std::wstring line;
    for (long value : values) line += (line.empty() ? L"" : L" ") + std::to_wstring(value);
    return line;
}

// List-view cells of another process: LVM_GETITEMTEXTW and LVM_SETITEMTEXTW need their LVITEMW and text
// inside the list's own process.
class RemoteCells {
public:
    explicit RemoteCells(HWND list) : list_(list) {
        DWORD processId = 0;
        GetWindowThreadProcessId(list, &processId);
        process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
        if (process_)
            remote_ = static_cast<unsigned char*>(VirtualAllocEx(process_.get(), nullptr, kBytes, MEM_COMMIT,
                                                                 PAGE_READWRITE));
    }
    ~RemoteCells() {
        if (remote_) VirtualFreeEx(process_.get(), remote_, 0, MEM_RELEASE);
    }
    RemoteCells(const RemoteCells&) = delete;
    RemoteCells& operator=(const RemoteCells&) = delete;

    [[nodiscard]] bool valid() const { return remote_ != nullptr; }

    std::wstring get(int row, int column) {
        sendItem(LVM_GETITEMTEXTW, row, column, nullptr);
        const auto length = static_cast<std::size_t>(lastResult_);
        std::wstring cell(length, L'\0');
        ReadProcessMemory(process_.get(), text(), cell.data(), length * sizeof(wchar_t), nullptr);
        return cell;
    }

    void set(int row, int column, const std::wstring& value) { sendItem(LVM_SETITEMTEXTW, row, column, &value); }

    // LVM_GETITEMRECT with the given part (LVIR_LABEL ...), in the list's client coordinates.
    bool itemRect(int row, int part, RECT& rect) {
        rect = RECT{part, 0, 0, 0};
        WriteProcessMemory(process_.get(), remote_, &rect, sizeof rect, nullptr);
        if (!SendMessageW(list_, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(remote_))) return false;
        return ReadProcessMemory(process_.get(), remote_, &rect, sizeof rect, nullptr) != FALSE;
    }

private:
    static constexpr SIZE_T kText = 512;
    static constexpr SIZE_T kBytes = sizeof(LVITEMW) + kText * sizeof(wchar_t);

    unsigned char* text() const { return remote_ + sizeof(LVITEMW); }

    void sendItem(UINT message, int row, int column, const std::wstring* value) {
        LVITEMW item{};
        item.iSubItem = column;
        item.cchTextMax = kText;
        item.pszText = reinterpret_cast<wchar_t*>(text());
        WriteProcessMemory(process_.get(), remote_, &item, sizeof item, nullptr);
        if (value)
            WriteProcessMemory(process_.get(), text(), value->c_str(), (value->size() + 1) * sizeof(wchar_t), nullptr);
        lastResult_ = SendMessageW(list_, message, row, reinterpret_cast<LPARAM>(remote_));
    }

    HWND list_;
    tlx::win::KernelHandle process_;
    unsigned char* remote_ = nullptr;
    LRESULT lastResult_ = 0;
};

int printRows(HWND list) {
    RemoteCells cells(list);
    if (!cells.valid()) return 3;
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    const int columns = static_cast<int>(SendMessageW(reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)),
                                                      HDM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        std::wstring line;
        for (int column = 0; column < columns; ++column) line += (column ? L"\t" : L"") + cells.get(row, column);
        print(line);
    }
    return 0;
}

// Marks the first cell, sends a burst of device arrivals 200 ms apart for 1 s, and prints the cell right
// after the burst and 2 s later: a debounced refresh leaves the mark until the burst is over.
int deviceBurst(HWND main) {
    HWND list = GetDlgItem(main, 1002);
    RemoteCells cells(list);
    if (!cells.valid()) return 3;
    cells.set(0, 0, L"stale");
    if (cells.get(0, 0) != L"stale") return 3;
    for (int i = 0; i < 6; ++i) {
        // Sent, not posted: the system refuses to post device events, whose lParam is a pointer.
        SendMessageW(main, WM_DEVICECHANGE, 0x8000, 0);  // DBT_DEVICEARRIVAL
        Sleep(200);
    }
    print(cells.get(0, 0));
    Sleep(2000);
    print(cells.get(0, 0));
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

// dravik_probe windows | texts TITLE | close TITLE | title | rows [ID] | rect ID | screen ID | columns | window | resize W H | move X Y |
//              label | maximize | command ID | device-burst | clipboard | focus | message | press TEXT
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args(argv, argv + count);
    LocalFree(argv);
    if (args.size() < 2) return 2;
    const std::wstring& command = args[1];
    if (command == L"message") return printMessage();
    if (command == L"press" && args.size() == 3) return pressButton(args[2]);
    if (command == L"clipboard") {
        if (!OpenClipboard(nullptr)) return 3;
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        const auto* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
        if (text) {
            print(text);
            GlobalUnlock(data);
        }
        CloseClipboard();
        return text ? 0 : 3;
    }
    if (command == L"windows") {
        for (HWND window : topLevelWindows()) {
            RECT r{};
            GetWindowRect(window, &r);
            print(classOf(window) + L"\t" + textOf(window) + L"\t" + numbers({r.left, r.top, r.right, r.bottom}));
        }
        return 0;
    }
    if (command == L"texts" && args.size() == 3) {  // the texts inside the top-level window with this title
        for (HWND window : topLevelWindows()) {
            if (textOf(window) != args[2]) continue;
            EnumChildWindows(
                window,
                [](HWND child, LPARAM) -> BOOL {
                    if (const std::wstring text = textOf(child); !text.empty()) print(classOf(child) + L"\t" + text);
                    return TRUE;
                },
                0);
            return 0;
        }
        return 1;
    }
    if (command == L"close" && args.size() == 3) {  // WM_CLOSE to the top-level window with this title
        for (HWND window : topLevelWindows())
            if (textOf(window) == args[2]) return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 3;
        return 1;
    }
    HWND main = mainWindow();
    if (!main) return 1;
    if (command == L"title") {
        print(textOf(main));
        return 0;
    }
    if (command == L"rows") return printRows(GetDlgItem(main, args.size() == 3 ? std::stoi(args[2]) : 1002));
    if (command == L"focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info)) return 3;
        print(std::to_wstring(info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0));
        return 0;
    }
    if (command == L"device-burst") return deviceBurst(main);
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
    if (command == L"label") {  // the selected row's label, in screen coordinates
        HWND list = GetDlgItem(main, 1002);
        RemoteCells cells(list);
        RECT r{};
        const auto row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
        if (!cells.valid() || row < 0 || !cells.itemRect(row, LVIR_LABEL, r)) return 3;
        MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&r), 2);
        print(numbers({r.left, r.top, r.right, r.bottom}));
        return 0;
    }
    if (command == L"maximize") {
        ShowWindowAsync(main, SW_MAXIMIZE);
        return 0;
    }
    if (command == L"move" && args.size() == 4) {
        SetWindowPos(main, nullptr, std::stoi(args[2]), std::stoi(args[3]), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    return 2;
}
