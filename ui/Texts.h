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
// A settings save that failed: the folder may not be written, the disk is
// full, or anything else; the dialog stays open with its values.
extern const char kszSaveNotAllowed[];
extern const char kszSaveDiskFull[];
extern const char kszSaveFailed[];

// The popup's image buttons, as assistive technology names them and as their
// tooltips read.
extern const char kszHideButton[];
extern const char kszSearchButton[];
extern const char kszSiteButton[];
// The names assistive technology reads for the search box and the chooser,
// whose captions in the skin are pictures.
extern const char kszSearchBoxName[];
extern const char kszChooserName[];

// The page shown in place of one that cannot be had: its heading (the content
// server cannot be reached; any other page cannot be shown) and its line of help.
extern const char kszNoServer[];
extern const char kszNoPage[];
extern const char kszNoPageHelp[];

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
