// How a run gets its server: called on the run's worker thread, so that every backend object
// is created, used and destroyed there.
#pragma once

#include "automationserver.h"

#include <functional>
#include <memory>

namespace corvane::automation {

using ServerFactory = std::function<std::unique_ptr<AutomationServer>()>;

} // namespace corvane::automation
