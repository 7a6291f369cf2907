// The print job against scripted printer calls: each step that fails, what is returned and what is still called.
#include "report/print_job.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/printer_choice.h"

namespace {

struct FakeJob {
    std::string failing; // the step that fails, or empty
    long lastError = 0;
    std::vector<std::string> log;
};

bool step(void *context, const char *name)
{
    FakeJob &job = *static_cast<FakeJob *>(context);
    job.log.push_back(name);
    return job.failing != name;
}

const PrintJobOps OPS = {
    nullptr,
    [](void *c) { return step(c, "start document"); },
    [](void *c) { return step(c, "start page"); },
    [](void *c) { step(c, "draw"); },
    [](void *c) { return step(c, "end page"); },
    [](void *c) { return step(c, "end document"); },
    [](void *c) { return static_cast<FakeJob *>(c)->lastError; },
};

TEST(PrintJob, AFailedStepEndsTheJobWithTheSystemsCodeNeverZero)
{
    using Log = std::vector<std::string>;
    struct Row {
        const char *failing;
        long lastError;
        long result;
        PrintStep step;
        Log calls;
    };
    const Log whole = {"start document", "start page", "draw", "end page", "end document"};
    const Row rows[] = {
        {"", 0, 0, PrintStep::none, whole},
        {"start document", 1804, 1804, PrintStep::startDocument, {"start document"}},
        {"start page", 6, 6, PrintStep::startPage, {"start document", "start page"}},
        {"end page", 1784, 1784, PrintStep::endPage, {"start document", "start page", "draw", "end page"}},
        // The print server refused the job: the document's end says so, with
        // the system's code, or with a code of its own when wine leaves none.
        {"end document", 1804, 1804, PrintStep::endDocument, whole},
        {"end document", 0, ERR_PRINT_NO_CODE, PrintStep::endDocument, whole},
        // Wine's StartDocA and StartPage can fail leaving no code either.
        {"start document", 0, ERR_PRINT_NO_CODE, PrintStep::startDocument, {"start document"}},
        {"start page", 0, ERR_PRINT_NO_CODE, PrintStep::startPage, {"start document", "start page"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.failing) + " fails, code " + std::to_string(row.lastError));
        FakeJob job{row.failing, row.lastError, {}};
        PrintJobOps ops = OPS;
        ops.context = &job;
        PrintStep step = PrintStep::none;
        EXPECT_EQ(runPrintJob(ops, &step), row.result);
        EXPECT_EQ(step, row.step);
        EXPECT_EQ(job.log, row.calls);
    }
}

} // namespace
