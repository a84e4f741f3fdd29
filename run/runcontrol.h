// What a front end may do to a run from outside it: ask it to stop between two workbooks, and
// have a say before each workbook is saved (a copy of the original, say).
#pragma once

#include <QString>

#include <atomic>

namespace corvane::automation {

// Set from any thread (a button, a signal watcher); the run reads it between workbooks, so the
// workbook in hand is always finished: saved completely or left as it was.
class StopRequest
{
public:
    void request() { m_requested.store(true, std::memory_order_relaxed); }
    bool isRequested() const { return m_requested.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_requested{false};
};

// With several workbooks worked on at once, the calls for different workbooks may interleave
// (beforeSave of one between beforeSave and afterSave of another), but never overlap.
class SaveGuard
{
public:
    virtual ~SaveGuard() = default;
    // Just before the workbook at `path` (native separators) is saved; the file still holds
    // its original bytes. False, with `reason`, means it must not be saved.
    virtual bool beforeSave(const QString& path, QString* reason) = 0;
    // After the save that beforeSave() allowed; when `saved`, the file now holds what the run
    // wrote, otherwise it is as it was.
    virtual void afterSave(const QString& path, bool saved) = 0;
    // Put after each summary of the run (where the originals were kept, say); empty for none.
    virtual QString summaryNote() const { return {}; }
};

struct RunControl
{
    const StopRequest* stop = nullptr;
    SaveGuard* saveGuard = nullptr;
};

} // namespace corvane::automation
