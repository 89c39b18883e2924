// The main window: input box and Download button above the job list, menus, status bar.
#pragma once

#include "downloadQueue.h"

#include <wx/event.h>
#include <wx/frame.h>
#include <wx/listctrl.h>
#include <wx/textctrl.h>

#include <memory>
#include <vector>

class updater;
class wxBoxSizer;

// Window identifiers of the main window's commands.
enum {
    ID_EXIT = 1,
    ID_INPUT = 2,
    ID_DOWNLOAD = 3,
    ID_SETUP = 5,
    ID_UPDATE = 7,
    ID_HELP = 8,
    ID_OPEN = 9,
    ID_PRINT = 10,
    ID_REMOVE = 11,
    ID_DELETE = 12,
    ID_CANCEL = 13,
    ID_DOWNLOAD_LIST = 14,
};

class MyFrame : public wxFrame {
public:
    MyFrame(const wxString& title, const wxPoint& pos, const wxSize& size);
    ~MyFrame() override;

    // Makes the window wide enough for both status fields' texts (a first start, when no
    // size was stored).
    void WidenForStatusTexts();
    int statusTextsWidth = 0;
    int rowTextsWidth = 0; // the list's width for the number and a long status beside it

    // Gives the Status column the room the number column leaves, so that a row's whole
    // status shows at any window size (at least the column's first 250 pixels).
    void FitStatusColumn();
    bool statusFitQueued = false;

    // Text that does not fit the input box (a GTK entry keeps at most 65,534 bytes and cuts
    // the rest without a word) never goes there: a long paste or drop becomes its rows at
    // once. kInputBoxBytes is a little below the cap, since the cut may fall before a
    // character of several bytes.
    static constexpr size_t kInputBoxBytes = 65530;
    static bool FitsInputBox(const wxString& text);
    // What Enter does with text in the box, for text too long for it: a row per piece of a
    // list; a single piece gets a row when it is a number, else the unknown-format message.
    void TakeLongText(const wxString& text);
    // Text dropped on the window: into the box when it fits, else taken as a list at once.
    void DropText(const wxString& text);

    // Shows the week's use of the EPO's fair-use quota, as the service last reported it.
    void ShowEpoWeekUse();
    bool toldAboutEpoKey = false;

    // One row per number, in order, each as if typed alone; a number of unknown format gets
    // a row with kUnknownFormatStatus instead of a message box, so a list never stops.
    void AddNumbers(const std::vector<wxString>& numbers);
    // Adds the numbers of a list file (what File > Download List does after its dialog);
    // false, after telling the user why, when the file cannot be read.
    bool LoadListFile(const wxString& path);

    wxTextCtrl* textCtrl = nullptr;
    wxListView* listCtrl = nullptr;
    wxBoxSizer* topSizer = nullptr;

    // The rows' jobs (its limit is the max_threads setting); every row's item data is the
    // id of its record there.
    DownloadQueue queue;
    updater* updaterThread = nullptr;
    bool manualUpdateCheck = false;
    int closing = 0;

    std::vector<int> openWhenFinished;
    std::vector<int> printWhenFinished;
    int pagesDownloaded = 0;

    // Row of the record whose job carries id, or -1.
    long FindRowOfJob(int id) const;
    JobRecord* RecordOfRow(long row) const;

    bool OpenPdf(const wxString& path);
    bool PrintPdf(const wxString& path);

    // Starts the update thread (download = false: check and report only).
    void StartUpdater(bool download);
    // Asks a running update thread to end and waits for it.
    void StopUpdater();

private:
    void OnExit(wxCommandEvent&);
    void OnHelp(wxCommandEvent&);
    void OnSetup(wxCommandEvent&);
    void OnUpdate(wxCommandEvent&);
    void OnOpen(wxCommandEvent&);
    void OnPrint(wxCommandEvent&);
    void OnRemove(wxCommandEvent&);
    void OnDelete(wxCommandEvent&);
    void OnCancel(wxCommandEvent&);
    void OnClose(wxCloseEvent&);
    void OnDownload(wxCommandEvent&);
    void OnDownloadList(wxCommandEvent&);
    void OnInputPaste(wxClipboardTextEvent&);
    void OnInputText(wxCommandEvent&);
    void OnListLayout(wxEvent&); // queues FitStatusColumn
    void BindListLayout(bool on);
    void OnUsptoPage(wxThreadEvent&);
    void OnJobStatus(wxThreadEvent&);
    void OnJobEnded(wxThreadEvent&);
    void OnJobPdfReady(wxThreadEvent&);
    void OnUpdaterEvent(wxThreadEvent&);
    void OnItemActivated(wxListEvent&);
    void OnItemRightClick(wxListEvent&);
    void OnBeginDrag(wxListEvent&);

    void BuildMenus();
    void BuildControls();
    void StartupSteps(); // the start-up steps that follow the controls
    // Puts record in the queue and in a new row under text; Dispatch starts it.
    void AddRow(const wxString& text, std::unique_ptr<JobRecord> record);
    // The settings a job started now gets.
    JobContext JobContextNow();
    // Shows a record's last report in its row.
    void ShowReport(JobRecord& record);
    // Asks the jobs of the selected rows to end, without waiting: the waits that follow
    // then overlap.
    void RequestStopOfSelected();
    // The download folder: the working folder, or the last one known good when that is gone.
    wxString DownloadFolder();
    wxString lastGoodFolder;
    wxString inputKept; // the box's last text that fitted, put back when some was cut

    wxDECLARE_EVENT_TABLE();
};

// The main window while it exists (null before and after); jobs look it up to post.
MyFrame* TheMainFrame();

// "EPO: 1.2 GB of 4 GB this week".
wxString EpoWeekUseText(long long usedBytes);
// Said once when a row goes to a retired service for want of an EPO key.
extern const char* const kNoEpoKeyNotice;

// The input box's tool tip, also shown after the unknown-format message.
extern const char* const kInputToolTip;

// Said when text reached the input box in a way that may have cut it.
extern const char* const kTooLongForTheBox;
