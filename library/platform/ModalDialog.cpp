#include "ModalDialog.h"

#include <atomic>

namespace
{
class DefaultRunner : public IModalRunner
{
public:
    int RunModal(IModalDialog& dialog) override { return dialog.RunModalLoop(); }
};

DefaultRunner g_defaultRunner;
std::atomic<IModalRunner*> g_runner{nullptr};
} // namespace

IModalDialog::~IModalDialog() = default;
IModalRunner::~IModalRunner() = default;

IModalRunner* SetModalRunner(IModalRunner* runner)
{
    return g_runner.exchange(runner);
}

int RunModalDialog(IModalDialog& dialog)
{
    IModalRunner* r = g_runner.load();
    return (r ? r : &g_defaultRunner)->RunModal(dialog);
}
