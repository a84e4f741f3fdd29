// The three result lists of a run: where they lie, their deletion at launch, and how the
// worker writes them at the end of a run.
#pragma once

#include "run/runsink.h"

#include <QString>

namespace corvane::jobs {

struct JobOptions;

QString openFailedListName(); // "无法打开修改的文件目录(文件格式有误).txt"
QString matchedListName();    // "包含内容并成功修改的文件目录.txt"
QString unmatchedListName();  // "不包含内容无修改的文件目录.txt"

// Each path is sourcePath followed directly by the name: a folder typed without a final
// separator puts the lists beside it, their names prefixed by the folder's.
void setListPaths(JobOptions& options);
// Deletes the lists of an earlier run that exist, in the order open-failed, matched,
// unmatched. A list that cannot be deleted is left; the run writes it anew.
void deleteOldLists(const JobOptions& options);

QString listPath(const JobOptions& options, automation::ResultList list);

// The status line for a list that could not be written: "结果列表写入失败:" and its path.
QString listNotWrittenMessage(const QString& path);

// Writes `text` (entries ending in "\n") in the system's 8-bit encoding with CR LF line ends,
// replacing any earlier file. False, with the reason, when it could not be written whole (a
// full disk, a read-only folder).
bool writeResultList(const QString& path, const QString& text, QString* error = nullptr);

} // namespace corvane::jobs
