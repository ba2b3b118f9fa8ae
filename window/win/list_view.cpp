#include "list_view.h"

#include <commctrl.h>

#include <vector>

#include "layout.h"

namespace tlx::win {

void addColumn(HWND list, int index, const wchar_t* text, int widthPixels) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(text);
    column.cx = widthPixels;
    ListView_InsertColumn(list, index, &column);
}

void insertRow(HWND list, int row, const std::wstring& firstCell) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(firstCell.c_str());
    ListView_InsertItem(list, &item);
}

void setCell(HWND list, int row, int column, const std::wstring& text) {
    ListView_SetItemText(list, row, column, const_cast<wchar_t*>(text.c_str()));
}

void fitLastColumn(HWND list) {
    const int count = Header_GetItemCount(ListView_GetHeader(list));
    if (count < 1) return;
    std::vector<int> others;
    for (int i = 0; i + 1 < count; ++i) others.push_back(ListView_GetColumnWidth(list, i));
    RECT client{};
    GetClientRect(list, &client);
    ListView_SetColumnWidth(list, count - 1, lastColumnWidth(client.right - client.left, others));
}

}  // namespace tlx::win
