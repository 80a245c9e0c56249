#include "RecordWindows.h"

#include <atomic>

namespace
{
std::atomic<ConfigureDialogRunner> g_configure{nullptr};
std::atomic<NetworkSearchRunner> g_search{nullptr};
} // namespace

ConfigureDialogRunner SetConfigureDialogRunner(ConfigureDialogRunner runner)
{
    return g_configure.exchange(runner);
}

NetworkSearchRunner SetNetworkSearchRunner(NetworkSearchRunner runner)
{
    return g_search.exchange(runner);
}

ConfigureDialogRunner GetConfigureDialogRunner()
{
    return g_configure.load();
}

NetworkSearchRunner GetNetworkSearchRunner()
{
    return g_search.load();
}
