#include "nativeserver.h"

#include "nativeworkbook.h"

namespace corvane::automation::native {

std::unique_ptr<Workbook> NativeServer::open(const QString& path)
{
    auto workbook = std::make_unique<NativeWorkbook>();
    if (!workbook->open(path)) {
        m_lastError = workbook->lastError();
        return nullptr;
    }
    m_lastError.clear();
    return workbook;
}

} // namespace corvane::automation::native
