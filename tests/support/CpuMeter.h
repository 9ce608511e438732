#pragma once

// Tells a busy loop from an idle program: the process CPU time spent while the event loop runs.
class CpuMeter {
public:
    // Runs the event loop for about ms milliseconds and returns the process CPU time spent in
    // that while as a share of the time this thread could have run (0 idle, about 1 when it
    // spins). Time spent waiting for a CPU held by other processes is left out, so a busy loop
    // shows as busy on a loaded machine too.
    static double busyShare(int ms = 1000);
};
