#include "CliRunner.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
std::string ToolPath()
{
    const char* bin = std::getenv("ODOMIRA_BIN_DIR");
    return std::string(bin ? bin : ".") + "/odomira-cli";
}
} // namespace

CliRunner::CliRunner()
{
    char tmpl[] = "/tmp/odomira-cli-test-XXXXXX";
    if (!::mkdtemp(tmpl))
        throw std::runtime_error("mkdtemp failed");
    m_dir = tmpl;
    std::filesystem::create_directory(m_dir + "/run");
    ::chmod((m_dir + "/run").c_str(), 0700);
    m_env["XDG_RUNTIME_DIR"] = m_dir + "/run";
}

CliRunner::~CliRunner()
{
    if (m_pid > 0)
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::string CliRunner::ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void CliRunner::WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

pid_t CliRunner::Start(const std::vector<std::string>& args)
{
    return StartWithInput(args, -1);
}

CliResult CliRunner::RunAtTerminal(const std::vector<std::string>& args, const std::string& typed,
                                   int timeoutMs)
{
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    // The line discipline keeps what is typed until the child reads it.
    if (::write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size()))
        throw std::runtime_error("typing failed");
    StartWithInput(args, slave);
    ::close(slave);
    // Drain the echo so the child never blocks on a full terminal.
    std::atomic<bool> done{false};
    std::thread drain(
        [&]
        {
            char buf[256];
            while (!done)
            {
                struct pollfd p = {master, POLLIN, 0};
                if (::poll(&p, 1, 50) > 0 && ::read(master, buf, sizeof buf) <= 0)
                    break;
            }
        });
    CliResult r = Wait(timeoutMs);
    done = true;
    drain.join();
    ::close(master);
    return r;
}

CliResult CliRunner::RunWithStdout(const std::vector<std::string>& args, int outFd,
                                   bool ignoreSigpipe, int timeoutMs)
{
    StartWithInput(args, -1, outFd, ignoreSigpipe);
    return Wait(timeoutMs);
}

pid_t CliRunner::StartWithInput(const std::vector<std::string>& args, int inputFd, int outputFd,
                                bool ignoreSigpipe)
{
    if (m_pid > 0)
        throw std::runtime_error("a child is already running");
    static int serial = 0;
    ++serial;
    m_outPath = m_dir + "/out." + std::to_string(serial);
    m_errPath = m_dir + "/err." + std::to_string(serial);
    std::string tool = ToolPath();
    std::vector<std::string> argv = {tool};
    argv.insert(argv.end(), args.begin(), args.end());

    // Everything the child needs is prepared before fork: between fork and exec only
    // async-signal-safe calls are made.
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e)
    {
        std::string kv(*e);
        auto eq = kv.find('=');
        if (eq != std::string::npos)
            env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : m_env)
        env[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : env)
        envStrings.push_back(k + "=" + v);
    std::vector<char*> cenv;
    for (auto& e : envStrings)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);
    std::vector<char*> cargs;
    for (auto& a : argv)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0)
    {
        int in = inputFd >= 0 ? inputFd : ::open("/dev/null", O_RDONLY);
        int out = outputFd >= 0 ? outputFd
                                : ::open(m_outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(m_errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0)
            ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        // A test runner may ignore SIGINT for its children; the tool must see it.
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGPIPE, ignoreSigpipe ? SIG_IGN : SIG_DFL);
        ::execve(tool.c_str(), cargs.data(), cenv.data());
        ::_exit(127);
    }
    m_pid = pid;
    return pid;
}

std::string CliRunner::ErrSoFar() const
{
    return ReadFile(m_errPath);
}

CliResult CliRunner::Wait(int timeoutMs)
{
    CliResult r;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;)
    {
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid)
            break;
        if (std::chrono::steady_clock::now() > deadline)
        {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadFile(m_outPath);
    r.err = ReadFile(m_errPath);
    return r;
}

CliResult CliRunner::Run(const std::vector<std::string>& args, int timeoutMs)
{
    Start(args);
    return Wait(timeoutMs);
}
