#include "SetupDialog.h"

#include "HtmlWindow.h"
#include "httpSession.h"
#include "opsToken.h"
#include "remoteHosts.h"
#include "settings.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dirdlg.h>
#include <wx/filename.h>
#include <wx/hyperlink.h>
#include <wx/log.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/thread.h>
#include <wx/utils.h>
#include <wx/valgen.h>
#include <wx/valtext.h>
#include <wx/wfstream.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

const wxWindowID changeButtonId = wxNewId();

// A key check in flight, shared by the dialog that started it and the thread that runs it.
struct KeyCheck {
    std::atomic<bool> stop{false}; // set by the dialog as it goes, read by the session's check
    std::mutex lock;               // held while target is cleared or used: the dialog may go
    wxEvtHandler* target = nullptr;
};

namespace {
enum {
    ID_CHECK_NETWORK = 1,
    ID_CONNECTION_TYPE = 2,
    ID_CHECK_KEY = 3,
};

const char* const kResultFile = "proxyTest.html";

// GTK's default entry shows only a few characters of a host name.
const wxSize kFieldSize(220, -1);

const char* const kCheckKeyLabel = "Check Key";
const char* const kCheckingKeyLabel = "Checking Key...";
// The answer's kind when no request could be made: the session itself failed.
constexpr int kNoSession = -1;

wxDEFINE_EVENT(EVT_KEY_CHECKED, wxThreadEvent);

// Key checks still running, counted so that the program's end can wait for their sessions.
std::mutex g_checksLock;
std::condition_variable g_checksEnded;
int g_checksRunning = 0; // guarded by g_checksLock

// Asks the token endpoint with its own copies of the key and the connection settings, and
// reports to the dialog while there is one.
class KeyCheckThread : public wxThread {
public:
    KeyCheckThread(std::shared_ptr<KeyCheck> check, const ConnectionSettingsRecord& connection,
                   const OpsCredentials& key)
        : wxThread(wxTHREAD_DETACHED), m_check(std::move(check)), m_connection(connection),
          m_key(key) {}

protected:
    ExitCode Entry() override {
        auto* done = new wxThreadEvent(EVT_KEY_CHECKED);
        {
            httpSession session(m_connection);
            if (!session.m_ok) {
                done->SetInt(kNoSession);
                done->SetString(session.GetError());
            } else {
                // The dialog went: the request ends at its next abort check.
                KeyCheck* check = m_check.get();
                session.SetAbortCheck([check] { return check->stop.load(); });
                const OpsTokenAnswer answer = RequestOpsToken(session, m_key);
                done->SetInt(answer.kind);
                done->SetString(answer.error);
            }
        }
        {
            std::lock_guard<std::mutex> hold(m_check->lock);
            if (m_check->target)
                wxQueueEvent(m_check->target, done);
            else
                delete done;
        }
        // Notified under the lock: the program may end as soon as the waiter wakes.
        std::lock_guard<std::mutex> hold(g_checksLock);
        --g_checksRunning;
        g_checksEnded.notify_all();
        return nullptr;
    }

private:
    std::shared_ptr<KeyCheck> m_check;
    ConnectionSettingsRecord m_connection;
    OpsCredentials m_key;
};

// The OK and Cancel pair that both pages carry; either pair acts on the whole dialog.
wxBoxSizer* makeButtonRow(wxWindow* page) {
    wxBoxSizer* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(new wxButton(page, wxID_OK, "OK"), 0, wxALL | wxALIGN_CENTER_VERTICAL, 10);
    row->Add(new wxButton(page, wxID_CANCEL, "Cancel"), 0, wxALL | wxALIGN_CENTER_VERTICAL, 10);
    return row;
}
} // namespace

int KeyChecksRunning() {
    std::lock_guard<std::mutex> hold(g_checksLock);
    return g_checksRunning;
}

void WaitForKeyChecks() {
    std::unique_lock<std::mutex> hold(g_checksLock);
    g_checksEnded.wait(hold, [] { return g_checksRunning == 0; });
}

