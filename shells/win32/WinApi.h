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

// The program's texts are GBK bytes whatever language Windows speaks: they
// reach Windows as UTF-16 converted with code page 936 named, never the
// system's, and text read back from a control goes the other way. `lossless`,
// when given, tells whether every character had a form in GBK.
inline constexpr UINT kGbkCodePage = 936;
std::string ToGbk(const std::wstring& text, bool* lossless = nullptr);
std::wstring FromGbk(const std::string& text);

}  // namespace kivo::win32
