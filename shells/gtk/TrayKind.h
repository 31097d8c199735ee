#pragma once
// Which kind of tray icon the program shows: the XEmbed icon (GtkStatusIcon)
// or a StatusNotifier item (an Ayatana AppIndicator). Kept free of the
// toolkit, so that the choice can be tested on its own.

namespace kivo::gtk {

enum class TrayKind { StatusIcon, Indicator };

// The XEmbed icon whenever an XEmbed tray manager owns the screen's
// _NET_SYSTEM_TRAY_S<n> selection, and whenever no StatusNotifier watcher is
// on the session bus; the indicator only with a watcher and no XEmbed tray.
constexpr TrayKind ChooseTrayKind(bool bXEmbedTray, bool bWatcher) {
    return !bXEmbedTray && bWatcher ? TrayKind::Indicator : TrayKind::StatusIcon;
}

constexpr const char* TrayKindName(TrayKind kind) { return kind == TrayKind::Indicator ? "indicator" : "status-icon"; }

}  // namespace kivo::gtk
