#pragma once
// Serial, USB and parallel printers: each on a pseudo-terminal published as a link in the
// device folder (USB ones with their IEEE 1284 ID file), with client opens and closes
// watched through inotify so that replies to nobody are lost as on a real line.
//
// Threading: single-threaded, like the loop.
#include "Transport.h"

namespace printersim
{

class PtyTransport : public Transport
{
public:
    PtyTransport(TransportHost& host, std::string deviceDir);
    ~PtyTransport() override;

    // Creates the device folder (and usb/) and the inotify descriptor; "" or an error.
    std::string Init();
    // Opens d's pty and, when d is powered, publishes it; "" or an error.
    std::string Start(Device& d);
    std::string Publish(Device& d);
    void Unpublish(Device& d);
    // Rewrites the USB identification file after the ID changed.
    std::string WriteSidecar(Device& d);
    // Removes every link and side file this run made.
    void Cleanup();

    // One part of an answer: sent if a client holds the device, else dropped.
    void WriteReplyPart(Device& d, const std::string& part, int index, int parts);
    // DC3 now and DC1 after the fault's time.
    void SendXoff(Device& d);

    void AddFds(PollSet& set) override;

private:
    void OnReadable(Device& d);
    void OnWritable(Device& d);
    void OnInotify();

    TransportHost& m_host;
    EventLog& m_log;
    std::string m_deviceDir;
    std::vector<Device*> m_devices;
    int m_inotifyFd = -1;
};

} // namespace printersim
