// The main window's side of the jobs: turning typed text into rows and jobs, the queue of
// waiting jobs, and the reactions to job events.
#include "MyFrame.h"

#include "jobRecord.h"
#include "numberList.h"
#include "ops.h"
#include "pct.h"
#include "settings.h"
#include "uspto.h"

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

void eraseFirst(std::vector<JobRecord*>& queue, JobRecord* record) {
    auto it = std::find(queue.begin(), queue.end(), record);
    if (it != queue.end())
        queue.erase(it);
}

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
    JobRecord* record = new JobRecord(text);
    if (!record->valid) {
        delete record;
        // The typed text is data, never a format.
        wxLogError("%s",
                   "\"" + TextForMessage(text) + "\" -- Unknown Format\n\n\n" + kInputToolTip);
        return;
    }
    AddRow(text, record);
    textCtrl->SetValue(wxEmptyString);
    textCtrl->SetFocus();
}

void MyFrame::AddRow(const wxString& text, JobRecord* record) {
    const long row = listCtrl->InsertItem(listCtrl->GetItemCount(), text);
    listCtrl->SetItemPtrData(row, reinterpret_cast<wxUIntPtr>(record));
    record->id = nextJobId++;
    if (!record->valid) {
        record->finished = true; // nothing to do; the row only reports it
        listCtrl->SetItem(row, 1, kUnknownFormatStatus);
        return;
    }
    listCtrl->SetItem(row, 1, "Waiting");
    if (runningJobs.size() < maxThreads) {
        runningJobs.push_back(record);
        StartJob(*record);
    } else {
        waitingJobs.push_back(record);
    }
}

void MyFrame::StartJob(JobRecord& record) {
    // The download folder is the working folder; the job keeps its absolute path, so a
    // later change of folder in Setup does not move a running download.
    const JobInput input(record.number, ConnectionSettings, DownloadFolder());
    const OpsKeyRecord key = OpsKeyInUse();
    ziv2ize* job = nullptr;
    if (!key.empty()) {
        record.kind = kOpsJob;
        job = new ops(record.id, input, OpsCredentials{key.key, key.secret});
    } else {
        if (!toldAboutEpoKey) {
            // The services the job is about to try are retired: say once what helps.
            toldAboutEpoKey = true;
            SetStatusText(kNoEpoKeyNotice, 0);
        }
        if (record.kind == kUsptoJob)
            job = new uspto(record.id, input);
        else
            job = new pct(record.id, input);
    }
    record.job = job;
    if (job->Create() != wxTHREAD_NO_ERROR || job->Run() != wxTHREAD_NO_ERROR) {
        // A job that cannot run must not hold a running place forever.
        delete job;
        record.job = nullptr;
        record.valid = false;
        record.finished = true;
        eraseFirst(runningJobs, &record);
        const long row = FindRowOfJob(record.id);
        if (row >= 0)
            listCtrl->SetItem(row, 1, "Error starting the download");
    }
}

void MyFrame::StopJob(JobRecord& record) {
    if (record.job) {
        record.job->Delete(); // asks it to end and waits; it posts nothing more
        delete record.job;
        record.job = nullptr;
    }
    record.finished = true;
}

void MyFrame::RequestStopOfSelected() {
    for (long row = listCtrl->GetFirstSelected(); row != -1; row = listCtrl->GetNextSelected(row))
        if (JobRecord* record = RecordOfRow(row); record && record->job)
            record->job->RequestStop();
}

void MyFrame::RequestStopOfAll() {
    for (long row = listCtrl->GetNextItem(-1); row != -1; row = listCtrl->GetNextItem(row))
        if (JobRecord* record = RecordOfRow(row); record && record->job)
            record->job->RequestStop();
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

void MyFrame::FreeJobRecord(JobRecord* record) {
    StopJob(*record);
    delete record;
}

void MyFrame::Forget(JobRecord* record) {
    eraseFirst(runningJobs, record);
    eraseFirst(waitingJobs, record);
}

void MyFrame::DispatchWaitingJobs() {
    while (!waitingJobs.empty() && runningJobs.size() < maxThreads) {
        JobRecord* record = waitingJobs.front();
        runningJobs.push_back(record);
        waitingJobs.erase(waitingJobs.begin());
        StartJob(*record);
    }
}

void MyFrame::OnJobStatus(wxThreadEvent& event) {
    const long row = FindRowOfJob(event.GetId());
    if (row < 0)
        return;
    listCtrl->SetItem(row, 1, event.GetString());
    if (RecordOfRow(row)->kind == kOpsJob)
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
    const long row = FindRowOfJob(event.GetId());
    if (row < 0)
        return;
    JobRecord* record = RecordOfRow(row);
    eraseFirst(runningJobs, record);
    if (record->job) {
        record->job->Wait();
        delete record->job;
        record->job = nullptr;
    }
    record->finished = true;
    if (!waitingJobs.empty()) {
        JobRecord* next = waitingJobs.front();
        waitingJobs.erase(waitingJobs.begin());
        runningJobs.push_back(next);
        StartJob(*next);
    }
}

void MyFrame::OnJobPdfReady(wxThreadEvent& event) {
    const long row = FindRowOfJob(event.GetId());
    if (row < 0)
        return;
    const wxString path = event.GetString();
    RecordOfRow(row)->pdfPath = path;
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
