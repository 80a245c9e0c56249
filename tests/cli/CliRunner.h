#pragma once
// Runs the built odomira-cli as a child process, the way a user or a script does, and
// collects its exit status and both output streams. Standard input is /dev/null (no
// terminal), unless text is given for it. Each runner has a private runtime folder
// (XDG_RUNTIME_DIR), so that its single-instance lock does not meet the locks of tests
// running side by side; two children of one runner do share it.
//
// Threading: one thread at a time per runner.
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct CliResult
{
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

class CliRunner
{
public:
    CliRunner();
    ~CliRunner();
    CliRunner(const CliRunner&) = delete;
    CliRunner& operator=(const CliRunner&) = delete;

    // A folder for the test's files, removed with the runner.
    const std::string& Dir() const { return m_dir; }
    std::string File(const std::string& name) const { return m_dir + "/" + name; }

    // Extra environment for every child (on top of this process's environment).
    void SetEnv(const std::string& name, const std::string& value) { m_env[name] = value; }

    // Runs to the end, at most timeoutMs (then the child is killed and the status is
    // 128 + SIGKILL).
    CliResult Run(const std::vector<std::string>& args, int timeoutMs = 60000);

    // Starts a child and returns at once; Wait collects it.
    pid_t Start(const std::vector<std::string>& args);
    // As Run, with a terminal (a pseudo-terminal) on standard input on which typed has
    // already been typed.
    CliResult RunAtTerminal(const std::vector<std::string>& args, const std::string& typed,
                            int timeoutMs = 60000);
    // As Run, with standard output on outFd (/dev/full, the write end of a pipe) instead
    // of a file; out stays empty. With ignoreSigpipe the child starts with SIGPIPE
    // ignored, as under some service managers and language run-times.
    CliResult RunWithStdout(const std::vector<std::string>& args, int outFd, bool ignoreSigpipe,
                            int timeoutMs = 60000);
    // What the running child has written to standard error so far.
    std::string ErrSoFar() const;
    CliResult Wait(int timeoutMs = 60000);

    static std::string ReadFile(const std::string& path);
    static void WriteFile(const std::string& path, const std::string& bytes);

private:
    std::string m_dir;
    std::map<std::string, std::string> m_env;
    pid_t StartWithInput(const std::vector<std::string>& args, int inputFd, int outputFd = -1,
                         bool ignoreSigpipe = false);

    pid_t m_pid = -1;
    std::string m_outPath, m_errPath;
};
