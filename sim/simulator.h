// The simulated K614 at run time: the 20 ms device loop tying model, port, transmitter, log and control together.
#pragma once

#include <string>

#include "sim/waveform.h"

struct SimOptions {
    std::string linkPath;
    std::string logPath;
    std::string paramsPath;
    std::string unitText;     // empty: the stored set's text, else "MW"
    std::string waveShape = "sine";
    WaveSettings wave;
    bool paced = true;
    bool rateReport = false;  // print the measured rate every 10 s as well as at exit
    int controlPort = -1;     // -1: no control server
    std::string controlPortFile;
    unsigned seed = 614;
    bool exitWithParent = false; // stop (cleanly) when the starting process dies
    int parentPid = 0;
};

// Runs until quit, SIGINT or SIGTERM. Returns the process exit code
// (0, or 1 when start-up failed after the options were accepted).
int runSimulator(const SimOptions &options);
