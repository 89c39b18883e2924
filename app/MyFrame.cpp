#include "MyFrame.h"

#include "desktop.h"
#include "helpPage.h"
#include "settings.h"
#include "tesselDrop.h"
#include "ui.h"
#include "updater.h"
#include "ziv2ize.h"

#include "icons/idea.xpm"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/filesys.h>
#include <wx/fs_inet.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>
#include <wx/stdpaths.h>
#include <wx/valtext.h>

#include <atomic>
#include <ctime>

const char* const kInputToolTip =
    "Enter in a U.S. Patent number, publication number, or serial number (with '/') \ninto the "
    "textbox and press the download button.\nCommas are ignored.  Publication numbers must be "
    "11 characters.\nSerial numbers must be for applications filed on or after March 15 "
    "2001.\n\nExamples:\n20020000001 \t(utility application by publication number)\n9/836917 "
    "\t(utility application by serial number)\n09/836917 \t(utility application by serial "
    "number)\n5123456 \t \t(utility patent)\nX0000001  \t(X-patent, pre-1836)\nD0365123 "
    "\t(design patent)\nPP012835 \t(plant patent)\nRE035136 \t(reissue patent)\nT0106201 "
    "\t(defensive publication)\nH0001520 \t(statutory invention registration)\nAI000318 "
    "\t(additional improvement)\n\nEP15\t\tPCT Patent EP15 (use two digit country codes";

namespace {
// The Status column's width as first designed, kept when the window is narrower.
constexpr int kStatusColumnLeast = 250;
// A row's progress at its longest in the usual case.
const char* const kLongProgressStatus = "Downloading WO 2010050748 A2 page 22 of 55";
} // namespace

namespace {
// Written on the GUI thread when the window appears and goes; read by job threads when
// they post, hence atomic.
std::atomic<MyFrame*> g_mainFrame{nullptr};
} // namespace

MyFrame* TheMainFrame() {
    return g_mainFrame.load();
}

namespace {
wxEvtHandler* mainFrameAsTarget() {
    return TheMainFrame();
}

} // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(MyFrame, wxFrame)
    EVT_MENU(ID_EXIT, MyFrame::OnExit)
    EVT_MENU(ID_HELP, MyFrame::OnHelp)
    EVT_MENU(ID_SETUP, MyFrame::OnSetup)
    EVT_MENU(ID_UPDATE, MyFrame::OnUpdate)
    EVT_MENU(ID_OPEN, MyFrame::OnOpen)
    EVT_MENU(ID_PRINT, MyFrame::OnPrint)
    EVT_MENU(ID_REMOVE, MyFrame::OnRemove)
    EVT_MENU(ID_DELETE, MyFrame::OnDelete)
    EVT_MENU(ID_CANCEL, MyFrame::OnCancel)
    EVT_MENU(ID_DOWNLOAD_LIST, MyFrame::OnDownloadList)
    EVT_CLOSE(MyFrame::OnClose)
    EVT_BUTTON(ID_DOWNLOAD, MyFrame::OnDownload)
    EVT_TEXT_ENTER(ID_INPUT, MyFrame::OnDownload)
    wx__DECLARE_EVT1(wxEVT_USPTO_PAGE, wxID_ANY, wxThreadEventHandler(MyFrame::OnUsptoPage))
    wx__DECLARE_EVT1(wxEVT_JOB_STATUS, wxID_ANY, wxThreadEventHandler(MyFrame::OnJobStatus))
    wx__DECLARE_EVT1(wxEVT_JOB_ENDED, wxID_ANY, wxThreadEventHandler(MyFrame::OnJobEnded))
    wx__DECLARE_EVT1(wxEVT_JOB_PDF_READY, wxID_ANY, wxThreadEventHandler(MyFrame::OnJobPdfReady))
    wx__DECLARE_EVT1(wxEVT_UPDATER_STATUS, wxID_ANY, wxThreadEventHandler(MyFrame::OnUpdaterEvent))
    EVT_LIST_ITEM_ACTIVATED(wxID_ANY, MyFrame::OnItemActivated)
    EVT_LIST_ITEM_RIGHT_CLICK(wxID_ANY, MyFrame::OnItemRightClick)
    EVT_LIST_BEGIN_DRAG(wxID_ANY, MyFrame::OnBeginDrag)
wxEND_EVENT_TABLE()
    // clang-format on

    MyFrame::MyFrame(const wxString& title, const wxPoint& pos, const wxSize& size)
    : wxFrame(nullptr, wxID_ANY, title, pos, size, wxDEFAULT_FRAME_STYLE, "frame"),
      queue([this] { return JobContextNow(); }, [this](JobRecord& r) { ShowReport(r); },
            [](JobRecord&) {}) {
    {
        auto config = OpenSettings();
        // HTML views load pages by URL through this handler; one is enough for the process.
        static bool internetHandlerAdded = false;
        if (!internetHandlerAdded) {
            wxFileSystem::AddHandler(new wxInternetFSHandler);
            internetHandlerAdded = true;
        }
        wxString path;
        if (config->Read("Path", &path) || !(path = desktop::DefaultDownloadFolder()).empty()) {
            wxLogNull quiet; // a folder that is gone leaves the working folder as it is
            wxSetWorkingDirectory(path);
        }
        queue.SetLimit(ReadMaxThreads(*config));
    }
    DownloadFolder();

    BuildControls();
    g_mainFrame.store(this);
    SetJobEventTarget(&mainFrameAsTarget);
    StartupSteps();
}

