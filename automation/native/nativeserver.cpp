#include "nativeserver.h"

#include "nativeworkbook.h"

#include "automation/compoundfile.h"
#include "biff/biffworkbook.h"

namespace corvane::automation::native {

std::unique_ptr<Workbook> NativeServer::open(const QString& path)
{
    auto workbook = std::make_unique<NativeWorkbook>();
    if (workbook->open(path)) {
        m_lastError.clear();
        m_lastOpenWasForeign = false;
        return workbook;
    }
    // The package side has refused an encrypted compound file already; any other is an
    // Excel 97-2003 workbook or damaged.
    if (workbook->foreignFormat() && isCompoundFile(path)) {
        auto binary = std::make_unique<biff::BiffWorkbook>();
        if (binary->open(path, m_work, nullptr, m_formula, m_rewrite)) {
            m_lastError.clear();
            m_lastOpenWasForeign = false;
            return binary;
        }
        m_lastError = binary->lastError();
        m_lastOpenWasForeign = binary->handOver();
        return nullptr;
    }
    m_lastError = workbook->lastError();
    m_lastOpenWasForeign = workbook->foreignFormat();
    return nullptr;
}

ConcurrentOpen NativeServer::openConcurrently(const QString& path)
{
    ConcurrentOpen opened;
    auto workbook = std::make_unique<NativeWorkbook>();
    if (workbook->open(path)) {
        opened.workbook = std::move(workbook);
        return opened;
    }
    // An Excel 97-2003 workbook goes through a container library that is not made to be used
    // from several threads at once: it is opened by open() on the run's thread.
    if (workbook->foreignFormat() && isCompoundFile(path)) {
        opened.handOver = true;
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
