#pragma once
// The control socket tests steer the simulator through: a Unix stream socket taking one
// command per line and answering each with one line, in order, per client.
//
// Threading: single-threaded, like the loop.
#include "Transport.h"

#include <memory>

namespace printersim
{

class ControlTransport : public Transport
{
public:
    // handler: the answer line (without its line end) to one command line.
    using Handler = std::function<std::string(const std::string& line)>;
    ControlTransport(std::string path, Handler handler)
        : m_path(std::move(path)), m_handler(std::move(handler))
    {
    }
    ~ControlTransport() override;

    // Creates the socket (replacing a stale one). "" or an error.
    std::string Start();
    // Removes the socket file this run created. Idempotent.
    void Cleanup();

    void AddFds(PollSet& set) override;
    // Lets go of clients that are done and have nothing left to send.
    void AfterRound() override;

private:
    struct Client
    {
        int fd = -1;
        std::string in;
        std::string out;
        bool closing = false;
    };
    void OnAccept();
    void OnReadable(Client& c);

    std::string m_path;
    Handler m_handler;
    std::vector<std::unique_ptr<Client>> m_clients;
    int m_controlFd = -1;
    bool m_controlCreated = false;
};

} // namespace printersim
