// The behaviours of the stand-in admission service, chosen by arguments of its registered
// command line (and, as well, by the arguments of a start request):
//   --start-delay=MS     report the running state only after MS
//   --never-running      stay in the start-pending state until stopped or killed
//   --trouble            report status 3 (trouble) instead of 1 (running)
//   --silent             send no datagrams at all
//   --ignore-stop        ignore every stop request: the service control manager's, the stop
//                        event and status-change command 103
//   --exit-abruptly=MS   end the process MS after the service started, reporting nothing
//   --report-period=MS   period of the status datagram (default 1000)
//   --data-dir=DIR       where userconfig.ini is read (default: the common application-data
//                        folder followed by \Corvane\)
//   --tag=TEXT           start every log line with "TEXT: ", so that a test can tell its
//                        service from others sending on the same host
// Unknown arguments are ignored, so that a test may tag a registration with its own marks.
#pragma once

#include <string>
#include <vector>

struct StandinOptions {
    unsigned long startDelayMs = 0;
    bool neverRunning = false;
    bool trouble = false;
    bool silent = false;
    bool ignoreStop = false;
    bool exitAbruptly = false;
    unsigned long exitAbruptlyMs = 0;
    unsigned long reportPeriodMs = 1000;
    std::wstring dataDir;
    std::wstring tag;
};

// Applies `arguments` on top of `options`; a later argument overrides an earlier one.
void ApplyStandinArguments(const std::vector<std::wstring>& arguments, StandinOptions& options);
