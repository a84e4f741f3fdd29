// Stands in for the LibreOffice backend's tests in a build without the LibreOffice SDK.
#include <cstdio>

int main()
{
    std::printf("Skipped: the LibreOffice backend is not built: %s\n", CORVANE_SKIP_REASON);
    return 77;
}
