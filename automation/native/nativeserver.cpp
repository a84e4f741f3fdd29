#include "nativeserver.h"

#include "nativeworkbook.h"

#include "automation/compoundfile.h"
#include "biff/biffworkbook.h"

namespace corvane::automation::native {

std::unique_ptr<Workbook> NativeServer::open(const QString& path)
{
    // An encrypted compound file is refused by the package side, with the reason every server gives.
    if (isCompoundFile(path) && !compoundFileIsEncrypted(path)) {
        auto workbook = std::make_unique<biff::BiffWorkbook>();
        if (!workbook->open(path, m_work)) {
            m_lastError = workbook->lastError();
            m_lastOpenWasForeign = workbook->handOver();
            return nullptr;
        }
        m_lastError.clear();
        m_lastOpenWasForeign = false;
        return workbook;
    }
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

QString NativeServer::refusal(const QString& path)
{
    NativeWorkbook workbook;
    if (!workbook.open(path))
        return workbook.foreignFormat() ? QString() : workbook.lastError();
    return workbook.package().verifyEntries();
}

} // namespace corvane::automation::native
