// An advisory lock a run holds on a workbook from opening it to closing it, so that two runs
// on one folder take turns with a workbook instead of one overwriting the other's changes.
#pragma once

#include <QString>

namespace corvane::platform {

class WorkbookLock
{
public:
    WorkbookLock() = default;
    ~WorkbookLock();
    WorkbookLock(const WorkbookLock&) = delete;
    WorkbookLock& operator=(const WorkbookLock&) = delete;

    // Locks the file at `path`, waiting up to `waitMs` milliseconds while another run holds it.
    // False when it is still held then. A file that cannot be opened is not locked, and true is
    // returned: opening the workbook will fail with the reason.
    bool acquire(const QString& path, int waitMs);
    void release();

private:
    int m_fd = -1;
};

// Why a workbook that another run holds is left alone.
QString inUseByAnotherRunReason(); // "in use by another run"

} // namespace corvane::platform