MyFrame::~MyFrame() {
    // The children go after this part of the window: their last events must not reach it.
    BindListLayout(false);
    textCtrl->Unbind(wxEVT_TEXT_PASTE, &MyFrame::OnInputPaste, this);
    textCtrl->Unbind(wxEVT_TEXT, &MyFrame::OnInputText, this);
    MyFrame* self = this;
    g_mainFrame.compare_exchange_strong(self, nullptr);
}

void MyFrame::BuildControls() {
    wxPanel* panel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                 wxTAB_TRAVERSAL | wxNO_BORDER, "panel");
    SetIcon(wxIcon(idea_xpm));
    BuildMenus();

    wxStatusBar* bar =
        CreateStatusBar(2, wxSTB_SIZEGRIP | wxFULL_REPAINT_ON_RESIZE, wxID_ANY, "status_line");
    // Each field gets its share from the room its longest text takes in the font in use:
    // GTK's fonts are wider than those the original sizes were chosen for.
    const int pad = bar->FromDIP(24);
    const int pages = bar->GetTextExtent("9999 Pages Downloaded from the USPTO").x + pad;
    int update = 0;
    for (const char* text : {"Running Latest Version", "Checking for available updates...",
                             "Downloading latest version...", "Update Available!"})
        update = std::max(update, bar->GetTextExtent(text).x + pad);
    const int widths[] = {-pages, -update};
    SetStatusWidths(2, widths);
    statusTextsWidth = pages + update + bar->FromDIP(24); // and the size grip
    SetStatusText("0 Pages Downloaded from the USPTO", 0);

    wxBoxSizer* inputRow = new wxBoxSizer(wxHORIZONTAL);
    inputRow->Add(50, 50);
    // GTK cannot draw a 20-pixel-high entry; the default height is the smallest clean one.
    textCtrl = new wxTextCtrl(panel, ID_INPUT, wxEmptyString, wxDefaultPosition, wxSize(150, -1),
                              wxTE_PROCESS_ENTER, wxTextValidator(wxFILTER_ASCII), "text");
    textCtrl->SetToolTip(kInputToolTip);
    textCtrl->Bind(wxEVT_TEXT_PASTE, &MyFrame::OnInputPaste, this);
    textCtrl->Bind(wxEVT_TEXT, &MyFrame::OnInputText, this);
    inputRow->Add(textCtrl, 0, wxALL | wxALIGN_CENTER_VERTICAL, 0);
    wxButton* button = new wxButton(panel, ID_DOWNLOAD, "Download", wxDefaultPosition,
                                    wxDefaultSize, 0, wxDefaultValidator, "button");
    inputRow->Add(button, 0, wxLEFT | wxALIGN_CENTER_VERTICAL, 0);

    topSizer = new wxBoxSizer(wxVERTICAL);
    topSizer->Add(inputRow, 0);
    listCtrl = new wxListView(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT,
                              wxDefaultValidator, "listCtrl");
    listCtrl->AppendColumn("Patent/Application", wxLIST_FORMAT_LEFT, wxLIST_AUTOSIZE_USEHEADER);
    listCtrl->AppendColumn("Status", wxLIST_FORMAT_LEFT, kStatusColumnLeast);
    topSizer->Add(listCtrl, 1, wxEXPAND);
    BindListLayout(true);
    // A first start makes the window wide enough for a long status of the EPO job.
    rowTextsWidth = listCtrl->GetColumnWidth(0) + listCtrl->GetTextExtent(kLongProgressStatus).x +
                    listCtrl->FromDIP(16) + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, listCtrl);

    panel->SetSizer(topSizer);
    topSizer->SetSizeHints(panel);
    SetMinSize(wxSize(375, 200));
    SetSize(GetSize()); // re-apply the requested size after the minimum is known
}

void MyFrame::WidenForStatusTexts() {
    const wxSize size = GetSize();
    const int rows = rowTextsWidth + size.x - GetClientSize().x; // the list fills the client
    const int width = std::max(statusTextsWidth, rows);
    if (size.x < width)
        SetSize(wxSize(width, size.y));
}

void MyFrame::BindListLayout(bool on) {
    // Besides the list's size, the rows (a scroll bar comes and goes with them) and the
    // number column's width change the room the Status column takes.
    for (const wxEventTypeTag<wxListEvent>& type :
         {wxEVT_LIST_INSERT_ITEM, wxEVT_LIST_DELETE_ITEM, wxEVT_LIST_DELETE_ALL_ITEMS,
          wxEVT_LIST_COL_END_DRAG}) {
        if (on)
            listCtrl->Bind(type, &MyFrame::OnListLayout, this);
        else
            listCtrl->Unbind(type, &MyFrame::OnListLayout, this);
    }
    if (on)
        listCtrl->Bind(wxEVT_SIZE, &MyFrame::OnListLayout, this);
    else
        listCtrl->Unbind(wxEVT_SIZE, &MyFrame::OnListLayout, this);
}

