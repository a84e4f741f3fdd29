#include "launch.h"

#include "resultlists.h"

#include "platform/officeleftovers.h"
#include "platform/paths.h"

namespace corvane::jobs {

QString folderMissingMessage()
{
    return QStringLiteral("文件夹不存在,请选择正确路径!");
}

bool prepareRun(JobOptions& options)
{
    setListPaths(options);
    // A preview writes no lists, so the last real run's lists stay.
    if (!options.dryRun)
        deleteOldLists(options);
    return platform::FolderExists(options.sourcePath);
}

QString appointedCellsMissingMessage()
{
    return QStringLiteral("指定单元格时需填写单元格名称,如：B3");
}

bool appointedCellsMissing(const JobOptions& options)
{
    return options.appointCellOn && options.appointCells.isEmpty();
}

QString nothingToLocateMessage()
{
    return QStringLiteral("查找内容不能为空!");
}

bool nothingToLocate(const JobOptions& options)
{
    return options.cellFindText.isEmpty() && !options.appointCellOn;
}

void retireWorker(std::unique_ptr<QThread>& thread, std::unique_ptr<ThreadObject>& worker)
{
    if (thread) {
        thread->quit();
        thread->wait();
    }
    worker.reset();
    thread.reset();
}

void startWorker(std::unique_ptr<QThread>& thread, std::unique_ptr<ThreadObject>& worker)
{
    thread = std::make_unique<QThread>();
    worker = std::make_unique<ThreadObject>();
    worker->moveToThread(thread.get());
    thread->start();
}

QString sweepQuestion(int count)
{
    return QStringLiteral("检测到%1个上次运行遗留的表格程序进程。继续将强制结束这些进程。\n"
                          "是否结束它们并继续?")
        .arg(count);
}

bool ServerSweep(const std::function<bool(int count)>& confirm)
{
    const int leftovers = int(platform::officeLeftovers().size());
    if (leftovers == 0)
        return true;
    if (!confirm(leftovers))
        return false;
    platform::endOfficeLeftovers();
    return true;
}

} // namespace corvane::jobs
