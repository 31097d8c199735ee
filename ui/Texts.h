#pragma once
// Every text of the user interface, as GBK bytes (Texts.cpp is compiled with
// the GBK execution character set).

// The product web site's host.
#define KIVO_SITE_HOST "www.kivo.cn"

extern const char kszAboutMenuItem[];   // string 101, the system menu's About item
extern const char kszAppMenuName[];     // the program's name in a Chinese app menu
extern const char kszAppMenuComment[];  // and the line that describes it
extern const char kszTrayTip[];         // "Kivo"
extern const char kszTemplateFont[];    // face of the templates' 9-point font
extern const char kszEmailPlaceholder[];
extern const char kszInvalidEmail[];

// Tray menu 167.
extern const char kszMenuVisitSite[];
extern const char kszMenuSettings[];
extern const char kszMenuAbout[];
extern const char kszMenuExit[];

// Dialog captions and texts.
extern const char kszCaptionSettings[];
extern const char kszCaptionSystemSettings[];
extern const char kszCaptionAbout[];
extern const char kszOk[];
extern const char kszCancel[];
extern const char kszWelcome1[];
extern const char kszWelcome2[];
extern const char kszWelcome3[];
extern const char kszChooseDefault[];
extern const char kszNotifyByEmail[];
extern const char kszAdvanced[];
extern const char kszStartAtLoginGroup[];
extern const char kszStartAtLogin[];
extern const char kszUpgradeGroup[];
extern const char kszCheckUpdate[];
extern const char kszAboutVersion[];
extern const char kszAboutSite[];
extern const char kszAboutContact[];
extern const char kszAboutCopyright[];
