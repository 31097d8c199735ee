#pragma once
// Pieces shared by the GTK popup and dialogs: the trace, text and address
// conversion at the toolkit boundary, the skin, and the stack of modal runs.
#include <gtk/gtk.h>

#include <string>

namespace kivo::gtk {

// KIVO_TRACE=1 in the environment: one line per event on standard output,
// "[<ms since the epoch>] <event>", for tests and measurements.
bool TraceEnabled();
void Trace(const std::string& event);

// KIVO_TIME_SCALE=N in the environment (development and tests): the window's
// timers but the page's retry run N times faster (1 to 100000; anything else
// is 1), so that the first cache refresh comes after 300 / N seconds.
double TimeScale();

// GBK <-> UTF-8 at the toolkit's edge.
std::string ToUtf8(const std::string& gbk);

// A program address (GBK bytes, "file://" followed by a bare path, or a
// server address) as a URI the web view takes.
std::string ToUri(const std::string& address);

// The user's web browser on `address`, without a shell, without waiting.
void OpenInBrowser(const std::string& address);

// Bitmap `id` of the skin, or the icon; null when missing. New reference.
GdkPixbuf* LoadBitmap(int nId);
GdkPixbuf* LoadIcon(int nSize);

// The look of the popup's controls and of the dialogs.
void InstallStyle();

// Modal runs, innermost last. Quitting ends every run at once; a run
// started after that returns at once.
class ModalRuns {
public:
    // Runs until End(loop) or QuitAll(); false when ended by QuitAll.
    static bool Run(GMainLoop* loop);
    static void End(GMainLoop* loop);
    static void QuitAll();
    static bool Quitting();
};

}  // namespace kivo::gtk
