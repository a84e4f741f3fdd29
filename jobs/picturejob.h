// What the picture launches of the window and of the command line share besides the cell
// launch's checks: the picture path test, the transparent copy, and the operation's options.
#pragma once

#include "joboptions.h"

#include "operations/pictureinsertion.h"

#include <QString>

namespace corvane::jobs {

// "图片路径不正确,请选择正确路径!"
QString picturePathWrongMessage();
// A picture path was given and nothing exists there.
bool picturePathWrong(const JobOptions& options);

// "正在处理图片...", shown while the transparent copy is made.
QString convertingPictureMessage();
// Whether the launch makes a transparent copy (asked for, and there is a picture).
bool wantsTransparentCopy(const JobOptions& options);
// Writes the transparent copy and points picPath at it, whether or not it could be written
// (the run then reports every insertion of the missing copy as failed). The chosen picture is
// left as it is; the worker deletes the copy at the end of the run.
void makeTransparentCopy(JobOptions& options);

// The operation's options from the job's; picWidth and picHeight below 1 become -1 in
// `options` itself, as the worker has always left them.
automation::PictureInsertionOptions pictureInsertionOptions(JobOptions& options);

} // namespace corvane::jobs
