#include "stopsignal.h"

#include <csignal>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void recordStop(int signal)
{
    if (stopSignal == 0)
        stopSignal = signal;
}

} // namespace

void StopSignal::install()
{
    struct sigaction action = {};
    action.sa_handler = recordStop;
    sigemptyset(&action.sa_mask);
    // Restarted: reads and writes in flight finish as if nothing happened.
    action.sa_flags = SA_RESTART;
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaction(signal, &action, nullptr);
}

int StopSignal::received()
{
    return stopSignal;
}
