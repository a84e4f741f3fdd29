#include "nativeserver.h"

#include "nativeworkbook.h"

namespace corvane::automation::native {

std::unique_ptr<Workbook> NativeServer::open(const QString& path)
{
    auto workbook = std::make_unique<NativeWorkbook>();
    if (!workbook->open(path)) {
        m_lastError = workbook->lastError();
        m_lastOpenWasForeign = workbook->foreignFormat();
        return nullptr;
    }
    m_lastError.clear();
    m_lastOpenWasForeign = false;
    return workbook;
}

ConcurrentOpen NativeServer::openConcurrently(const QString& path)
{
    ConcurrentOpen opened;
    auto workbook = std::make_unique<NativeWorkbook>();
    if (workbook->open(path)) {
        opened.workbook = std::move(workbook);
        return opened;
    }
    opened.error = workbook->lastError();
    opened.foreign = workbook->foreignFormat();
    return opened;
}

QString NativeServer::refusal(const QString& path)
{
    NativeWorkbook workbook;
    if (!workbook.open(path))
        return workbook.foreignFormat() ? QString() : workbook.lastError();
    return workbook.package().verifyEntries();
}

} // namespace corvane::automation::native