// clang-format off
wxBEGIN_EVENT_TABLE(SetupDialog, wxDialog)
    EVT_TEXT_ENTER(wxID_ANY, SetupDialog::OnTextEnter)
    EVT_BUTTON(ID_CHECK_NETWORK, SetupDialog::OnCheckNetwork)
    EVT_BUTTON(changeButtonId, SetupDialog::OnChangeDirectory)
    EVT_BUTTON(ID_CHECK_KEY, SetupDialog::OnCheckKey)
    EVT_CHOICE(ID_CONNECTION_TYPE, SetupDialog::OnConnectionType)
wxEND_EVENT_TABLE()
    // clang-format on

    SetupDialog::SetupDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Setup", wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE,
               "dialog") {
    m_directory = wxEmptyString;
    m_notebook = new wxNotebook(this, wxID_ANY, wxDefaultPosition, wxSize(600, 300), 0, "notebook");
    wxWindow* network = CreateNetworkPage(m_notebook);
    wxWindow* directory = CreateDirectoryPage(m_notebook);
    wxWindow* epo = CreateOpsPage(m_notebook);

    // Validation and both directions of transfer must reach the controls on the pages.
    SetExtraStyle(GetExtraStyle() | wxWS_EX_VALIDATE_RECURSIVELY);
    m_notebook->SetExtraStyle(m_notebook->GetExtraStyle() | wxWS_EX_VALIDATE_RECURSIVELY);
    network->SetExtraStyle(network->GetExtraStyle() | wxWS_EX_VALIDATE_RECURSIVELY);
    directory->SetExtraStyle(directory->GetExtraStyle() | wxWS_EX_VALIDATE_RECURSIVELY);
    epo->SetExtraStyle(epo->GetExtraStyle() | wxWS_EX_VALIDATE_RECURSIVELY);

    if (!m_notebook->AddPage(network, "Network", true))
        wxLogError("Error adding network page");
    if (!m_notebook->AddPage(directory, "Directory Locations", false))
        wxLogError("Error adding directory page");
    if (!m_notebook->AddPage(epo, "EPO OPS", false))
        wxLogError("Error adding EPO OPS page");

    // The pages may need more room than the notebook's first size (GTK's controls are
    // taller than the original's).
    m_notebook->InvalidateBestSize();
    wxSize size = m_notebook->GetBestSize();
    size.IncTo(wxSize(600, 300));
    m_notebook->SetMinSize(size);
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(m_notebook, 1, wxEXPAND);
    SetSizerAndFit(sizer);
    Bind(EVT_KEY_CHECKED, &SetupDialog::OnKeyChecked, this);
}

SetupDialog::~SetupDialog() {
    if (!m_keyCheck)
        return;
    // The check is not waited for: it may be held up for a minute by a silent service.
    m_keyCheck->stop = true;
    std::lock_guard<std::mutex> hold(m_keyCheck->lock);
    m_keyCheck->target = nullptr;
}

