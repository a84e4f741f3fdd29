// A sink that keeps every call made to it, to be replayed later into the run's own sink: a
// workbook worked on beside others reports into one of these, and the run passes the calls on
// in walk order, so that what the user sees does not depend on which workbook finished first.
#pragma once

#include "run/runsink.h"

#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace corvane::automation {

class DeferredSink : public RunSink
{
public:
    // Every method of RunSink is forwarded by one line of this form.
    void status(const QString& text) override { record(&RunSink::status, text); }
    void runEnded() override { record(&RunSink::runEnded); }
    void progress(int done, int total) override { record(&RunSink::progress, done, total); }
    void workbookFailed(const QString& path, const QString& reason) override
    {
        record(&RunSink::workbookFailed, path, reason);
    }
    void serverFailed(const QString& reason) override { record(&RunSink::serverFailed, reason); }
    void writeList(ResultList list, const QString& text) override { record(&RunSink::writeList, list, text); }
    void change(const ChangeRecord& entry) override { record(&RunSink::change, entry); }
    void workbookOutcome(const WorkbookRecord& entry) override { record(&RunSink::workbookOutcome, entry); }

    // Makes the recorded calls on `sink`, in the order they were made here.
    void replay(RunSink& sink) const
    {
        for (const auto& call : m_calls)
            call(sink);
    }

private:
    // The arguments are kept by value: the recording outlives the caller's objects.
    template <typename... Params, typename... Args>
    void record(void (RunSink::*method)(Params...), Args&&... args)
    {
        m_calls.emplace_back(
            [method, kept = std::make_tuple(std::decay_t<Args>(std::forward<Args>(args))...)](RunSink& sink) {
                std::apply([&sink, method](const auto&... values) { (sink.*method)(values...); }, kept);
            });
    }

    std::vector<std::function<void(RunSink&)>> m_calls;
};

} // namespace corvane::automation
