#pragma once
// Fakes of the user interface's own view interfaces: they keep the state a
// window would show after the logic's calls and answer as a toolkit would.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/Scheduler.h"
#include "ui/Dialog.h"
#include "ui/HotListView.h"
#include "ui/Resource.h"

namespace kivo::test {

class FakeDialogView : public IDialogView {
public:
    bool GetItemText(int nId, std::string& text) override {
        text = texts[nId];
        return true;
    }
    void SetItemText(int nId, const std::string& text) override { texts[nId] = text; }
    int GetCurSel(int nId) override { return selections.count(nId) != 0 ? selections[nId] : -1; }
    void SetCurSel(int nId, int nIndex) override { selections[nId] = nIndex >= 0 && nIndex < 14 ? nIndex : -1; }
    int GetCheck(int nId) override { return checks[nId]; }
    void SetCheck(int nId, int nCheck) override { checks[nId] = nCheck; }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        messages.push_back(caption + "|" + text);
    }
    void EndDialog(int nResult) override {
        ended = true;
        result = nResult;
    }

    std::map<int, std::string> texts;
    std::map<int, int> selections;
    std::map<int, int> checks;
    std::vector<std::string> messages;
    bool ended = false;
    int result = 0;
};

// Runs dialogs modally without windows: initialisation, then the script for
// the dialog's template, which plays the user.
class FakeDialogRunner : public IDialogRunner {
public:
    using Script = std::function<void(CDialogBase&, FakeDialogView&)>;

    int RunModal(CDialogBase& dlg) override {
        opened.push_back(dlg.TemplateId());
        FakeDialogView view;
        dlg.Attach(&view);
        dlg.OnInitDialog();
        lastInit[dlg.TemplateId()] = view;
        const auto script = scripts.find(dlg.TemplateId());
        if (script != scripts.end() && script->second) script->second(dlg, view);
        if (!view.ended) view.result = IDC_CANCEL;
        last[dlg.TemplateId()] = view;
        dlg.Attach(nullptr);
        return view.result;
    }

    std::map<int, Script> scripts;
    std::vector<int> opened;  // templates, in the order they opened
    std::map<int, FakeDialogView> lastInit;
    std::map<int, FakeDialogView> last;
};

// The popup as a window would stand after the logic's calls.
class FakeHotListView : public IHotListView {
public:
    void SetTimer(unsigned nIDEvent, unsigned nElapseMs) override { timers[nIDEvent] = nElapseMs; }
    void KillTimer(unsigned nIDEvent) override { timers.erase(nIDEvent); }
    void ShowNotice(const char*, const char*) override {}
    void PostQuit() override {}
    int RunModal(CDialogBase& dlg) override { return dialogs.RunModal(dlg); }
    void AppendSystemMenuItem(unsigned, const std::string&) override {}
    void SetToolWindowStyle() override {}
    void SetIcons(int) override {}
    // The header's image and the hide button's, in the order they were set:
    // the one set last shows on top.
    void SetHeaderBitmap(int nBitmap) override { images.push_back("header " + std::to_string(nBitmap)); }
    void SetCloseBitmap(int nBitmap) override { images.push_back("close " + std::to_string(nBitmap)); }
    void SetChooserSelection(int nIndex) override { selection = nIndex >= 0 && nIndex < 14 ? nIndex : -1; }
    int GetChooserSelection() override { return selection; }
    bool GetSearchText(std::string& text) override {
        text = searchText;
        return searchRepresentable;
    }
    void Navigate(const std::string& url) override {
        page = url;
        ownPage.clear();
        ++navigations;
    }
    void ShowOwnPage(const std::string& html) override { ownPage = html; }
    void OpenInBrowser(const std::string& url) override { opened.push_back(url); }
    void GetClientSize(int& width, int& height) override { width = 179, height = 221; }
    int GetFullScreenWidth() override { return 1024; }
    void MoveWindow(int, int, int, int) override {}
    void SetWindowShape(const CRegion&) override {}
    void ShowWindow(bool bShow) override { shown = bShow; }
    void SetForegroundWindow() override { foreground = shown; }
    void StartWindowDrag() override { ++drags; }
    void AddTrayIcon(const TrayIconData&) override {}
    void RemoveTrayIcon(const TrayIconData&) override {}
    void TrackPopupMenu(const MenuItem* pItems, int nItems, int x, int y) override {
        menu.clear();
        for (int i = 0; i < nItems; ++i) menu.push_back(pItems[i].nId);
        menuX = x;
        menuY = y;
    }
    void EndModal(int nResult) override { result = nResult; }
    void TraceLine(const std::string& line) override { trace.push_back(line); }
    void PostIntent(std::function<void()> intent) override {
        const std::lock_guard<std::mutex> lock(intentsMutex);
        intents.push_back(std::move(intent));
    }
    // Runs the intents posted so far, as the user-interface thread would.
    void RunIntents() {
        std::vector<std::function<void()>> waiting;
        {
            const std::lock_guard<std::mutex> lock(intentsMutex);
            waiting.swap(intents);
        }
        for (const auto& intent : waiting) intent();
    }

    std::map<unsigned, unsigned> timers;  // armed timers and their periods
    std::vector<std::string> images;
    int selection = -1;
    std::string searchText;
    bool searchRepresentable = true;
    std::string page;     // the address navigated to last
    std::string ownPage;  // the program's own page shown since
    int navigations = 0;
    std::vector<std::string> opened;  // in the user's browser
    bool shown = false;
    bool foreground = false;
    int drags = 0;
    std::vector<unsigned> menu;  // the open menu's items
    int menuX = -1, menuY = -1;
    int result = 0;  // of the modal run, once ended
    std::vector<std::string> trace;
    FakeDialogRunner dialogs;
    std::mutex intentsMutex;
    std::vector<std::function<void()>> intents;  // posted, not yet run
};

class FakeJobs : public IJobStarter {
public:
    void StartUpdateJob() override { ++updates; }
    void StartRefreshJob() override { ++refreshes; }
    int updates = 0, refreshes = 0;
};

}  // namespace kivo::test
