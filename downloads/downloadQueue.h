// The one queue of download jobs that the window and quorvane-get both show: records waiting
// and running, one rule set for starting and stopping them. A view adds records, hands over
// the events its jobs post and forwards the user's commands; it only shows what the queue
// reports. Every call on the view's thread.
#pragma once

#include "jobFactory.h"
#include "jobProgress.h"
#include "jobRecord.h"

#include <functional>
#include <memory>
#include <vector>

class DownloadQueue {
public:
    // Read when a job starts (see JobContext).
    using ContextSource = std::function<JobContext()>;
    // A record's report changed (record.last), or the record ended.
    using Listener = std::function<void(JobRecord&)>;

    DownloadQueue(ContextSource context, Listener onReport, Listener onEnded);
    // Stops every job still running.
    ~DownloadQueue();
    DownloadQueue(const DownloadQueue&) = delete;
    DownloadQueue& operator=(const DownloadQueue&) = delete;

    // Jobs at once. 0 starts nothing (what a broken setting gives until it is repaired).
    void SetLimit(unsigned limit) { m_limit = limit; }
    unsigned Limit() const { return m_limit; }

    // Takes record, gives it the next id and returns it: a valid one waits, an invalid one
    // has ended already (UnknownFormat). Nothing starts before Dispatch; nothing is reported,
    // so that the view can show the record first.
    JobRecord& Add(std::unique_ptr<JobRecord> record);
    // Starts waiting jobs, oldest first, while fewer than the limit run. A job whose PDF a
    // running job is making waits for that one, and then finds the file in place.
    void Dispatch();

    // The events of the jobs, by job id; null when no record has the id any more.
    JobRecord* Report(const JobProgress& progress);
    JobRecord* PdfReady(int id, const wxString& path);
    // The job's thread is awaited and freed, and waiting jobs start into its place.
    JobRecord* Ended(int id);

    // Asks a record's job to end without waiting: many are asked first, then each is
    // awaited, so that stopping takes as long as the slowest.
    void RequestStop(JobRecord& record);
    // Stops the record's job (waiting: it never starts) and reports Cancelled. The place
    // it frees is taken when the next job ends, as the user stops a row and others wait.
    void Cancel(JobRecord& record);
    // Stops the record's job and frees the record.
    void Remove(int id);
    // Asks every running job to end, then waits for all. Their last reports may still be
    // handed over; EndUnfinished then ends every record that has not ended.
    void StopAll();
    // A record whose last report says its PDF is in place keeps it; every other record
    // that has not ended reports Cancelled.
    void EndUnfinished();

    JobRecord* Find(int id) const;
    size_t RunningCount() const { return m_running.size(); }
    size_t WaitingCount() const { return m_waiting.size(); }
    // Waiting records, oldest first.
    const std::vector<JobRecord*>& Waiting() const { return m_waiting; }

private:
    void Start(JobRecord& record, const JobContext& context);
    // Frees the record's job after it was asked to end; the record leaves both lists.
    void StopJob(JobRecord& record);
    void End(JobRecord& record, JobPhase phase, const char* status);
    bool Making(const wxString& pdfPath) const;

    ContextSource m_context;
    Listener m_onReport;
    Listener m_onEnded;
    unsigned m_limit = 3;
    int m_nextId = 0;
    bool m_stopping = false;
    std::vector<std::unique_ptr<JobRecord>> m_records;
    std::vector<JobRecord*> m_waiting;
    std::vector<JobRecord*> m_running;
};
