// The parts of a launch that every front end shares: the result lists and the folder test,
// the worker pair's replacement, and the sweep of running spreadsheet servers.
#pragma once

#include "joboptions.h"
#include "threadobject.h"

#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>
#include <memory>

namespace corvane::jobs {

// "文件夹不存在,请选择正确路径!"
QString folderMissingMessage();

// Stores the list paths, deletes the lists of an earlier run (not for a preview), then tests
// the folder. False
// means the launch must stop with folderMissingMessage(); the old lists are gone by then.
bool prepareRun(JobOptions& options);

// The refusals of the cell and picture launches. The first comes before the old lists are
// deleted, the second after the folder test.
// "指定单元格时需填写单元格名称,如：B3": the appointed-cell list is switched on but empty.
QString appointedCellsMissingMessage();
bool appointedCellsMissing(const JobOptions& options);
// "查找内容不能为空!": no find text and no appointed cells, so nothing can be located.
QString nothingToLocateMessage();
bool nothingToLocate(const JobOptions& options);

// Quits the previous job's thread, waits for its last slot to return, then destroys the
// worker and the thread. Nothing happens when there is no previous pair.
void retireWorker(std::unique_ptr<QThread>& thread, std::unique_ptr<ThreadObject>& worker);
// A new worker on a new, started thread with its own event loop.
void startWorker(std::unique_ptr<QThread>& thread, std::unique_ptr<ThreadObject>& worker);

// The question asked before leftover office processes are ended.
QString sweepQuestion(int count);

// Ends the office processes that an earlier Corvane started and that outlived it (they could
// hold workbooks open), after `confirm` (given the number found) has agreed; nothing is asked
// when there are none. The user's own office is never counted nor ended. False when the user
// declined: the launch stops.
bool ServerSweep(const std::function<bool(int count)>& confirm);

} // namespace corvane::jobs
