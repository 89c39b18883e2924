#include "downloadQueue.h"

#include <algorithm>

namespace {

void eraseFirst(std::vector<JobRecord*>& list, const JobRecord* record) {
    auto it = std::find(list.begin(), list.end(), record);
    if (it != list.end())
        list.erase(it);
}

} // namespace

DownloadQueue::DownloadQueue(ContextSource context, Listener onReport, Listener onEnded)
    : m_context(std::move(context)), m_onReport(std::move(onReport)),
      m_onEnded(std::move(onEnded)) {}

DownloadQueue::~DownloadQueue() {
    StopAll();
}

JobRecord& DownloadQueue::Add(std::unique_ptr<JobRecord> owned) {
    JobRecord& record = *owned;
    record.id = m_nextId++;
    record.last = JobProgress();
    record.last.id = record.id;
    m_records.push_back(std::move(owned));
    if (record.valid) {
        record.last.status = "Waiting";
        m_waiting.push_back(&record);
    } else {
        // Nothing to do; the record only reports it.
        record.finished = true;
        record.last.phase = JobPhase::UnknownFormat;
        record.last.status = kUnknownFormatStatus;
    }
    return record;
}

bool DownloadQueue::Making(const wxString& pdfPath) const {
    if (pdfPath.empty())
        return false;
    for (const JobRecord* running : m_running)
        if (running->target == pdfPath)
            return true;
    return false;
}

void DownloadQueue::Dispatch() {
    if (m_stopping || m_waiting.empty() || m_running.size() >= m_limit)
        return;
    const JobContext context = m_context();
    for (size_t i = 0; i < m_waiting.size() && m_running.size() < m_limit;) {
        JobRecord& record = *m_waiting[i];
        const int kind = RouteJob(record.kind, record.number, context);
        const wxString target = PdfPathFor(record.number, kind, context.folder);
        if (Making(target)) {
            ++i; // the same file twice: this one waits for the running one
            continue;
        }
        m_waiting.erase(m_waiting.begin() + static_cast<long>(i));
        record.kind = kind;
        record.target = target;
        Start(record, context);
    }
}

void DownloadQueue::Start(JobRecord& record, const JobContext& context) {
    std::unique_ptr<ziv2ize> job = MakeJob(record.kind, record.id, record.number, context);
    if (job->Create() != wxTHREAD_NO_ERROR || job->Run() != wxTHREAD_NO_ERROR) {
        // A job that cannot run must not hold a running place forever.
        End(record, JobPhase::Failed, "Error starting the download");
        return;
    }
    record.job = std::move(job);
    m_running.push_back(&record);
}

void DownloadQueue::End(JobRecord& record, JobPhase phase, const char* status) {
    record.finished = true;
    record.last.phase = phase;
    record.last.status = status;
    m_onReport(record);
    m_onEnded(record);
}

JobRecord* DownloadQueue::Find(int id) const {
    for (const std::unique_ptr<JobRecord>& record : m_records)
        if (record->id == id)
            return record.get();
    return nullptr;
}

JobRecord* DownloadQueue::Report(const JobProgress& progress) {
    JobRecord* record = Find(progress.id);
    // A record that ended (a cancelled row) keeps its last word.
    if (!record || record->finished)
        return nullptr;
    record->last = progress;
    m_onReport(*record);
    return record;
}

JobRecord* DownloadQueue::PdfReady(int id, const wxString& path) {
    JobRecord* record = Find(id);
    if (!record)
        return nullptr;
    record->pdfPath = path;
    return record;
}

JobRecord* DownloadQueue::Ended(int id) {
    JobRecord* record = Find(id);
    if (!record || record->finished)
        return nullptr;
    if (record->job) {
        record->job->Wait();
        record->job.reset();
    }
    eraseFirst(m_running, record);
    record->finished = true;
    m_onEnded(*record);
    Dispatch();
    return record;
}

void DownloadQueue::RequestStop(JobRecord& record) {
    if (record.job)
        record.job->RequestStop();
}

void DownloadQueue::StopJob(JobRecord& record) {
    if (record.job) {
        record.job->Delete(); // asks it to end and waits; it posts nothing more
        record.job.reset();
    }
    eraseFirst(m_running, &record);
    eraseFirst(m_waiting, &record);
}

void DownloadQueue::Cancel(JobRecord& record) {
    if (record.finished)
        return;
    StopJob(record);
    End(record, JobPhase::Cancelled, "Cancelled");
}

void DownloadQueue::Remove(int id) {
    JobRecord* record = Find(id);
    if (!record)
        return;
    StopJob(*record);
    record->finished = true;
    m_records.erase(
        std::find_if(m_records.begin(), m_records.end(),
                     [record](const std::unique_ptr<JobRecord>& r) { return r.get() == record; }));
}

void DownloadQueue::StopAll() {
    m_stopping = true;
    for (JobRecord* record : m_running)
        RequestStop(*record);
    const std::vector<JobRecord*> running = m_running;
    for (JobRecord* record : running)
        StopJob(*record);
    m_waiting.clear();
}

void DownloadQueue::EndUnfinished() {
    for (const std::unique_ptr<JobRecord>& owned : m_records) {
        JobRecord& record = *owned;
        if (record.finished)
            continue;
        StopJob(record);
        // What a job posted before it stopped still counts: a PDF put in place is there,
        // even when the stop came before the job's end was reported.
        if (IsSuccessPhase(record.last.phase)) {
            record.finished = true;
            m_onEnded(record);
        } else {
            End(record, JobPhase::Cancelled, "Cancelled");
        }
    }
}
