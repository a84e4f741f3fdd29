// The contract suite of tests/contract, unchanged, run against the LibreOffice backend too.
// It is included rather than linked because its fixture lives in an unnamed namespace.
#include "servercontract.cpp"

#include "sharedoffice.h"

namespace {

INSTANTIATE_TEST_SUITE_P(
    LibreOffice, ServerContract,
    ::testing::Values(Backend{"libreoffice",
                              [] { return std::make_unique<corvane::testing::SharedOfficeHandle>(); }}),
    [](const ::testing::TestParamInfo<Backend>& p) { return std::string(p.param.name); });

} // namespace
