#include "serverregistry.h"

#include <mutex>
#include <utility>

namespace corvane::jobs {

namespace {

std::mutex& registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

automation::ServerFactory& registered()
{
    static automation::ServerFactory factory;
    return factory;
}

} // namespace

void installServerFactory(automation::ServerFactory factory)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    registered() = std::move(factory);
}

automation::ServerFactory installedServerFactory()
{
    std::lock_guard<std::mutex> lock(registryMutex());
    return registered();
}

} // namespace corvane::jobs
