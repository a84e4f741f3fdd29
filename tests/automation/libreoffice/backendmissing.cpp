// Stands in for the LibreOffice backend's tests in a build without the LibreOffice SDK; the
// reason comes as the first argument.
#include <cstdio>

int main(int argc, char** argv)
{
    std::printf("Skipped: the LibreOffice backend is not built: %s\n", argc > 1 ? argv[1] : "unknown reason");
    return 77;
}
