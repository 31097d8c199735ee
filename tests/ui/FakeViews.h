#pragma once
// Fakes of the user interface's own view interfaces: they record what the
// logic asks of the window and answer as a toolkit would.
#include <algorithm>
#include <functional>
#include <map>
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
    void MessageBox(const std::string& text, const std::string& caption) override {
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
        if (!view.ended) view.result = IDCANCEL;
        last[dlg.TemplateId()] = view;
        dlg.Attach(nullptr);
        return view.result;
    }

    std::map<int, Script> scripts;
    std::vector<int> opened;
    std::map<int, FakeDialogView> lastInit;
    std::map<int, FakeDialogView> last;
};

// Records each call as a line of its log.
class FakeHotListView : public IHotListView {
public:
    void SetTimer(unsigned nIDEvent, unsigned nElapseMs) override {
        Log("SetTimer " + std::to_string(nIDEvent) + " " + std::to_string(nElapseMs));
    }
    void KillTimer(unsigned nIDEvent) override { Log("KillTimer " + std::to_string(nIDEvent)); }
    void ShowNotice(const char* szText, const char* szCaption) override {
        Log(std::string("ShowNotice ") + szCaption + " " + szText);
    }
    void PostQuit() override { Log("PostQuit"); }
    int RunModal(CDialogBase& dlg) override {
        Log("RunModal " + std::to_string(dlg.TemplateId()));
        return dialogs.RunModal(dlg);
    }
    void AppendSystemMenuItem(unsigned, const std::string&) override {}
    void SetToolWindowStyle() override {}
    void SetIcons(int) override {}
    void SetHeaderBitmap(int nBitmap) override { Log("SetHeaderBitmap " + std::to_string(nBitmap)); }
    void SetCloseBitmap(int nBitmap) override { Log("SetCloseBitmap " + std::to_string(nBitmap)); }
    void SetChooserSelection(int nIndex) override { selection = nIndex >= 0 && nIndex < 14 ? nIndex : -1; }
    int GetChooserSelection() override { return selection; }
    bool GetSearchText(std::string& text) override {
        text = searchText;
        return searchRepresentable;
    }
    void Navigate(const std::string& url) override { Log("Navigate " + url); }
    void OpenInBrowser(const std::string& url) override { opened.push_back(url); }
    void GetClientSize(int& width, int& height) override { width = 179, height = 221; }
    int GetFullScreenWidth() override { return 1024; }
    void MoveWindow(int, int, int, int) override {}
    void SetWindowShape(const CRegion&) override {}
    void ShowWindow(bool bShow) override { Log(bShow ? "ShowWindow show" : "ShowWindow hide"); }
    void SetForegroundWindow() override { Log("SetForegroundWindow"); }
    void StartWindowDrag() override {}
    void AddTrayIcon(const TrayIconData&) override {}
    void RemoveTrayIcon(const TrayIconData&) override {}
    void GetCursorPos(int& x, int& y) override { x = y = 0; }
    void TrackPopupMenu(const MenuItem*, int, int x, int y) override {
        Log("TrackPopupMenu " + std::to_string(x) + " " + std::to_string(y));
    }
    void EndModal(int nResult) override { Log("EndModal " + std::to_string(nResult)); }

    void Log(const std::string& entry) { log.push_back(entry); }
    bool Logged(const std::string& entry) const { return std::find(log.begin(), log.end(), entry) != log.end(); }

    std::vector<std::string> log;
    std::vector<std::string> opened;
    FakeDialogRunner dialogs;
    std::string searchText;
    bool searchRepresentable = true;
    int selection = -1;
};

class FakeJobs : public IJobStarter {
public:
    void StartUpdateJob() override { ++updates; }
    void StartRefreshJob() override { ++refreshes; }
    int updates = 0, refreshes = 0;
};

}  // namespace kivo::test
