#include "materials/texel_budget.h"

#include "foundation/log.h"

#include <ostream>

namespace {

// A file of thousands of clips would otherwise write a line for each.
constexpr u32 kLoggedRefusals = 8;

} // namespace

bool TexelBudget::take(u64 count, const char* what)
{
    if (count <= limit && spent <= limit - count) {
        spent += count;
        return true;
    }
    if (refused < kLoggedRefusals)
        logStream << "\"" << (what ? what : "") << "\" not loaded: its " << count
                  << " texels would take the metascene's textures past " << limit << " texels" << std::endl;
    else if (refused == kLoggedRefusals)
        logStream << "Further textures past the metascene's " << limit << " texels are not logged" << std::endl;
    ++refused;
    return false;
}

void TexelBudget::giveBack(u64 count)
{
    spent = count < spent ? spent - count : 0;
}
