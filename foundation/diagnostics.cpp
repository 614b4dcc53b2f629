#include "foundation/diagnostics.h"

#include "foundation/byte_string.h"

#include <windows.h>

#include <map>
#include <ostream>
#include <mutex>
#include <string>

int diagnosticsLevel = 0;

namespace {

struct FailedCheck {
    std::string message;
    u64 hits = 0;
};

struct FailedChecks {
    std::mutex mutex;
    // By expression text; ordered so that the summary reads the same in
    // every run.
    std::map<std::string, FailedCheck> byExpression;
};

FailedChecks& failedChecks()
{
    static FailedChecks checks;
    return checks;
}

} // namespace

void reportAssertion(const char* expressionText)
{
    const std::string expression = expressionText ? expressionText : "";
    std::string message;
    {
        FailedChecks& checks = failedChecks();
        std::lock_guard<std::mutex> lock(checks.mutex);
        FailedCheck& check = checks.byExpression[expression];
        // A check that fails every frame would otherwise stack a modal box
        // per frame and make the demo unplayable.
        if (check.hits++ > 0)
            return;
        check.message = String(expression.c_str(), '"', '"', "- internal error -").c_str();
        message = check.message;
    }
    MessageBoxA(nullptr, message.c_str(), "Assertion failed", MB_ICONEXCLAMATION);
}

void writeAssertionSummary(std::ostream& log)
{
    FailedChecks& checks = failedChecks();
    std::lock_guard<std::mutex> lock(checks.mutex);
    for (const auto& [expression, check] : checks.byExpression)
        log << "Assertion failed " << check.hits << (check.hits == 1 ? " time: " : " times: ") << check.message
                  << std::endl;
}

void forgetFailedAssertions()
{
    FailedChecks& checks = failedChecks();
    std::lock_guard<std::mutex> lock(checks.mutex);
    checks.byExpression.clear();
}
