// The main window's side of the jobs: turning typed text into rows of the download queue,
// and showing what the queue reports.
#include "MyFrame.h"

#include "numberList.h"
#include "opsPacer.h"
#include "settings.h"

#include <wx/log.h>

#include <algorithm>

const char* const kNoEpoKeyNotice = "Downloads need an EPO key: File > Setup";

namespace {
const char* const kUsageWarning =
    "Warning, the USPTO will block excessive usage of their site!  Quorvane will not be held "
    "responsible for excessive use of USPTO systems, resulting in blocked access!  You have "
    "downloaded %d pages\n\nFrom ";
const char* const kUsageNoticeAddress = "http://www.uspto.gov/patft/help/notices.html";
const char* const kUsageQuotation =
    "\"These databases are intended for use by the general public. Due to limitations of "
    "equipment and bandwidth, they are not intended to be a source for bulk downloads of USPTO "
    "data. Bulk data may be purchased from USPTO at cost (see the USPTO Products and Services "
    "Catalog).  Individuals, companies, IP addresses, or blocks of IP addresses who, in effect, "
    "deny service to the general public by generating unusually high numbers (10,000 or more) "
    "of daily database accesses (searches, pages, or hits), whether generated manually or in an "
    "automated fashion, may be denied access to these servers without notice.\"";

bool takeRequest(std::vector<int>& ids, int id) {
    auto it = std::find(ids.begin(), ids.end(), id);
    if (it == ids.end())
        return false;
    ids.erase(it);
    return true;
}
} // namespace

void MyFrame::OnDownload(wxCommandEvent&) {
    wxString text = textCtrl->GetValue();
    if (text.empty())
        return;
    if (HoldsSeveralNumbers(text)) {
        const std::vector<wxString> pieces = SplitNumbers(text);
        if (pieces.size() != 1) {
            AddNumbers(pieces);
            textCtrl->SetValue(wxEmptyString);
            textCtrl->SetFocus();
            return;
        }
        text = pieces[0]; // one number with a line break after it is still one number
    }
    auto record = std::make_unique<JobRecord>(text);
    if (!record->valid) {
        // The typed text is data, never a format.
        wxLogError("%s",
                   "\"" + TextForMessage(text) + "\" -- Unknown Format\n\n\n" + kInputToolTip);
        return;
    }
    AddRow(text, std::move(record));
    queue.Dispatch();
    textCtrl->SetValue(wxEmptyString);
    textCtrl->SetFocus();
}

void MyFrame::AddRow(const wxString& text, std::unique_ptr<JobRecord> owned) {
    const JobRecord& record = queue.Add(std::move(owned));
    if (!toldAboutEpoKey && record.valid) {
        // US numbers need no key; for the others the services tried without one are retired:
        // say once what helps.
        JobContext context;
        context.key = OpsKeyInUse();
        context.usSource = UsSourceInUse();
        const int kind = RouteJob(record.kind, record.number, context);
        if (context.key.empty() && kind != kPpubsJob) {
            toldAboutEpoKey = true;
            SetStatusText(kNoEpoKeyNotice, 0);
        }
    }
    const long row = listCtrl->InsertItem(listCtrl->GetItemCount(), text);
    listCtrl->SetItemData(row, record.id);
    listCtrl->SetItem(row, 1, wxString::FromUTF8(record.last.status));
}

JobContext MyFrame::JobContextNow() {
    JobContext context;
    context.connection = ConnectionSettings;
    // The download folder is the working folder; the job keeps its absolute path, so a
    // later change of folder in Setup does not move a running download.
    context.folder = DownloadFolder();
    context.key = OpsKeyInUse();
    context.usSource = UsSourceInUse();
    return context;
}

void MyFrame::ShowReport(JobRecord& record) {
    const long row = FindRowOfJob(record.id);
    if (row >= 0)
        listCtrl->SetItem(row, 1, wxString::FromUTF8(record.last.status));
}

void MyFrame::RequestStopOfSelected() {
    for (long row = listCtrl->GetFirstSelected(); row != -1; row = listCtrl->GetNextSelected(row))
        if (JobRecord* record = RecordOfRow(row))
            queue.RequestStop(*record);
}

wxString MyFrame::DownloadFolder() {
    wxString cwd;
    {
        wxLogNull quiet; // a folder removed behind our back is not worth a box
        cwd = wxGetCwd();
    }
    if (!cwd.empty() && wxDirExists(cwd))
        lastGoodFolder = cwd;
    return lastGoodFolder.empty() ? cwd : lastGoodFolder;
}

void MyFrame::OnJobStatus(wxThreadEvent& event) {
    JobProgress progress;
    if (!JobProgressOf(event, progress))
        return;
    if (JobRecord* record = queue.Report(progress); record && record->kind == kOpsJob)
        ShowEpoWeekUse();
}

wxString EpoWeekUseText(long long usedBytes) {
    const double mb = 1000.0 * 1000.0;
    const double quotaGb = double(kOpsWeekQuotaBytes) / (mb * 1000.0);
    // Megabytes until a tenth of a gigabyte, so the first pages show as more than nothing.
    if (usedBytes < 100 * 1000 * 1000)
        return wxString::Format("EPO: %.0f MB of %.0f GB this week", double(usedBytes) / mb,
                                quotaGb);
    return wxString::Format("EPO: %.1f GB of %.0f GB this week", double(usedBytes) / (mb * 1000.0),
                            quotaGb);
}

void MyFrame::ShowEpoWeekUse() {
    const long long used = OpsWeekQuotaUsedBytes();
    if (used >= 0)
        SetStatusText(EpoWeekUseText(used), 0);
}

void MyFrame::OnJobEnded(wxThreadEvent& event) {
    queue.Ended(event.GetId());
}

void MyFrame::OnJobPdfReady(wxThreadEvent& event) {
    const wxString path = event.GetString();
    if (!queue.PdfReady(event.GetId(), path))
        return;
    if (takeRequest(openWhenFinished, event.GetId()))
        OpenPdf(path);
    if (takeRequest(printWhenFinished, event.GetId()))
        PrintPdf(path);
}

void MyFrame::OnUsptoPage(wxThreadEvent&) {
    ++pagesDownloaded;
    SetStatusText(wxString::Format("%d Pages Downloaded from the USPTO", pagesDownloaded), 0);
    if (pagesDownloaded % 500 == 0) {
        wxString warning = wxString::Format(kUsageWarning, pagesDownloaded);
        warning << kUsageNoticeAddress << "\n\n" << kUsageQuotation;
        wxLogMessage("%s", warning);
    }
}
