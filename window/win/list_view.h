#pragma once
// Thin helpers over the list-view control shared by the volume and backups lists.
#include <string>

#include "platform/win/windows.h"

namespace tlx::win {

void addColumn(HWND list, int index, const wchar_t* text, int widthPixels);
void insertRow(HWND list, int row, const std::wstring& firstCell);
void setCell(HWND list, int row, int column, const std::wstring& text);
// The last column takes the width the others leave, but never less than 40 pixels.
void fitLastColumn(HWND list);

}  // namespace tlx::win
