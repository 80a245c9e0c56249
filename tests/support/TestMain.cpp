// ctest runs the cases of one test binary as separate processes side by side; each
// process gets settings and device folders of its own below the ones the build gave
// the binary, so parallel cases never see each other's files or links.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

int main(int argc, char** argv)
{
    for (const char* var : {"VARKO_SETTINGS_ROOT", "VARKO_DEVICE_DIR"})
    {
        const char* base = std::getenv(var);
        if (!base || !*base)
            continue;
        std::string own = std::string(base) + "/p" + std::to_string(::getpid());
        std::error_code ec;
        std::filesystem::remove_all(own, ec);
        std::filesystem::create_directories(own, ec);
        ::setenv(var, own.c_str(), 1);
    }
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
