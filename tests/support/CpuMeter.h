#pragma once

// Tells a busy loop from an idle program: the process CPU time spent while the event loop runs.
class CpuMeter {
public:
    // Runs the event loop for ms and returns the CPU time spent as a share of the time this
    // thread could have run (0 idle, about 1 spinning); waits for a CPU held by others are left
    // out, so a busy loop shows as busy on a loaded machine too.
    static double busyShare(int ms = 1000);
};