wxWindow* SetupDialog::CreateNetworkPage(wxNotebook* notebook) {
    wxPanel* page = new wxPanel(notebook, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                wxTAB_TRAVERSAL | wxNO_BORDER, "panel");
    wxBoxSizer* pageSizer = new wxBoxSizer(wxVERTICAL);
    wxGridSizer* form = new wxGridSizer(2, 0, 0);

    const wxString types[] = {"AUTO", "DIRECT", "HTTP PROXY"};
    m_connectionChoice =
        new wxChoice(page, ID_CONNECTION_TYPE, wxDefaultPosition, wxDefaultSize, 3, types, 0,
                     wxGenericValidator(&ConnectionSettings.connectionType), "choice");
    m_connectionChoice->SetSelection(ConnectionSettings.connectionType);

    auto addLabel = [&](const char* text) {
        form->Add(new wxStaticText(page, wxID_ANY, text, wxDefaultPosition, wxDefaultSize, 0,
                                   "staticText"),
                  0, wxLEFT | wxALIGN_RIGHT | wxALIGN_CENTER_VERTICAL, 5);
    };
    auto addField = [&](const char* label, long style, long filter, wxString* setting) {
        addLabel(label);
        wxTextCtrl* field =
            new wxTextCtrl(page, wxID_ANY, wxEmptyString, wxDefaultPosition, kFieldSize,
                           wxTE_PROCESS_ENTER | style, wxTextValidator(filter, setting), "text");
        form->Add(field, 0, wxLEFT | wxALIGN_RIGHT, 2);
        return field;
    };

    addLabel("Connection Type");
    form->Add(m_connectionChoice, 0, wxLEFT, 2);
    m_proxyServerText =
        addField("Proxy Server", 0, wxFILTER_ASCII, &ConnectionSettings.proxyServer);
    m_proxyPortText = addField("Proxy Port", 0, wxFILTER_NUMERIC, &ConnectionSettings.proxyPort);
    m_proxyUserText = addField("Proxy User", 0, wxFILTER_ASCII, &ConnectionSettings.proxyUser);
    m_proxyPassText =
        addField("Proxy Password", wxTE_PASSWORD, wxFILTER_ASCII, &ConnectionSettings.proxyPass);

    pageSizer->Add(form, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    pageSizer->Add(new wxButton(page, ID_CHECK_NETWORK, "Check Network Settings", wxDefaultPosition,
                                wxDefaultSize, 0, wxDefaultValidator, "button"),
                   0, wxALL | wxALIGN_CENTER_HORIZONTAL, 10);
    pageSizer->Add(makeButtonRow(page), 0, wxALIGN_CENTER_HORIZONTAL, 0);

    EnableProxyFields(ConnectionSettings.Type() == ConnectionType::HttpProxy);

    page->SetSizer(pageSizer);
    pageSizer->SetSizeHints(page);
    pageSizer->SetSizeHints(this);
    page->Fit();
    return page;
}

wxWindow* SetupDialog::CreateOpsPage(wxNotebook* notebook) {
    wxPanel* page = new wxPanel(notebook, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                wxTAB_TRAVERSAL | wxNO_BORDER, "panel");
    wxBoxSizer* pageSizer = new wxBoxSizer(wxVERTICAL);
    wxStaticText* about = new wxStaticText(
        page, wxID_ANY,
        "The EPO's Open Patent Services serve the page images of EP, WO, US and most other "
        "offices' documents. Quorvane needs a key to use them; the key is free: register at the "
        "EPO developer portal, create an app, and copy its consumer key and secret here. US "
        "documents come from the USPTO without a key.",
        wxDefaultPosition, wxDefaultSize, 0, "staticText");
    about->Wrap(FromDIP(520));
    pageSizer->Add(about, 0, wxALL, 10);
    pageSizer->Add(new wxHyperlinkCtrl(page, wxID_ANY, remotehosts::kEpoDeveloperPortal,
                                       remotehosts::kEpoDeveloperPortal, wxDefaultPosition,
                                       wxDefaultSize, wxHL_DEFAULT_STYLE, "hyperlink"),
                   0, wxLEFT | wxRIGHT | wxBOTTOM, 10);

    wxFlexGridSizer* form = new wxFlexGridSizer(2, 5, 5);
    auto addField = [&](const char* label, long style, wxString* setting) {
        form->Add(new wxStaticText(page, wxID_ANY, label, wxDefaultPosition, wxDefaultSize, 0,
                                   "staticText"),
                  0, wxALIGN_RIGHT | wxALIGN_CENTER_VERTICAL);
        wxTextCtrl* field = new wxTextCtrl(page, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                           kFieldSize, wxTE_PROCESS_ENTER | style,
                                           wxTextValidator(wxFILTER_ASCII, setting), "text");
        form->Add(field, 0);
        return field;
    };
    m_opsKeyText = addField("Consumer key", 0, &OpsKey.key);
    m_opsSecretText = addField("Consumer secret", wxTE_PASSWORD, &OpsKey.secret);
    form->Add(new wxStaticText(page, wxID_ANY, "US documents from:", wxDefaultPosition,
                               wxDefaultSize, 0, "staticText"),
              0, wxALIGN_RIGHT | wxALIGN_CENTER_VERTICAL);
    // In UsSource order.
    const wxString sources[] = {"USPTO (no key needed)", "EPO"};
    m_usSourceChoice = new wxChoice(page, wxID_ANY, wxDefaultPosition, wxDefaultSize, 2, sources, 0,
                                    wxGenericValidator(&UsDocumentsFrom), "choice");
    m_usSourceChoice->SetSelection(UsDocumentsFrom);
    form->Add(m_usSourceChoice, 0);
    pageSizer->Add(form, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    m_checkKeyButton = new wxButton(page, ID_CHECK_KEY, kCheckKeyLabel, wxDefaultPosition,
                                    wxDefaultSize, 0, wxDefaultValidator, "button");
    // Room for the busy label too, so that the page does not jump.
    m_checkKeyButton->SetLabel(kCheckingKeyLabel);
    const wxSize busySize = m_checkKeyButton->GetBestSize();
    m_checkKeyButton->SetLabel(kCheckKeyLabel);
    m_checkKeyButton->SetMinSize(busySize);
    pageSizer->Add(m_checkKeyButton, 0, wxALL | wxALIGN_CENTER_HORIZONTAL, 10);
    pageSizer->Add(makeButtonRow(page), 0, wxALIGN_CENTER_HORIZONTAL, 0);
    page->SetSizer(pageSizer);
    pageSizer->SetSizeHints(page);
    page->Fit();
    return page;
}

wxWindow* SetupDialog::CreateDirectoryPage(wxNotebook* notebook) {
    wxPanel* page = new wxPanel(notebook, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                wxTAB_TRAVERSAL | wxNO_BORDER, "panel");
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(page, wxID_ANY, "Save Patents to:"), 0,
               wxALL | wxALIGN_CENTER_HORIZONTAL, 10);

    m_directory = wxGetCwd();
    m_directoryLabel = new wxStaticText(page, wxID_ANY, wxEmptyString);
    ShowDirectory();
    sizer->Add(m_directoryLabel, 1, wxALL | wxEXPAND, 10);

    sizer->Add(new wxButton(page, changeButtonId, "Change"), 0, wxTOP | wxALIGN_CENTER_HORIZONTAL,
               10);
    sizer->Add(makeButtonRow(page), 0, wxALIGN_CENTER_HORIZONTAL, 0);
    page->SetSizer(sizer);
    return page;
}

// A folder name is shown as it is: '&' is not a mnemonic here. Long paths break at blanks.
void SetupDialog::ShowDirectory() {
    m_directoryLabel->SetLabelText(m_directory);
    m_directoryLabel->Wrap(GetSize().GetWidth() - 20);
    if (m_directoryLabel->GetParent()->GetSizer())
        m_directoryLabel->GetParent()->Layout();
}

void SetupDialog::EnableProxyFields(bool enable) {
    m_proxyServerText->Enable(enable);
    m_proxyUserText->Enable(enable);
    m_proxyPassText->Enable(enable);
    m_proxyPortText->Enable(enable);
}

void SetupDialog::OnConnectionType(wxCommandEvent&) {
    EnableProxyFields(ConnectionTypeOf(m_connectionChoice->GetSelection()) ==
                      ConnectionType::HttpProxy);
}

// Enter in any field accepts the dialog exactly like OK.
void SetupDialog::OnTextEnter(wxCommandEvent&) {
    if (!Validate() || !TransferDataFromWindow())
        return;
    if (IsModal()) {
        EndModal(wxID_OK);
    } else {
        SetReturnCode(wxID_OK);
        Hide();
    }
}

void SetupDialog::OnChangeDirectory(wxCommandEvent&) {
    wxDirDialog chooser(this, "Chose a directory to save PDF into", wxGetCwd(), 0,
                        wxDefaultPosition, wxDefaultSize, "wxDirCtrl");
    if (chooser.ShowModal() != wxID_OK || chooser.GetPath().empty())
        return;
    m_directory = chooser.GetPath();
    ShowDirectory();
}

// Asks the EPO for a token with the key on screen, through the connection settings on
// screen, beside the window (a silent service would hold it for a minute), and says in
// plain words what came of it; changes no setting.
void SetupDialog::OnCheckKey(wxCommandEvent&) {
    if (m_keyCheck)
        return; // one at a time
    // Copies of their own for the thread: it never reads the controls.
    // Checked as downloads use it: trimmed of white space pasted along with it.
    OpsCredentials key{m_opsKeyText->GetValue().Clone(), m_opsSecretText->GetValue().Clone()};
    key.key.Trim(true).Trim(false);
    key.secret.Trim(true).Trim(false);
    if (key.key.empty() || key.secret.empty()) {
        wxLogMessage("Enter the consumer key and the consumer secret of your EPO app first.");
        return;
    }
    ConnectionSettingsRecord connection;
    connection.connectionType = m_connectionChoice->GetSelection();
    connection.proxyServer = m_proxyServerText->GetValue().Clone();
    connection.proxyPort = m_proxyPortText->GetValue().Clone();
    connection.proxyUser = m_proxyUserText->GetValue().Clone();
    connection.proxyPass = m_proxyPassText->GetValue().Clone();

    auto check = std::make_shared<KeyCheck>();
    check->target = this;
    auto* thread = new KeyCheckThread(check, connection, key);
    {
        std::lock_guard<std::mutex> hold(g_checksLock);
        ++g_checksRunning;
    }
    if (thread->Run() != wxTHREAD_NO_ERROR) {
        delete thread;
        {
            std::lock_guard<std::mutex> hold(g_checksLock);
            --g_checksRunning;
        }
        wxLogError("Cannot start the key check.");
        return;
    }
    m_keyCheck = check;
    m_checkKeyButton->SetLabel(kCheckingKeyLabel);
    m_checkKeyButton->Disable();
}

void SetupDialog::OnKeyChecked(wxThreadEvent& event) {
    m_keyCheck.reset();
    m_checkKeyButton->SetLabel(kCheckKeyLabel);
    m_checkKeyButton->Enable();
    switch (event.GetInt()) {
    case kNoSession:
        wxLogError("Error %s", event.GetString());
        break;
    case OpsTokenAnswer::Granted:
        wxLogMessage("The EPO accepted the key: downloads will use it.");
        break;
    case OpsTokenAnswer::Refused:
        wxLogError("The EPO refused the key. Check the consumer key and secret of your app on "
                   "the EPO developer portal.");
        break;
    default:
        wxLogError("%s", "Cannot reach the EPO service: " + event.GetString());
        break;
    }
}

// Tries the values on screen, accepted or not, against the maker's host; changes no setting.
void SetupDialog::OnCheckNetwork(wxCommandEvent&) {
    httpSession session(ConnectionTypeOf(m_connectionChoice->GetSelection()),
                        m_proxyServerText->GetValue(), m_proxyPortText->GetValue(),
                        m_proxyUserText->GetValue(), m_proxyPassText->GetValue());
    if (!session.m_ok) {
        wxLogError("Error %s", session.GetError());
        return;
    }
    session.Connect(remotehosts::kUpdateHost); // a failure shows up as no reply below
    std::unique_ptr<wxInputStream> reply(session.Request("/proxyTest.htm"));
    if (!reply) {
        wxLogError("Error Connecting to Proxy");
        return;
    }

    std::unique_ptr<wxFileOutputStream> file;
    {
        wxLogNull quiet; // the report below says it in the program's words
        file = std::make_unique<wxFileOutputStream>(kResultFile);
    }
    if (!file->IsOk()) {
        wxLogError("Error writing proxyTest.html");
        return;
    }
    file->Write(*reply);
    // The page must be whole on disk before the view loads it.
    file->Close();

    wxDialog result(this, wxID_ANY, "Proxy Test Result", wxDefaultPosition, wxDefaultSize,
                    wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER, "Proxy Test Result");
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    HtmlWindow* html = new HtmlWindow(&result, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                      wxHW_DEFAULT_STYLE, "htmlWindow");
    sizer->Add(html, 1, wxEXPAND | wxALL, 10);
    sizer->Add(
        new wxStaticLine(&result, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL), 0,
        wxEXPAND | wxLEFT | wxRIGHT, 10);
    wxButton* ok = new wxButton(&result, wxID_OK, "OK");
    ok->SetDefault();
    sizer->Add(ok, 0, wxALL | wxALIGN_RIGHT, 15);
    result.SetSizer(sizer);
    // An HTML view has no natural size; without one the page would show as a sliver.
    result.SetSize(result.FromDIP(wxSize(640, 480)));
    html->LoadFile(wxFileName(wxGetCwd(), kResultFile));
    result.ShowModal();
}
