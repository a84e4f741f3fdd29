#include "sharedoffice.h"

#include <gtest/gtest.h>

namespace corvane::testing {

namespace {

std::unique_ptr<corvane::automation::libreoffice::LibreOfficeServer>& officeSlot()
{
    static std::unique_ptr<corvane::automation::libreoffice::LibreOfficeServer> office;
    return office;
}

// Quits the office after the last test, while the UNO runtime is still intact.
class OfficeEnvironment : public ::testing::Environment
{
public:
    void TearDown() override
    {
        if (officeSlot())
            officeSlot()->quit();
        officeSlot().reset();
    }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new OfficeEnvironment);

} // namespace

corvane::automation::libreoffice::LibreOfficeServer& sharedOffice()
{
    (void)registered;
    if (!officeSlot())
        officeSlot() = std::make_unique<corvane::automation::libreoffice::LibreOfficeServer>();
    return *officeSlot();
}

} // namespace corvane::testing