void MyFrame::OnListLayout(wxEvent& event) {
    event.Skip();
    // The list lays itself out first.
    if (!statusFitQueued) {
        statusFitQueued = true;
        CallAfter(&MyFrame::FitStatusColumn);
    }
}

void MyFrame::FitStatusColumn() {
    statusFitQueued = false;
    int room = listCtrl->GetClientSize().x - listCtrl->GetColumnWidth(0);
    if (listCtrl->GetItemCount() > listCtrl->GetCountPerPage())
        room -= wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, listCtrl);
    const int width = std::max(room, listCtrl->FromDIP(kStatusColumnLeast));
    if (listCtrl->GetColumnWidth(1) != width)
        listCtrl->SetColumnWidth(1, width);
}

void MyFrame::BuildMenus() {
    wxMenu* file = new wxMenu;
    file->Append(ID_SETUP, "&Setup\tAlt-S", "Change Options");
    file->Append(ID_UPDATE, "&Update\tAlt-U", "Check for Updates");
    file->Append(ID_DOWNLOAD_LIST, "Download &List...\tCtrl-L",
                 "Download every number of a text or CSV file");
    file->Append(ID_EXIT, "E&xit\tCtrl-W", "Quit Quorvane");

    wxMenu* selection = new wxMenu;
    selection->Append(ID_OPEN, "&Open\tCtrl-O", "Open in your favorite PDF viewer");
    selection->Append(ID_PRINT, "&Print\tCtrl-P", "Print PDF");
    selection->Append(ID_REMOVE, "&Remove from List\tCtrl-R", "Removes PDF From List");
    selection->Append(ID_DELETE, "Permanently &Delete\tCtrl-D", "Permanetely Delete PDF");
    selection->Append(ID_CANCEL, "&Cancel\tCtrl-C", "Cancel Job");

    wxMenu* help = new wxMenu;
    help->Append(ID_HELP, "&Help...\tF1", "Show help");

    // GTK lets the Selection menu's mnemonic take Alt+S before the accelerator that the File
    // menu shows for Setup; the key is caught first so that it does what its label says.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& key) {
        if (key.GetModifiers() == wxMOD_ALT &&
            (key.GetKeyCode() == 'S' || key.GetKeyCode() == 's')) {
            wxQueueEvent(this, new wxCommandEvent(wxEVT_MENU, ID_SETUP));
            return;
        }
        key.Skip();
    });

    wxMenuBar* bar = new wxMenuBar;
    bar->Append(file, "&File");
    bar->Append(selection, "&Selection");
    bar->Append(help, "&Help");
    SetMenuBar(bar);
}

void MyFrame::StartupSteps() {
    auto config = OpenSettings();

    if (UpdateCheckDue(*config, static_cast<long>(std::time(nullptr))))
        StartUpdater(false);

    // Started by the updater: offer to remove the version it replaced.
    if (wxTheApp && wxTheApp->argc >= 3 && wxTheApp->argv[1] == "delete") {
        const wxString old = wxTheApp->argv[2];
        if (AskUser("Delete previous version of Quorvane?\n\n" + old, "Delete Old Quorvane",
                    wxYES_NO | wxICON_QUESTION, this) == wxYES &&
            wxRemoveFile(old))
            desktop::TakeOverProgramPath(old);
    }

    SetDropTarget(new tesselDrop(this));
    textCtrl->SetFocus();
}

void MyFrame::OnExit(wxCommandEvent&) {
    Close(true);
}

void MyFrame::OnHelp(wxCommandEvent&) {
    wxDialog* dialog = CreateHelpDialog(this);
    dialog->ShowModal();
    dialog->Destroy();
}

void MyFrame::OnClose(wxCloseEvent&) {
    if (closing > 0)
        return;
    ++closing;
    // Placement is taken while the window is still mapped: a hidden GTK window may not
    // report where it was.
    const wxPoint pos = GetPosition();
    const wxSize size = GetSize();
    Hide();

    {
        auto config = OpenSettings();
        ClosingState state;
        // Never an empty Path: a folder removed meanwhile leaves the last good one stored.
        state.path = DownloadFolder();
        state.maxThreads = queue.Limit();
        // The real path of the running program, not argv[0], which may be a bare name.
        state.exec = wxStandardPaths::Get().GetExecutablePath();
        state.width = size.GetWidth();
        state.height = size.GetHeight();
        state.x = pos.x;
        state.y = pos.y;
        SaveClosingSettings(*config, state);
    }

    queue.StopAll();

    StopUpdater();
    g_mainFrame.store(nullptr);
    Destroy();
}

long MyFrame::FindRowOfJob(int id) const {
    return id < 0 ? -1 : listCtrl->FindItem(-1, static_cast<wxUIntPtr>(id));
}

JobRecord* MyFrame::RecordOfRow(long row) const {
    return queue.Find(static_cast<int>(listCtrl->GetItemData(row)));
}
