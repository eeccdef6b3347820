#pragma once

// SIGINT, SIGTERM and SIGHUP turned into a request to stop, which a run
// looks at between two frames: the video in hand then keeps its partial
// counts and every earlier file stays as it was. The state is process-wide
// because signal dispositions are.
class StopSignal
{
public:
    StopSignal() = delete;

    // Catches the three signals from now on.
    static void install();
    // The signal that asked to stop, or 0.
    static int received();
    // The exit status of a run that stopped on `signal`, as a shell gives it.
    static int exitStatus(int signal) { return 128 + signal; }
};
