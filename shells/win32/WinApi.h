#pragma once
// The Windows headers for the shell's sources, after the program's own. The
// user-interface headers name some ids and messages as the Windows headers do
// (IDOK, WM_USER, BN_CLICKED...) with the same values, and IDialogView has a
// MessageBox: they come first, so that the headers' macros, defined after
// them, rewrite nothing of their declarations. Every source of the shell
// includes this header before any other.
#include "app/Config.h"
#include "app/HotListApp.h"
#include "ui/Dialog.h"
#include "ui/HotListDlg.h"
#include "ui/HotListView.h"
#include "ui/Resource.h"
#include "ui/SettingsDlg.h"
#include "ui/Templates.h"

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

// The shell calls the "A" functions by name; IDialogView::MessageBox keeps its name.
#undef MessageBox

#include <string>

namespace kivo::win32 {

// The module whose resources the program uses: the executable.
HINSTANCE ResourceModule();

// Text in the system code page from UTF-16, and back. `lossless`, when given,
// tells whether every character had a form in the code page.
std::string ToAnsi(const std::wstring& text, bool* lossless = nullptr);
std::wstring FromAnsi(const std::string& text);

}  // namespace kivo::win32
