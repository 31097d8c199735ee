#pragma once
// The Windows headers and the program's own, for the shell's sources. The
// program's headers name nothing the Windows headers define, so the order is
// free; every source of the shell includes this header first all the same.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include "app/Config.h"
#include "app/HotListApp.h"
#include "ui/Dialog.h"
#include "ui/HotListDlg.h"
#include "ui/HotListView.h"
#include "ui/Resource.h"
#include "ui/SettingsDlg.h"
#include "ui/Templates.h"

#include <string>

namespace kivo::win32 {

// The module whose resources the program uses: the executable.
HINSTANCE ResourceModule();

// Text in the system code page from UTF-16, and back. `lossless`, when given,
// tells whether every character had a form in the code page.
std::string ToAnsi(const std::wstring& text, bool* lossless = nullptr);
std::wstring FromAnsi(const std::string& text);

}  // namespace kivo::win32
