// The options dialog: connection settings and the proxy test on one page, the download
// folder on the second, the EPO key on the third. Edits live in the controls until the dialog is
// accepted; the validators then copy them into ConnectionSettings and OpsKey, and the caller
// takes the folder from GetDirectory().
#pragma once

#include <wx/dialog.h>
#include <wx/string.h>

#include <memory>

struct KeyCheck;
class wxButton;
class wxChoice;
class wxThreadEvent;
class wxNotebook;
class wxStaticText;
class wxTextCtrl;
class wxWindow;

// Identifier of the "Change" button, drawn once at program start.
extern const wxWindowID changeButtonId;

// Check Key runs beside the window; a dialog that goes asks its check to end and does not
// wait. The number of checks still running, and a wait for the last of them (the program's
// end, before the network is shut down).
int KeyChecksRunning();
void WaitForKeyChecks();

class SetupDialog : public wxDialog {
public:
    explicit SetupDialog(wxWindow* parent);
    ~SetupDialog() override;

    // The folder to make the working folder when the dialog was accepted.
    wxString GetDirectory() const { return m_directory; }

    wxWindow* CreateNetworkPage(wxNotebook* notebook);
    wxWindow* CreateDirectoryPage(wxNotebook* notebook);
    wxWindow* CreateOpsPage(wxNotebook* notebook);

    wxTextCtrl* m_proxyServerText = nullptr;
    wxTextCtrl* m_proxyUserText = nullptr;
    wxTextCtrl* m_proxyPassText = nullptr;
    wxTextCtrl* m_proxyPortText = nullptr;
    wxChoice* m_connectionChoice = nullptr;
    wxStaticText* m_directoryLabel = nullptr;
    wxNotebook* m_notebook = nullptr;
    wxTextCtrl* m_opsKeyText = nullptr;
    wxTextCtrl* m_opsSecretText = nullptr;
    wxButton* m_checkKeyButton = nullptr;
    wxChoice* m_usSourceChoice = nullptr;

private:
    void OnTextEnter(wxCommandEvent& event);
    void OnCheckNetwork(wxCommandEvent& event);
    void OnCheckKey(wxCommandEvent& event);
    void OnKeyChecked(wxThreadEvent& event);
    void OnChangeDirectory(wxCommandEvent& event);
    void OnConnectionType(wxCommandEvent& event);
    void EnableProxyFields(bool enable);
    void ShowDirectory();

    wxString m_directory;
    std::shared_ptr<KeyCheck> m_keyCheck; // the check in flight, null when none

    wxDECLARE_EVENT_TABLE();
};
