#pragma once
// What the program logic needs of the desktop shell's main window. The timer
// calls are made on the user-interface thread only; the others may come from
// any thread.

class IUiHost {
public:
    virtual ~IUiHost() = default;

    // Starts a repeating timer whose firings reach the main window's timer
    // handler on the user-interface thread; arming an armed id replaces it.
    virtual void SetTimer(unsigned nIDEvent, unsigned nElapseMs) = 0;
    // Stops a timer; stopping one that is not armed is harmless.
    virtual void KillTimer(unsigned nIDEvent) = 0;

    // Shows an information notice owned by no window and returns when the
    // user has closed it. Only the calling thread waits.
    virtual void ShowNotice(const char* szText, const char* szCaption) = 0;

    // Asks the user-interface thread to end the main window's run.
    virtual void PostQuit() = 0;
};
